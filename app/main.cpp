// Program entry: the application's name and fonts, automation for the main thread, the main
// window, the message loop.

#include "app/Application.h"
#include "app/UMainForm.h"

#include "desktop/Automation.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    SetUpApplication();

    // Started before the window and ended after it, only if the start succeeded.
    const automation::AutomationSession automationSession;

    TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
