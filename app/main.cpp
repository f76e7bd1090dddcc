// Program entry: the application title, the window fonts, automation for the main thread, the
// main window, the message loop.

#include "UMainForm.h"
#include "WindowFonts.h"

#include "desktop/Automation.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // The name shown for the program; the main window's own title stays empty.
    QApplication::setApplicationDisplayName(QStringLiteral("Network Module Communication Tools"));
    InstallWindowFonts();

    // Started before the window and ended after it, only if the start succeeded.
    const automation::AutomationSession automationSession;

    TfrmMain frmMain;
    frmMain.show();
    return QApplication::exec();
}
