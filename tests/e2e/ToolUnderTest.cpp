#include "ToolUnderTest.h"

#include "dialogs/UMsg.h"
#include "serial/platform/Port.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

ToolUnderTest::ToolUnderTest(nmct::modsim::Options options)
    : simulator(std::make_unique<nmct::modsim::ModuleSimulator>(std::move(options)))
{
    const std::string slave = simulator->SlavePath();
    port::SetDeviceResolver([slave](const std::string &name) {
        return name == "COM5" ? slave : "/nonexistent/" + name;
    });
    TfrmMsg::SetShownHook([this](TfrmMsg &dialog) {
        messages << dialog.lblMsg->text();
        dialog.Button1->click();
    });
    SetErrorBoxHook([this](const QString &text) { errors << text; });

    frmMain = std::make_unique<TfrmMain>();
    frmMain->show();
    frmMain->activateWindow();
    QApplication::setActiveWindow(frmMain.get());
    QVERIFY(QTest::qWaitForWindowActive(frmMain.get()));
}

ToolUnderTest::~ToolUnderTest()
{
    frmMain.reset();
    SetErrorBoxHook(nullptr);
    TfrmMsg::SetShownHook(nullptr);
    port::SetDeviceResolver(nullptr);
}

void ToolUnderTest::ClickOpen()
{
    frmMain->cbxComm->setCurrentIndex(SimulatedPortIndex);
    Click(frmMain->btnOpen);
}

void ToolUnderTest::Click(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

void ToolUnderTest::CloseWindow()
{
    frmMain.reset();
}
