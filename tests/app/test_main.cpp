#include "app/Application.h"

#include "desktop/Automation.h"

#include <QApplication>

int RunWindowLayoutTests(int argc, char **argv);
int RunWindowParamsTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SetUpApplication(); // as the program entry does
    const automation::AutomationSession session;

    const int layoutFailures = RunWindowLayoutTests(argc, argv);
    return layoutFailures + RunWindowParamsTests(argc, argv);
}
