#pragma once

#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QString>
#include <QTest>

// Types a script into `widget` with real key events: plain characters as they stand, named keys
// in angle brackets ("<Del>", "<S-Left>", "<Paste>"), so table rows read like what a user types.
// "<Menu>" opens a popup menu and closes it; "<Window>" activates another window and comes back.
inline void TypeScript(QWidget *widget, const QString &script)
{
    struct Named
    {
        const char *name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
    };
    static const Named namedKeys[] = {
        {"Del", Qt::Key_Delete, {}},
        {"BS", Qt::Key_Backspace, {}},
        {"Left", Qt::Key_Left, {}},
        {"Right", Qt::Key_Right, {}},
        {"S-Left", Qt::Key_Left, Qt::ShiftModifier},
        {"S-Right", Qt::Key_Right, Qt::ShiftModifier},
        {"Home", Qt::Key_Home, {}},
        {"End", Qt::Key_End, {}},
        {"S-Home", Qt::Key_Home, Qt::ShiftModifier},
        {"S-End", Qt::Key_End, Qt::ShiftModifier},
        {"Up", Qt::Key_Up, {}},
        {"Down", Qt::Key_Down, {}},
        {"Esc", Qt::Key_Escape, {}},
        {"Enter", Qt::Key_Return, {}},
        {"Tab", Qt::Key_Tab, {}},
    };
    static const std::pair<const char *, QKeySequence::StandardKey> sequences[] = {
        {"Cut", QKeySequence::Cut},
        {"Copy", QKeySequence::Copy},
        {"Paste", QKeySequence::Paste},
        {"All", QKeySequence::SelectAll},
    };
    for (qsizetype i = 0; i < script.size(); ++i) {
        if (script[i] != u'<') {
            QTest::keyClick(widget, script[i].toLatin1());
            continue;
        }
        const qsizetype close = script.indexOf(u'>', i);
        QVERIFY2(close > i, "unterminated key name");
        const QString name = script.mid(i + 1, close - i - 1);
        i = close;
        bool found = false;
        if (name == QLatin1String("Menu")) {
            QMenu menu;
            menu.addAction(QStringLiteral("Copy"));
            menu.popup(widget->mapToGlobal(QPoint(0, 0)));
            QVERIFY(QTest::qWaitForWindowExposed(&menu));
            menu.close();
            found = true;
        } else if (name == QLatin1String("Window")) {
            QWidget other;
            other.show();
            QApplication::setActiveWindow(&other);
            QVERIFY(QTest::qWaitForWindowActive(&other));
            QApplication::setActiveWindow(widget->window());
            QVERIFY(QTest::qWaitForWindowActive(widget->window()));
            found = true;
        }
        for (const Named &named : namedKeys) {
            if (name == QLatin1String(named.name)) {
                QTest::keyClick(widget, named.key, named.modifiers);
                found = true;
            }
        }
        for (const auto &[sequenceName, sequence] : sequences) {
            if (name == QLatin1String(sequenceName)) {
                QTest::keySequence(widget, sequence);
                found = true;
            }
        }
        QVERIFY2(found, qPrintable(QStringLiteral("unknown key name ") + name));
    }
}
