#include <QApplication>

int RunMessageDialogTests(int argc, char **argv);

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    return RunMessageDialogTests(argc, argv);
}
