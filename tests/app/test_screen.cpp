// The window as a user sees it on an X server with a window manager (run by under-x.sh): the
// names the window manager reads from the X properties, the frame's place as the server has
// it, faces and colours as the screen's pixels show them, and the window manager's close.

#include "app/Application.h"
#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "dialogs/UMsg.h"
#include "tests/support/Controls.h"
#include "tests/support/ToolRig.h"
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
#include <QTimer>

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

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

// Asks the window manager to close the window, as a task bar or the title bar's button does; the
// window manager passes the request on to the program a moment later.
void RequestClose(const QWidget &window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11->connection();
    const char *const name = "_NET_CLOSE_WINDOW";
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, std::strlen(name), name), nullptr);
    QVERIFY(atom != nullptr);
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = static_cast<xcb_window_t>(window.winId());
    request.type = atom->atom;
    request.data.data32[1] = 2; // from a user's tool, not an application
    std::free(atom);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&request));
    xcb_flush(connection);
}

// Calls `watch` with every event the application delivers, before its receiver sees it.
class EventWatch : public QObject
{
public:
    explicit EventWatch(std::function<void(QObject *, QEvent *)> watch) : watch(std::move(watch))
    {
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        watch(receiver, event);
        return false;
    }

private:
    std::function<void(QObject *, QEvent *)> watch;
};

// Both processors busy while it lives, as a machine loaded by other work.
class Load
{
public:
    explicit Load(bool on)
    {
        for (int i = 0; on && i < 2; ++i)
            spinners.emplace_back([this] {
                while (!stop)
                    std::atomic_signal_fence(std::memory_order_seq_cst);
            });
    }
    ~Load()
    {
        stop = true;
        for (std::thread &spinner : spinners)
            spinner.join();
    }

private:
    std::atomic<bool> stop{false};
    std::vector<std::thread> spinners;
};

// When a close request is made during SET, besides a time after the click.
constexpr int AsReplyArrives = -1;
constexpr int AsMessageShows = -2;

} // namespace

Q_DECLARE_METATYPE(std::chrono::milliseconds)

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

    // Last: each row runs the program's own loop until the window's close ends it. The window
    // manager's request reaches the program a moment after it is made, so a request made as the
    // reply arrives lands as the operation's message shows.
    void closeDuringSet_data()
    {
        using std::chrono::milliseconds;
        QTest::addColumn<milliseconds>("late"); // the module's SET reply, after the line's time
        QTest::addColumn<int>("at"); // ms after the click, or AsReplyArrives, AsMessageShows
        QTest::addColumn<bool>("load");
        QTest::newRow("as the command goes out") << milliseconds(0) << 0 << false;
        QTest::newRow("as the reply arrives") << milliseconds(0) << AsReplyArrives << false;
        QTest::newRow("late reply, awaited") << milliseconds(300) << 150 << false;
        QTest::newRow("late reply, as it arrives") << milliseconds(300) << AsReplyArrives << false;
        // The reply comes after the wait, so "Operation failed!" shows.
        QTest::newRow("no reply in time, as the message shows")
            << milliseconds(700) << AsMessageShows << false;
        QTest::newRow("loaded, as the reply arrives") << milliseconds(0) << AsReplyArrives << true;
        QTest::newRow("loaded, late reply, awaited") << milliseconds(300) << 250 << true;
    }
    void closeDuringSet()
    {
        QFETCH(std::chrono::milliseconds, late);
        QFETCH(int, at);
        QFETCH(bool, load);
        ToolRig tool({.pacing = true}); // the line's own speed: the exchange takes its real time
        RIG_CHECKED(tool.Connect());
        TfrmMain &w = tool.window();
        if (late.count() > 0)
            tool.module().SetFaults({.reply = nmct::modsim::ReplyFault::Late, .lateDelay = late});
        tool.ForgetWire();
        const Load busy(load);
        bool requested = false;
        const auto request = [&] {
            if (!requested)
                RequestClose(w);
            requested = true;
        };
        // Messages stay up, as for a user who has not read them yet.
        TfrmMsg::SetShownHook([&](TfrmMsg &dialog) {
            tool.messages << dialog.lblMsg->text();
            if (at == AsMessageShows)
                request();
        });
        // The serial component's notifications after the click: the command written, then the
        // reply.
        int notifications = 0;
        const EventWatch watch([&](QObject *receiver, QEvent *event) {
            if (event->type() >= QEvent::User && !receiver->isWidgetType() &&
                ++notifications == 2 && at == AsReplyArrives)
                request();
        });
        QTimer::singleShot(0, &w, [&] {
            if (at >= 0)
                QTimer::singleShot(at, &w, request);
            tool.Click(Control<QPushButton>(w, "btnSet"));
        });
        QTimer stuck; // a window left open ends the loop with 1
        stuck.setSingleShot(true);
        QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        stuck.start(5000);
        QCOMPARE(QApplication::exec(), 0);

        QVERIFY(requested);
        if (at >= 0) // landed inside the exchange: SET's outcome never shows
            QCOMPARE(tool.messages, QStringList());
        QVERIFY(!w.isVisible());
        for (const TfrmMsg *dialog : w.findChildren<TfrmMsg *>())
            QVERIFY(!dialog->isVisible());
        QCOMPARE(tool.Wire().size(), std::size_t(1));
        QVERIFY(tool.Wire()[0].rfind("AAFA3", 0) == 0);
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
