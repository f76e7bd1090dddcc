// The window as a user sees it on an X server with a window manager (run by under-x.sh): the
// names the window manager reads from the X properties, the frame's place as the server has
// it, and faces and colours as the screen's pixels show them.

#include "app/Application.h"
#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "dialogs/UMsg.h"
#include "tests/support/Controls.h"
#include "widgets/Selectors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {

QString Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// A property of a window as the window manager reads it: its value as xprop prints it, or
// empty when the window does not have it.
QString XProperty(const QWidget &window, const char *name)
{
    const QString line =
        Run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                      QStringLiteral("-notype"), QString::fromLatin1(name)})
            .trimmed();
    const qsizetype equals = line.indexOf(QLatin1String(" = "));
    return equals < 0 ? QString() : line.mid(equals + 3);
}

// The client area's place on the screen, as the X server has it.
QRect ClientOnScreen(const QWidget &window)
{
    const QString info =
        Run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(window.winId())});
    auto number = [&info](const char *label) {
        const QRegularExpression pattern(QString::fromLatin1(label) +
                                         QStringLiteral(":\\s+(-?\\d+)"));
        return pattern.match(info).captured(1).toInt();
    };
    return {number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
            number("Height")};
}

// What the screen shows of a control.
QImage Shot(const QWidget &control)
{
    const QRect client = ClientOnScreen(*control.window());
    const QPoint at = client.topLeft() + control.mapTo(control.window(), QPoint(0, 0));
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, at.x(), at.y(), control.width(), control.height())
        .toImage();
}

// Pixels dark enough to be text on the window's light and blue backgrounds.
int Ink(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
    return count;
}

} // namespace

class TestScreen : public QObject
{
    Q_OBJECT

    std::unique_ptr<TfrmMain> window_;

    // Shows a message and runs `look` on it while it is up.
    void WithMessage(const std::function<void(TfrmMsg &)> &look)
    {
        TfrmMsg::SetShownHook([&look](TfrmMsg &dialog) {
            const auto closeAnyway = qScopeGuard([&dialog] { dialog.done(0); });
            QVERIFY(QTest::qWaitForWindowExposed(&dialog));
            QTest::qWait(200); // framed and drawn
            look(dialog);
        });
        const auto unhook = qScopeGuard([] { TfrmMsg::SetShownHook(nullptr); });
        ShowMessageDialog(window_.get(), QStringLiteral("Successfully set!"));
    }

private slots:
    void initTestCase()
    {
        window_ = std::make_unique<TfrmMain>();
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        QTest::qWait(1500); // framed by the window manager and placed by its frame
    }
    void cleanupTestCase() { window_.reset(); }

    void names_data()
    {
        QTest::addColumn<bool>("message");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("value");
        // The title bar: empty for the main window, only the caption for the message.
        QTest::newRow("main title") << false << "_NET_WM_NAME"
                                    << "\" \"";
        QTest::newRow("main old-style title") << false << "WM_NAME"
                                              << "\" \"";
        QTest::newRow("message title") << true << "_NET_WM_NAME"
                                       << "\"PC_VELKA6\"";
        QTest::newRow("message old-style title") << true << "WM_NAME"
                                                 << "\"PC_VELKA6\"";
        // Where the desktop finds the program's name: the class that ties the window to the
        // menu entry nmct.desktop, and the icon name.
        QTest::newRow("main class") << false << "WM_CLASS"
                                    << "\"nmct\"";
        QTest::newRow("main icon name") << false << "_NET_WM_ICON_NAME"
                                        << "\"Network Module Communication Tools\"";
    }
    void names()
    {
        QFETCH(bool, message);
        QFETCH(QString, property);
        QFETCH(QString, value);
        const QByteArray name = property.toLatin1();
        QString seen;
        if (message)
            WithMessage([&](TfrmMsg &dialog) { seen = XProperty(dialog, name.constData()); });
        else
            seen = XProperty(*window_, name.constData());
        // The class, not the instance: that is the name the program is started by.
        if (property == QLatin1String("WM_CLASS"))
            seen = seen.section(QStringLiteral(", "), 1);
        QCOMPARE(seen, value);
    }

    void boldLabels_data()
    {
        QTest::addColumn<QString>("label");
        QTest::newRow("Model") << "Label3";
        QTest::newRow("Version") << "Label5";
        QTest::newRow("Channel 1") << "lblTxChannel1";
        QTest::newRow("Channel 16") << "lblRxChannel16";
        QTest::newRow("MHz") << "lblTxMHz1";
    }
    void boldLabels()
    {
        QFETCH(QString, label);
        auto *shown = window_->findChild<QLabel *>(label);
        QVERIFY(shown);
        window_->EnableEditing(true); // as a module found shows them
        const auto disable = qScopeGuard([this] { window_->EnableEditing(false); });
        QTest::qWait(100);
        const int bold = Ink(Shot(*shown));
        // The same text in the window's regular face, in the same place.
        const QFont font = shown->font();
        const auto restore = qScopeGuard([&] { shown->setFont(font); });
        shown->setFont(WindowFont(Face::MsSansSerif, font.pixelSize()));
        shown->repaint();
        QTest::qWait(100);
        const int regular = Ink(Shot(*shown));
        QVERIFY2(regular > 0 && bold * 4 >= regular * 5,
                 qPrintable(QStringLiteral("ink: bold %1, regular %2").arg(bold).arg(regular)));
    }

    void oneBackgroundColour()
    {
        // A corner of each client area with nothing drawn on it.
        const QColor window = Shot(*window_).pixelColor(4, 4);
        QColor message;
        WithMessage([&](TfrmMsg &dialog) { message = Shot(dialog).pixelColor(4, 4); });
        QCOMPARE(message, window);
    }

    void flatYellowPortSelector()
    {
        PortComboBox *selector = Control<PortComboBox>(*window_, "cbxComm");
        QVERIFY(selector->isEnabled());
        const QColor yellow(255, 255, 0);
        const QImage box = Shot(*selector);
        // The edges carry no outline, bevel or gradient.
        for (int x = 0; x < box.width(); ++x) {
            QCOMPARE(box.pixelColor(x, 0), yellow);
            QCOMPARE(box.pixelColor(x, box.height() - 1), yellow);
        }
        for (int y = 0; y < box.height(); ++y)
            QCOMPARE(box.pixelColor(0, y), yellow);

        selector->showPopup();
        const auto close = qScopeGuard([selector] { selector->hidePopup(); });
        QAbstractItemView *list = selector->view();
        QVERIFY(QTest::qWaitForWindowExposed(list->window()));
        QTest::qWait(200);
        const QImage shown = Shot(*list->viewport());
        // Right of the text of an item that is not the current one.
        const QRect second = list->visualRect(list->model()->index(1, 0));
        QCOMPARE(shown.pixelColor(shown.width() - 4, second.center().y()), yellow);
    }

    void centredByFrame()
    {
        // The frame: the client area widened by the extents the window manager gives it.
        const QStringList extents = XProperty(*window_, "_NET_FRAME_EXTENTS").split(u',');
        QCOMPARE(extents.size(), 4);
        const QRect client = ClientOnScreen(*window_);
        const QRect frame =
            client.adjusted(-extents[0].trimmed().toInt(), -extents[2].trimmed().toInt(),
                            extents[1].trimmed().toInt(), extents[3].trimmed().toInt());
        const QRect screen = window_->screen()->availableGeometry();
        const QPoint miss = (frame.topLeft() - screen.topLeft()) * 2 +
                            QPoint(frame.width(), frame.height()) -
                            QPoint(screen.width(), screen.height());
        // Twice the distance between the centres: within a pixel for an odd size difference.
        QVERIFY2(qAbs(miss.x()) <= 1 && qAbs(miss.y()) <= 1,
                 qPrintable(QStringLiteral("frame %1,%2 %3x%4 on %5x%6")
                                .arg(frame.x())
                                .arg(frame.y())
                                .arg(frame.width())
                                .arg(frame.height())
                                .arg(screen.width())
                                .arg(screen.height())));
    }
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    SetUpApplication(); // as the program entry does
    TestScreen test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_screen.moc"
