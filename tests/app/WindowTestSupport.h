#pragma once
// Shared by the window tests: a shown, active main window and a way to reach its controls.

#include "app/UMainForm.h"
#include "tests/support/Controls.h"

#include <QApplication>
#include <QTest>

#include <memory>

inline std::unique_ptr<TfrmMain> MakeShownWindow()
{
    auto window = std::make_unique<TfrmMain>();
    window->show();
    QApplication::setActiveWindow(window.get());
    if (!QTest::qWaitForWindowActive(window.get()))
        qWarning("the main window did not become active");
    return window;
}

// The focused control; an editable selector's inner edit counts as the selector.
inline QWidget *FocusedControl()
{
    QWidget *focus = QApplication::focusWidget();
    while (focus && focus->focusProxy())
        focus = focus->focusProxy();
    return focus;
}

inline void PressTab(Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
}
