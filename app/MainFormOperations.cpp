// The operations that talk to the module: OPEN/CLOSE, and READ, SET, DEFAULT and "Set Vol ".
// Each is a step of the module session plus what the window shows; the session runs the
// connection's life (the presence watch, a CLOSE or window close during an operation) and says
// when the connection's look changes.
//
// Every exchange keeps processing Qt events while it waits, so clicks and timer ticks arrive in
// the middle of an operation: the parameter operations look at the session's Busy flag first.

#include "app/UMainForm.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <stdexcept>

#include "app/FormColors.h"
#include "session/Latin1.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"
#include "widgets/CircleShape.h"
#include "widgets/ErrorBox.h"
#include "widgets/FormControls.h"
#include "widgets/Selectors.h"

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

const QString TfrmMain::SetSucceeded = QStringLiteral("Successfully set!");
const QString TfrmMain::DefaultSucceeded = QStringLiteral("Default parameters successfully!");
const QString TfrmMain::VolumeSucceeded = QStringLiteral("Volume successfully set!");
const QString TfrmMain::OperationFailed = QStringLiteral("Operation failed!");

// ---- Port connection and device presence -------------------------------------------------

void TfrmMain::ConnectSession()
{
    connect(session.get(), &ModuleSession::ViewChanged, this, &TfrmMain::ShowConnection);
    // A CLOSE clicked during an operation, as if clicked again once it has ended.
    ConnectGuarded(session.get(), &ModuleSession::CloseDue, this, &TfrmMain::btnOpenClick);
    connect(session.get(), &ModuleSession::QuitDue, qApp, &QCoreApplication::quit);
}

void TfrmMain::btnOpenClick()
{
    const ModuleSession::Operation operation(*session);
    ButtonDisabledDuring whileOpening(btnOpen);
    if (!session->PortIsOpen())
        Panel6->setToolTip(QString());
    const std::string portName = "COM" + std::to_string(cbxComm->currentIndex() + 1);
    switch (session->OpenOrCloseClicked(portName)) {
    case ModuleSession::Click::OpenFailed:
        ShowOpenFailure(session->OpenFailure());
        break;
    case ModuleSession::Click::NotFound:
        recordShown = false; // a new connection: what is shown came from elsewhere
        break;
    case ModuleSession::Click::Found:
        recordShown = false;
        btnReadClick();
        break;
    case ModuleSession::Click::ClosedAfterFound:
        LoadDefaults();
        break;
    case ModuleSession::Click::Busy:
    case ModuleSession::Click::CloseLater:
    case ModuleSession::Click::Closed:
    case ModuleSession::Click::WindowClosed:
        break;
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

void TfrmMain::ShowConnection()
{
    const ConnectionView view = session->View();
    cbxComm->setEnabled(!view.portOpen);
    shpLight->SetBrushColor(view.portOpen ? FormColor::Green : FormColor::Grey);
    btnOpen->setText(view.portOpen ? QStringLiteral("CLOSE") : QStringLiteral("OPEN"));
    EdtModel->setText(Latin1Text(view.identity.model));
    EdtVer->setText(Latin1Text(view.identity.version));
    EnableEditing(view.editing);
    ShowStatus(view.deviceFound ? QStringLiteral("Device Found!")
                                : QStringLiteral("Device Not Found!"));
}

void TfrmMain::closeEvent(QCloseEvent *event)
{
    // The operation ends within its reply wait and shows nothing more; a message it shows now
    // goes with the window. The program ends once the operation has unwound.
    if (session->WindowClosed()) {
        for (QDialog *dialog : findChildren<QDialog *>())
            if (dialog->isVisible())
                dialog->reject();
    }
    QWidget::closeEvent(event);
}

bool TfrmMain::TakeOverCloseRequest()
{
    // Outside an operation Qt's own handling is right: no message of an operation is up.
    if (!session->OperationRunning())
        return false;
    close();
    return true;
}

// ---- Parameter operations ----------------------------------------------------------------

void TfrmMain::RunParameterOperation(QPushButton *button, const std::function<void()> &body)
{
    const ModuleSession::Operation operation(*session);
    if (session->Busy())
        return;
    ButtonDisabledDuring whileRunning(button);
    body();
}

bool TfrmMain::ShowOutcome(StepResult result, const QString &succeeded)
{
    ShowInfo(result == StepResult::Ok ? succeeded : OperationFailed);
    return result == StepResult::Ok;
}

void TfrmMain::btnReadClick()
{
    RunParameterOperation(btnRead, [this] {
        const ReadResult read = session->Read();
        if (read.result != StepResult::Ok) {
            ShowFailed();
            return;
        }
        // A short reply leaves zero bytes behind it, so it fails at the tone code conversion
        // instead of showing stale values.
        ShowParams(read.record);
    });
}

void TfrmMain::btnSetClick()
{
    RunParameterOperation(btnSet, [this] {
        // The start-up values, or a record shown only in part, are no module's settings.
        if (!recordShown)
            throw std::runtime_error("Nothing has been read from the module yet: press READ, or "
                                     "load a parameter file, before SET; nothing was sent");
        ShowOutcome(session->Set(SetValuesFromSettings(ShownSettings())), SetSucceeded);
    });
}

void TfrmMain::btnDefaultClick()
{
    RunParameterOperation(btnDefault, [this] {
        // Read the factory values back once the user has closed the message.
        if (ShowOutcome(session->RestoreDefaults(), DefaultSucceeded) && !session->Closing())
            btnReadClick();
    });
}

void TfrmMain::VolSetClick()
{
    RunParameterOperation(VolSet, [this] {
        ShowOutcome(session->SetVolume(Latin1Bytes(CbxVol->currentText())), VolumeSucceeded);
    });
}

void TfrmMain::ShowFailed()
{
    ShowInfo(OperationFailed);
}
