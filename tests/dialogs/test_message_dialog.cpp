#include "dialogs/UMsg.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

// Pixels where navy text is drawn over the light window background.
bool IsInk(QRgb pixel)
{
    return qRed(pixel) < 200 && qBlue(pixel) - qRed(pixel) > 20;
}

struct Ink
{
    QList<bool> rows;
    QRect box; // bounding box of all ink

    int lines() const // runs of inked rows
    {
        int count = 0;
        for (qsizetype y = 0; y < rows.size(); ++y)
            count += rows[y] && (y == 0 || !rows[y - 1]);
        return count;
    }
};

Ink InkOf(QWidget &widget)
{
    const QImage image = widget.grab().toImage();
    Ink ink{QList<bool>(image.height(), false), {}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (IsInk(image.pixel(x, y))) {
                ink.rows[y] = true;
                ink.box |= QRect(x, y, 1, 1);
            }
    return ink;
}

// Runs ShowMessageDialog with a hook that answers the dialog, which closes it; after a failed
// check the dialog is closed here, so that the test cannot hang.
void ShowAndAnswer(QWidget *owner, const QString &text,
                   const std::function<void(TfrmMsg &)> &answer)
{
    TfrmMsg::SetShownHook([&answer](TfrmMsg &dialog) {
        const auto closeAnyway = qScopeGuard([&dialog] {
            if (QTest::currentTestFailed() && dialog.isVisible())
                dialog.done(-1);
        });
        QTRY_VERIFY(dialog.isActiveWindow());
        answer(dialog);
    });
    const auto unhook = qScopeGuard([] { TfrmMsg::SetShownHook(nullptr); });
    ShowMessageDialog(owner, text);
}

} // namespace

class TestMessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        owner.setGeometry(100, 80, 400, 300);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
    }

    void formAsDesigned()
    {
        TfrmMsg dialog(&owner);
        QCOMPARE(dialog.objectName(), QStringLiteral("frmMsg"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("frmMsg"));
        QCOMPARE(dialog.minimumSize(), QSize(362, 142));
        QCOMPARE(dialog.maximumSize(), QSize(362, 142));
        QVERIFY(!(dialog.windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(dialog.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(dialog.font().pixelSize(), 16);
        QCOMPARE(dialog.lblMsg->geometry(), QRect(27, 16, 302, 65));
        QCOMPARE(dialog.lblMsg->font().pixelSize(), 19);
        QCOMPARE(dialog.lblMsg->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QCOMPARE(dialog.Button1->geometry(), QRect(128, 104, 75, 25));
        QCOMPARE(dialog.Button1->text(), QStringLiteral("OK"));
        for (const QWidget *child : dialog.findChildren<QWidget *>())
            QCOMPARE(child->focusPolicy() != Qt::NoFocus, child == dialog.Button1);
    }

    void showsTextUnderFixedTitle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("success") << "Successfully set!";
        QTest::newRow("failure") << "Operation failed!";
        QTest::newRow("empty") << "";
        QTest::newRow("markup stays text") << "<b>Device</b> &amp; port";
    }
    void showsTextUnderFixedTitle()
    {
        QFETCH(QString, text);
        ShowAndAnswer(&owner, text, [&](TfrmMsg &dialog) {
            QCOMPARE(dialog.windowTitle(), QStringLiteral("PC_VELKA6"));
            QCOMPARE(dialog.lblMsg->text(), text);
            QCOMPARE(dialog.lblMsg->textFormat(), Qt::PlainText);
            QCOMPARE(QApplication::focusWidget(), dialog.Button1);
            dialog.Button1->click();
        });
        QVERIFY(owner.findChildren<TfrmMsg *>().isEmpty());
    }

    void closedByOkAndCloseBoxOnly_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("closes");
        QTest::newRow("mouse on OK") << "click" << true;
        QTest::newRow("Return") << "Return" << true;
        QTest::newRow("Enter") << "Enter" << true;
        QTest::newRow("Space") << "Space" << true;
        QTest::newRow("close box") << "close box" << true;
        QTest::newRow("Esc") << "Esc" << false;
    }
    void closedByOkAndCloseBoxOnly()
    {
        QFETCH(QString, action);
        QFETCH(bool, closes);
        bool closedByAction = false;
        ShowAndAnswer(&owner, QStringLiteral("Default parameters successfully!"),
                      [&](TfrmMsg &dialog) {
                          QWidget *focus = QApplication::focusWidget();
                          QCOMPARE(focus, dialog.Button1);
                          if (action == "click")
                              QTest::mouseClick(dialog.Button1, Qt::LeftButton);
                          else if (action == "Return")
                              QTest::keyClick(focus, Qt::Key_Return);
                          else if (action == "Enter")
                              QTest::keyClick(focus, Qt::Key_Enter, Qt::KeypadModifier);
                          else if (action == "Space")
                              QTest::keyClick(focus, Qt::Key_Space);
                          else if (action == "close box")
                              dialog.windowHandle()->close();
                          else
                              QTest::keyClick(focus, Qt::Key_Escape);
                          QTest::qWait(50);
                          closedByAction = !dialog.isVisible();
                          if (!closedByAction)
                              dialog.Button1->click();
                      });
        QCOMPARE(closedByAction, closes);
    }

    void longTextWrapsCentredInFixedArea_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lines"); // 0: more than the label holds
        QTest::newRow("one line") << "Successfully set!" << 1;
        QTest::newRow("two lines") << "The volume of the module has been set successfully" << 2;
        QTest::newRow("too long") << QStringLiteral("word ").repeated(60).trimmed() << 0;
    }
    void longTextWrapsCentredInFixedArea()
    {
        QFETCH(QString, text);
        QFETCH(int, lines);
        // The whole text, centred in a label tall enough to hold it: the dialog must show the
        // middle 65 rows of it, cut off at the top and the bottom alike.
        TfrmMsg reference(nullptr);
        reference.lblMsg->setText(text);
        reference.lblMsg->setFixedSize(302, 465);
        const Ink whole = InkOf(*reference.lblMsg);
        if (lines > 0)
            QCOMPARE(whole.lines(), lines);
        else
            QVERIFY(whole.box.height() > 65);

        ShowAndAnswer(&owner, text, [&](TfrmMsg &dialog) {
            QCOMPARE(dialog.size(), QSize(362, 142));
            QCOMPARE(dialog.lblMsg->geometry(), QRect(27, 16, 302, 65));
            const Ink shown = InkOf(*dialog.lblMsg);
            // Half a pixel of overflow may round either way.
            QVERIFY(shown.rows == whole.rows.mid(199, 65) ||
                    shown.rows == whole.rows.mid(200, 65) || shown.rows == whole.rows.mid(201, 65));
            QVERIFY(qAbs(shown.box.left() - (301 - shown.box.right())) <= 2);
            dialog.Button1->click();
        });
    }

    void centredOverOwner_data()
    {
        QTest::addColumn<QRect>("ownerGeometry");
        QTest::addColumn<QPoint>("dialogPosition");
        QTest::newRow("top left") << QRect(0, 0, 400, 300) << QPoint(19, 79);
        QTest::newRow("middle") << QRect(200, 150, 400, 300) << QPoint(219, 229);
        QTest::newRow("small owner") << QRect(500, 20, 200, 100) << QPoint(419, 2);
        QTest::newRow("past the right edge") << QRect(437, 351, 400, 300) << QPoint(436, 430);
        QTest::newRow("past the bottom edge") << QRect(200, 700, 400, 300) << QPoint(219, 656);
    }
    void centredOverOwner()
    {
        QFETCH(QRect, ownerGeometry);
        QFETCH(QPoint, dialogPosition);
        QCOMPARE(owner.screen()->availableGeometry(), QRect(0, 0, 800, 800));
        owner.setGeometry(ownerGeometry);
        QTRY_COMPARE(owner.geometry(), ownerGeometry);
        ShowAndAnswer(&owner, QStringLiteral("Operation failed!"), [&](TfrmMsg &dialog) {
            QCOMPARE(dialog.geometry().topLeft(), dialogPosition);
            dialog.Button1->click();
        });
    }

    void ownerGoesOnWhileOpen()
    {
        int ticks = 0;
        QTimer presence;
        connect(&presence, &QTimer::timeout, [&ticks] { ++ticks; });
        presence.start(10);
        QPushButton ownerButton(QStringLiteral("READ"), &owner);
        ownerButton.setGeometry(10, 10, 80, 25);
        ownerButton.show();
        int ownerClicks = 0;
        connect(&ownerButton, &QPushButton::clicked, [&ownerClicks] { ++ownerClicks; });

        int ticksWhileOpen = 0;
        bool notifiedWhileOpen = false;
        ShowAndAnswer(&owner, QStringLiteral("Successfully set!"), [&](TfrmMsg &dialog) {
            // Another thread posts to the main thread, as the serial reader does.
            std::thread([&] {
                QMetaObject::invokeMethod(
                    &dialog, [&] { notifiedWhileOpen = dialog.isVisible(); }, Qt::QueuedConnection);
            }).join();
            // Through the window system, where modality applies.
            QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 22));
            const int ticksAtOpen = ticks;
            QTimer::singleShot(300, &dialog, [&, ticksAtOpen] {
                ticksWhileOpen = ticks - ticksAtOpen;
                dialog.Button1->click();
            });
        });
        QVERIFY2(ticksWhileOpen >= 5, qPrintable(QString::number(ticksWhileOpen)));
        QVERIFY(notifiedWhileOpen);
        QCOMPARE(ownerClicks, 0);
        QTest::mouseClick(owner.windowHandle(), Qt::LeftButton, {}, QPoint(50, 22));
        QCOMPARE(ownerClicks, 1);
    }

    void destroyedOnEveryWayOut()
    {
        QPointer<TfrmMsg> shown;
        ShowAndAnswer(&owner, QStringLiteral("first"), [&](TfrmMsg &dialog) {
            shown = &dialog;
            dialog.Button1->click();
        });
        QVERIFY(shown.isNull());

        bool threw = false;
        try {
            ShowAndAnswer(&owner, QStringLiteral("second"), [&](TfrmMsg &dialog) {
                shown = &dialog;
                throw std::runtime_error("raised while open");
            });
        } catch (const std::runtime_error &error) {
            threw = QByteArray(error.what()) == "raised while open";
            QVERIFY(shown.isNull());
        }
        QVERIFY(threw);
        QVERIFY(owner.findChildren<TfrmMsg *>().isEmpty());
    }

private:
    QWidget owner;
};

int RunMessageDialogTests(int argc, char **argv)
{
    TestMessageDialog tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "test_message_dialog.moc"
