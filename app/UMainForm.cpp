#include "app/UMainForm.h"

#include "app/CloseRequests.h"

#include "widgets/FormControls.h"

#include "desktop/HelpDocument.h"
#include "desktop/WebLink.h"
#include "dialogs/UMsg.h"
#include "session/ModuleSession.h"
#include "widgets/ErrorBox.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

// The pictures live in a static library, so their resource is registered by hand.
static void InitFormResources()
{
    Q_INIT_RESOURCE(images);
}

TfrmMain::TfrmMain(QWidget *parent) : QWidget(parent)
{
    InitFormResources();
    BuildWindow();
    ConnectHandlers();
    BuildFileActions();
    RouteDropsToWindow();
    CentreOnScreen();
    KeepTitleBarEmpty();
    FormCreate();
    closeRequests =
        std::make_unique<CloseRequests>(*this, [this] { return TakeOverCloseRequest(); });
}

TfrmMain::~TfrmMain()
{
    closeRequests.reset();
    FormDestroy();
}

void TfrmMain::FormCreate()
{
    session = std::make_unique<ModuleSession>(this);
    session->SetOnHandlerError([](const std::exception &error) { ShowErrorBox(error.what()); });
    ConnectSession();
    LoadDefaults();
    EnableEditing(false);
}

void TfrmMain::FormDestroy()
{
    session.reset();
}

TfrmMain::Status TfrmMain::State() const
{
    return {session->View().deviceFound, session->Busy(), session->PortIsOpen()};
}

void TfrmMain::EnableGroup(QWidget *control, bool state)
{
    control->setEnabled(state);
    for (QWidget *child : control->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->setEnabled(state);
}

void TfrmMain::EnableEditing(bool state)
{
    const std::array<QWidget *, 7> groups{p1, p2, p3, P4, btnSet, btnRead, btnDefault};
    for (QWidget *group : groups)
        EnableGroup(group, state);
}

void TfrmMain::ShowStatus(const QString &text)
{
    lblStatus->setText(text);
    lblStatus->adjustSize();
}

void TfrmMain::ShowInfo(const QString &text)
{
    if (session->Closing()) // the window is gone; its operation is ending
        return;
    ShowMessageDialog(this, text);
}

// The boxes of a pair act as a two-way switch. Qt raises toggled only on a real change, so the
// partner's handler finds its own partner already right and the chain ends there.
namespace {
void SwitchPartner(const QCheckBox *own, QCheckBox *partner)
{
    partner->setChecked(!own->isChecked());
}
} // namespace

void TfrmMain::CheckBox1Click()
{
    SwitchPartner(CheckBox1, CheckBox2);
}

void TfrmMain::CheckBox2Click()
{
    SwitchPartner(CheckBox2, CheckBox1);
}

void TfrmMain::CheckBox3Click()
{
    SwitchPartner(CheckBox3, CheckBox4);
}

void TfrmMain::CheckBox4Click()
{
    SwitchPartner(CheckBox4, CheckBox3);
}

void TfrmMain::Label14Click()
{
    OpenWebPage(Label14->text().toStdString());
}

void TfrmMain::Label23Click()
{
    OpenWebPage(Label23->text().toStdString());
}

void TfrmMain::btnHelpClick()
{
    OpenHelpDocument();
}
