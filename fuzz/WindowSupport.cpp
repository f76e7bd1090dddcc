#include "fuzz/WindowSupport.h"

#include "widgets/ErrorBox.h"

#include <QApplication>

namespace fuzz {
namespace {

ErrorBoxes &Boxes()
{
    static ErrorBoxes boxes;
    return boxes;
}

// The application and the window live as long as the process: libFuzzer ends the process
// with exit(), and Qt objects torn down among the other static destructors could fail there.
QApplication &Application()
{
    static QApplication *application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "nmct-fuzz";
        static char *argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

} // namespace

TfrmMain &Window()
{
    static TfrmMain *window = [] {
        Application();
        SetErrorBoxHook([](const QString &text) {
            ++Boxes().count;
            Boxes().lastText = text;
        });
        auto *made = new TfrmMain;
        made->show();
        QApplication::processEvents();
        return made;
    }();
    return *window;
}

const ErrorBoxes &ShownErrorBoxes()
{
    return Boxes();
}

void ClearErrorBoxes()
{
    Boxes() = {};
}

} // namespace fuzz
