// Latency from click to result of OPEN, READ and SET, with the whole tool in one process
// against the module simulator paced at 9600 baud on a pseudo-terminal, compared with the
// line's own minimum: every byte at 10 bits / 9600 baud plus the 100 ms of quiet after each
// reply that ends a received chunk.
//
// The result of READ and OPEN is the end of the click's handler (the record shown, for OPEN
// also the presence watch started); the result of SET is its "Successfully set!" message.
//
//     bench_latency [repetitions]

#include "bench/BenchSupport.h"

#include "app/UMainForm.h"
#include "app/WindowFonts.h"
#include "dialogs/UMsg.h"
#include "serial/platform/Port.h"
#include "tests/support/Controls.h"
#include "tools/modsim/ModuleSimulator.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <cstdio>
#include <cstdlib>

namespace {

using nmct::modsim::ModuleSimulator;

constexpr double BitsPerByte = 10; // start, 8 data, stop
constexpr double Baud = 9600;
constexpr double QuietSeconds = 0.100; // a chunk is delivered after 100 ms without bytes
constexpr std::size_t ReplyEnd = 2;    // the two bytes after every reply

double LineSeconds(std::size_t bytes)
{
    return double(bytes) * BitsPerByte / Baud;
}

// What one operation puts on the line.
struct Traffic
{
    std::size_t toModule = 0;
    std::size_t fromModule = 0;
    int exchanges = 0;

    double LineMinimum() const
    {
        return LineSeconds(toModule + fromModule) + exchanges * QuietSeconds;
    }
    // The simulator paces only what it sends: the least this set-up allows.
    double RepliesOnlyMinimum() const { return LineSeconds(fromModule) + exchanges * QuietSeconds; }
};

class Bench
{
public:
    Bench() : simulator({.pacing = true})
    {
        const std::string slave = simulator.SlavePath();
        port::SetDeviceResolver([slave](const std::string &name) {
            return name == "COM1" ? slave : "/nonexistent/" + name;
        });
        TfrmMsg::SetShownHook([this](TfrmMsg &dialog) {
            messageShownAt = bench::MonotonicSeconds();
            messages.push_back(dialog.lblMsg->text());
            dialog.Button1->click();
        });
        SetErrorBoxHook([this](const QString &text) { messages.push_back(text); });
        window = std::make_unique<TfrmMain>();
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            Fail("the window was not shown");
        Control<QComboBox>(*window, "cbxComm")->setCurrentIndex(0);
    }
    ~Bench()
    {
        window.reset();
        SetErrorBoxHook(nullptr);
        TfrmMsg::SetShownHook(nullptr);
        port::SetDeviceResolver(nullptr);
    }

    double Open()
    {
        const double seconds = Click(Control<QPushButton>(*window, "btnOpen"));
        Expect(window->State().deviceFound && window->State().portIsOpen,
               "OPEN did not find the module");
        ExpectWire({"AAFAA", "AAFA1"});
        return seconds;
    }
    double Read()
    {
        const double seconds = Click(Control<QPushButton>(*window, "btnRead"));
        ExpectWire({"AAFA1"});
        Expect(messages.empty(), "READ reported a message");
        return seconds;
    }
    double Set()
    {
        Click(Control<QPushButton>(*window, "btnSet"));
        Expect(messages.size() == 1 && messages.front() == TfrmMain::SetSucceeded,
               "SET did not succeed");
        lastSetCommandBytes = simulator.ReceivedCommands().at(0).size();
        return messageShownAt - clickedAt;
    }
    void Close()
    {
        Click(Control<QPushButton>(*window, "btnOpen"));
        Expect(!window->State().portIsOpen, "CLOSE did not close the port");
    }

    std::size_t IdentityBytes() const { return nmct::modsim::kDefaultIdentity.size(); }
    std::size_t lastSetCommandBytes = 0;

private:
    // Lets pending events (a presence tick among them) run before the clock starts, then clicks
    // and returns once the click's handler has ended.
    double Click(QPushButton *button)
    {
        QTest::qWait(50);
        simulator.ClearReceivedCommands();
        messages.clear();
        clickedAt = bench::MonotonicSeconds();
        QTest::mouseClick(button, Qt::LeftButton);
        return bench::MonotonicSeconds() - clickedAt;
    }
    void ExpectWire(const std::vector<std::string> &commands)
    {
        Expect(simulator.ReceivedCommands() == commands, "unexpected commands on the line");
    }
    static void Expect(bool condition, const char *what)
    {
        if (!condition)
            Fail(what);
    }
    [[noreturn]] static void Fail(const char *what)
    {
        std::fprintf(stderr, "bench_latency: %s\n", what);
        std::exit(1);
    }

    ModuleSimulator simulator;
    std::unique_ptr<TfrmMain> window;
    std::vector<QString> messages;
    double clickedAt = 0;
    double messageShownAt = 0;
};

std::string Milliseconds(double seconds)
{
    return bench::Fixed(seconds * 1000, 1);
}

void AddRow(bench::Table &table, const std::string &operation, const Traffic &traffic,
            const std::vector<double> &seconds)
{
    const bench::Summary measured = bench::Summarise(seconds);
    const bench::Summary inMs{measured.median * 1000, measured.min * 1000, measured.max * 1000};
    table.Row({operation,
               std::to_string(traffic.toModule) + " / " + std::to_string(traffic.fromModule),
               Milliseconds(traffic.LineMinimum()), Milliseconds(traffic.RepliesOnlyMinimum()),
               bench::Spread(inMs, 1), bench::Fixed(measured.median / traffic.LineMinimum(), 2),
               Milliseconds(measured.median - traffic.RepliesOnlyMinimum())});
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Network Module Communication Tools"));
    InstallWindowFonts();
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    std::vector<double> open, read, set;
    std::size_t setBytes = 0;
    std::size_t identityBytes = 0;
    {
        Bench bench;
        identityBytes = bench.IdentityBytes();
        for (int i = 0; i < repetitions; ++i) {
            open.push_back(bench.Open());
            read.push_back(bench.Read());
            set.push_back(bench.Set());
            setBytes = bench.lastSetCommandBytes;
            bench.Close();
        }
    }

    const std::size_t record = 299 + ReplyEnd;
    const Traffic readTraffic{5, record, 1};
    const Traffic setTraffic{setBytes, 2 + ReplyEnd, 1};
    const Traffic openTraffic{5 + 5, identityBytes + ReplyEnd + record, 2};

    bench::Table table("Latency from click to result, module paced at 9600 baud",
                       {"operation", "bytes to / from module", "line minimum ms",
                        "replies-only minimum ms", "measured ms", "measured ÷ line minimum",
                        "measured − replies-only minimum ms"});
    AddRow(table, "OPEN (identify + READ)", openTraffic, open);
    AddRow(table, "READ", readTraffic, read);
    AddRow(table, "SET", setTraffic, set);
    table.Note(std::to_string(repetitions) +
               " repetitions each, median (min – max). Line minimum: all bytes both ways at 10 "
               "bits per byte and 9600 baud, plus 100 ms of quiet per reply. The simulator "
               "paces only its replies (the pseudo-terminal carries the tool's commands at "
               "once), so the replies-only minimum is the least this set-up allows; SET, with "
               "its 306-byte command, can therefore beat the line minimum here but not on a "
               "real line. OPEN includes the 10 ms pause between opening and identifying.");
    table.Print();
    return 0;
}
