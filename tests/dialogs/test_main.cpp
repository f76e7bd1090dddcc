#include "dialogs/Automation.h"

#include <QApplication>

int RunMessageDialogTests(int argc, char **argv);
int RunWebLinkTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // As the program entry: the automation layer is up for the main thread throughout.
    const automation::AutomationSession session;
    const int dialogFailures = RunMessageDialogTests(argc, argv);
    return dialogFailures + RunWebLinkTests(argc, argv);
}
