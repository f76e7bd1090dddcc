// The measured process of bench_startup and bench_idle. It starts the tool's window the way
// the program does (application name, window fonts, automation session, main window) and
// reports, one "<key> <value>" line each:
//   painted <s>         monotonic clock when the window's first paint had finished
//   rss_start_kib <n>   resident memory half a second after that
//   step_<name>_s <s>, step_<name>_kib <n>
//                       the clock and resident memory as each step of the start ends: main
//                       (entered), application (object made), setup (name and fonts), automation,
//                       window (made), painted; the empty window has no setup or automation
// and with --port (the module's device, opened as COM1 by clicking OPEN):
//   opened <0|1>        OPEN found the module
//   reads_failed <n>    READs (of --reads N) that reported a message or an error
//   rss_reads_kib <n>   resident memory after them
// and with --idle S:
//   idle_cpu_s <s>      CPU time of the whole process over S seconds of idling
// With --bare it shows an empty QWidget of the window's size instead, as a baseline.

#include "bench/BenchSupport.h"

#include "app/Application.h"
#include "app/UMainForm.h"
#include "desktop/Automation.h"
#include "dialogs/UMsg.h"
#include "serial/platform/Port.h"
#include "tests/support/Controls.h"
#include "widgets/ErrorBox.h"
#include "widgets/Selectors.h"

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct Arguments
{
    bool bare = false;
    std::string port;
    int reads = 0;
    double idleSeconds = 0;
};

Arguments Parse(int argc, char *argv[])
{
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--bare")
            arguments.bare = true;
        else if (option == "--port" && hasValue)
            arguments.port = argv[++i];
        else if (option == "--reads" && hasValue)
            arguments.reads = std::atoi(argv[++i]);
        else if (option == "--idle" && hasValue)
            arguments.idleSeconds = std::atof(argv[++i]);
        else {
            std::fprintf(stderr, "bench_window_process: unknown argument %s\n", argv[i]);
            std::exit(2);
        }
    }
    return arguments;
}

void Report(const char *key, double value)
{
    std::printf("%s %.6f\n", key, value);
    std::fflush(stdout);
}

// Where the start is when one of its steps ends.
void Step(const char *name)
{
    const std::string key = std::string("step_") + name;
    Report((key + "_s").c_str(), bench::MonotonicSeconds());
    Report((key + "_kib").c_str(), double(bench::ResidentKiB()));
}

// Runs the event loop for a while.
void Idle(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

// Notes the moment the first paint of a window has finished: the paint event of the top-level
// widget comes first, its children are painted in the same pass, and a zero timer started then
// fires after the pass.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QWidget *window) { window->installEventFilter(this); }

    double Wait()
    {
        QTimer::singleShot(30'000, &loop, &QEventLoop::quit);
        if (paintedAt == 0)
            loop.exec();
        return paintedAt;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !seen) {
            seen = true;
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                paintedAt = bench::MonotonicSeconds();
                loop.quit();
            });
        }
        return false;
    }

private:
    QEventLoop loop;
    bool seen = false;
    double paintedAt = 0;
};

// OPEN on COM1, then READ `reads` times; dialogs and error boxes are answered and counted.
void Exercise(TfrmMain &window, const Arguments &arguments)
{
    int problems = 0;
    TfrmMsg::SetShownHook([&problems](TfrmMsg &dialog) {
        ++problems;
        dialog.Button1->click();
    });
    SetErrorBoxHook([&problems](const QString &) { ++problems; });
    port::SetDeviceResolver([path = arguments.port](const std::string &name) {
        return name == "COM1" ? path : "/nonexistent/" + name;
    });

    Control<QComboBox>(window, "cbxComm")->setCurrentIndex(0);
    Control<QPushButton>(window, "btnOpen")->click();
    Report("opened", window.State().deviceFound ? 1 : 0);
    problems = 0;
    for (int i = 0; i < arguments.reads; ++i)
        Control<QPushButton>(window, "btnRead")->click();
    Report("reads_failed", problems);
    if (arguments.reads > 0)
        Report("rss_reads_kib", double(bench::ResidentKiB()));
}

} // namespace

int main(int argc, char *argv[])
{
    Step("main");
    const Arguments arguments = Parse(argc, argv);
    QApplication application(argc, argv);
    Step("application");

    std::unique_ptr<QWidget> window;
    std::unique_ptr<automation::AutomationSession> automationSession;
    if (arguments.bare) {
        window = std::make_unique<QWidget>();
        window->resize(TfrmMain::ClientWidth, TfrmMain::ClientHeight);
    } else {
        SetUpApplication();
        Step("setup");
        automationSession = std::make_unique<automation::AutomationSession>();
        Step("automation");
        window = std::make_unique<TfrmMain>();
    }
    Step("window");
    FirstPaint firstPaint(window.get());
    window->show();
    Report("painted", firstPaint.Wait());
    Step("painted");
    Idle(0.5);
    Report("rss_start_kib", double(bench::ResidentKiB()));

    if (!arguments.port.empty() && !arguments.bare)
        Exercise(static_cast<TfrmMain &>(*window), arguments);

    if (arguments.idleSeconds > 0) {
        const double cpuStart = bench::ProcessCpuSeconds();
        Idle(arguments.idleSeconds);
        Report("idle_cpu_s", bench::ProcessCpuSeconds() - cpuStart);
    }

    window.reset(); // frees the link, which closes the port
    SetErrorBoxHook(nullptr);
    TfrmMsg::SetShownHook(nullptr);
    port::SetDeviceResolver(nullptr);
    return 0;
}
