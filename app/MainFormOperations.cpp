// The operations that talk to the module: OPEN/CLOSE with the presence watch, and READ, SET,
// DEFAULT and "Set Vol ". Each is a step of the module session plus what the window shows.
//
// Every exchange keeps processing Qt events while it waits, so clicks and timer ticks arrive in
// the middle of an operation. The parameter operations and the timer therefore look at the
// session's Busy flag first. A CLOSE or a window close that arrives during
// an operation waits for it to end: carried out at once, the operation's outcome would show
// over the idle window.

#include "app/UMainForm.h"

#include "app/FormColors.h"
#include "widgets/FormControls.h"

#include "session/Latin1.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <stdexcept>

namespace {

// Disables a button for the length of a scope and enables it again on every way out, errors
// included. A button that has the keyboard keeps it: Qt would hand the focus of a disabled
// button to the next in the tab chain, often another operation, which the next Space would
// start. The window holds the focus meanwhile, and the button takes it back unless the user has
// put it elsewhere.
class ButtonDisabledDuring
{
public:
    explicit ButtonDisabledDuring(QPushButton *button)
        : button(button), hadFocus(button->window()->focusWidget() == button)
    {
        if (hadFocus)
            button->window()->setFocus(Qt::OtherFocusReason);
        button->setEnabled(false);
    }
    ~ButtonDisabledDuring()
    {
        button->setEnabled(true);
        const QWidget *focus = button->window()->focusWidget();
        if (hadFocus && (focus == nullptr || focus == button->window()))
            button->setFocus(Qt::OtherFocusReason);
    }
    ButtonDisabledDuring(const ButtonDisabledDuring &) = delete;
    ButtonDisabledDuring &operator=(const ButtonDisabledDuring &) = delete;

private:
    QPushButton *button;
    bool hadFocus;
};

} // namespace

class TfrmMain::OperationScope
{
public:
    explicit OperationScope(TfrmMain &window) : window(window)
    {
        window.session->Connection().OperationBegins();
    }
    ~OperationScope()
    {
        // From the event loop: the operation's callers unwind first.
        switch (window.session->Connection().OperationEnds()) {
        case ConnectionState::AfterOperation::Nothing:
            break;
        case ConnectionState::AfterOperation::Quit:
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            break;
        case ConnectionState::AfterOperation::CarryOutClose:
            QTimer::singleShot(0, &window, [target = &window] {
                RunGuarded([target] { target->CarryOutPendingClose(); });
            });
            break;
        }
    }
    OperationScope(const OperationScope &) = delete;
    OperationScope &operator=(const OperationScope &) = delete;

private:
    TfrmMain &window;
};

const QString TfrmMain::SetSucceeded = QStringLiteral("Successfully set!");
const QString TfrmMain::DefaultSucceeded = QStringLiteral("Default parameters successfully!");
const QString TfrmMain::VolumeSucceeded = QStringLiteral("Volume successfully set!");
const QString TfrmMain::OperationFailed = QStringLiteral("Operation failed!");

// ---- Port connection and device presence -------------------------------------------------

void TfrmMain::btnOpenClick()
{
    const OperationScope operation(*this);
    ButtonDisabledDuring whileOpening(btnOpen);
    ConnectionState &connection = session->Connection();
    if (connection.PortOpened()) {
        const ConnectionState::Close close = connection.CloseClicked(session->Busy());
        if (close == ConnectionState::Close::Later)
            return;
        DisconnectPort();
        EnableEditing(false);
        if (close == ConnectionState::Close::NowAndLose) {
            Timer1->stop(); // OPEN starts it afresh
            // The port is closed by now: this waits out the link's full time and ends in
            // "Device Not Found!".
            DetectDevice();
            LoadDefaults();
        }
        return;
    }

    if (session->PortIsOpen())
        DisconnectPort();
    Panel6->setToolTip(QString());
    const std::string portName = "COM" + std::to_string(cbxComm->currentIndex() + 1);
    const OpenResult open = session->Open(portName, [this] {
        recordShown = false; // a new connection: what is shown came from elsewhere
        ShowPortOpen(true);
    });
    if (open.result == StepResult::Busy)
        return;
    if (open.result == StepResult::NoPort) {
        SetNotFound();
        ShowOpenFailure(open.failure);
        return;
    }
    ShowIdentity(open);
    if (connection.Closing())
        return;
    if (connection.DeviceFound()) {
        // Watched before the READ, so a READ that fails leaves the module watched all the same;
        // ticks during the READ find the link busy and return.
        Timer1->start();
        btnReadClick();
    } else {
        SetNotFound();
    }
}

void TfrmMain::ShowOpenFailure(const port::OpenFailure &failure)
{
    // Where a user finds it without a new control: the status line's tooltip, and the terminal.
    const QString advice = QString::fromStdString(
        OpenFailureAdvice(cbxComm->currentText().toStdString(), failure, PresentSerialAdapters()));
    Panel6->setToolTip(advice);
    std::fprintf(stderr, "%s\n", advice.toLocal8Bit().constData());
}

bool TfrmMain::DetectDevice()
{
    const IdentifyResult found = session->Identify();
    ShowIdentity(found);
    return found.lost;
}

void TfrmMain::ShowIdentity(const IdentifyResult &found)
{
    if (found.result != StepResult::Ok) {
        SetNotFound();
        return;
    }
    EdtModel->setText(Latin1Text(found.identity.model));
    EdtVer->setText(Latin1Text(found.identity.version));
    EnableEditing(true);
    ShowStatus(QStringLiteral("Device Found!"));
}

void TfrmMain::ShowPortOpen(bool open)
{
    cbxComm->setEnabled(!open);
    shpLight->SetBrushColor(open ? FormColor::Green : FormColor::Grey);
    btnOpen->setText(open ? QStringLiteral("CLOSE") : QStringLiteral("OPEN"));
}

void TfrmMain::DisconnectPort()
{
    if (session->Busy())
        return;
    session->Close();
    ShowPortOpen(false);
}

void TfrmMain::CarryOutPendingClose()
{
    // The watch may have closed the port meanwhile.
    if (session->Connection().TakePendingClose())
        btnOpenClick();
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // The operation ends within its reply wait and shows nothing more; a message it shows now
    // goes with the window. The program ends once the operation has unwound.
    if (session->Connection().WindowClosed()) {
        Timer1->stop();
        for (QDialog *dialog : findChildren<QDialog *>())
            if (dialog->isVisible())
                dialog->reject();
    }
    QWidget::closeEvent(event);
}

bool TfrmMain::TakeOverCloseRequest()
{
    // Outside an operation Qt's own handling is right: no message of an operation is up.
    if (!session->Connection().OperationRunning())
        return false;
    close();
    return true;
}

void TfrmMain::Timer1Timer()
{
    const OperationScope operation(*this);
    if (!ConnectionState::TickIdentifies(session->PortIsOpen(), session->Busy()))
        return;
    // The timer goes on running; its later ticks end above while the port is closed.
    if (DetectDevice())
        DisconnectPort();
}

// ---- Parameter operations ----------------------------------------------------------------

void TfrmMain::btnReadClick()
{
    const OperationScope operation(*this);
    if (session->Busy())
        return;
    ButtonDisabledDuring whileReading(btnRead);
    const ReadResult read = session->Read();
    if (read.result != StepResult::Ok) {
        ShowFailed();
        return;
    }
    // A short reply leaves zero bytes behind it, so it fails at the tone code conversion
    // instead of showing stale values.
    ShowParams(read.record);
}

void TfrmMain::btnSetClick()
{
    const OperationScope operation(*this);
    if (session->Busy())
        return;
    ButtonDisabledDuring whileSetting(btnSet);
    // The start-up values, or a record shown only in part, are no module's settings.
    if (!recordShown)
        throw std::runtime_error("Nothing has been read from the module yet: press READ, or load a "
                                 "parameter file, before SET; nothing was sent");
    if (session->Set(ShownSetValues()) == StepResult::Ok)
        ShowInfo(SetSucceeded);
    else
        ShowFailed();
}

void TfrmMain::btnDefaultClick()
{
    const OperationScope operation(*this);
    if (session->Busy())
        return;
    ButtonDisabledDuring whileRestoring(btnDefault);
    if (session->RestoreDefaults() != StepResult::Ok) {
        ShowFailed();
        return;
    }
    ShowInfo(DefaultSucceeded);
    // Read the factory values back once the user has closed the message.
    if (!session->Connection().Closing())
        btnReadClick();
}

void TfrmMain::VolSetClick()
{
    const OperationScope operation(*this);
    if (session->Busy())
        return;
    ButtonDisabledDuring whileSetting(VolSet);
    if (session->SetVolume(Latin1Bytes(CbxVol->currentText())) == StepResult::Ok)
        ShowInfo(VolumeSucceeded);
    else
        ShowFailed();
}

void TfrmMain::ShowFailed()
{
    ShowInfo(OperationFailed);
}
