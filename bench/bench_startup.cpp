// Start-up time from process start to the first painted window, and resident memory after the
// start and after 100 READs; then where the start goes, step by step. The tool's window and, as
// a baseline, an empty Qt window of the same size are each started several times as processes of
// their own (bench_window_process); the clock starts just before the process is spawned. The READs
// run against the module simulator (unpaced: memory does not depend on the line's speed) in this
// process.
//
//     bench_startup [starts] [reads]

#include "bench/BenchSupport.h"

#include "tools/modsim/ModuleSimulator.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <thread>

namespace {

// The steps of a start as the measured process reports them, in order; the first runs from
// this process's clock just before the spawn, with the memory of a process not yet started.
struct Step
{
    const char *key;
    const char *name;
};
const Step Steps[] = {
    {"main", "process start → main (loading the program and its libraries)"},
    {"application", "application object"},
    {"setup", "application name and window fonts"},
    {"automation", "automation session"},
    {"window", "window made"},
    {"painted", "shown and painted"},
};
constexpr std::size_t StepCount = std::size(Steps);

// Each step's time and memory growth over all starts, NaN-free: a step the process does not
// have (the empty window's set-up) is left out.
struct Starts
{
    std::vector<double> milliseconds;
    std::vector<double> mebibytes;
    std::array<std::vector<double>, StepCount> stepMilliseconds;
    std::array<std::vector<double>, StepCount> stepMebibytes;
};

void StartOnce(const std::string &program, const std::vector<std::string> &arguments,
               Starts &starts)
{
    // The display server tears the previous window down after its process has gone; a start
    // made meanwhile would wait for it.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    const double spawnedAt = bench::MonotonicSeconds();
    bench::ChildProcess child(program, arguments);
    if (!child.Finish()) {
        std::fprintf(stderr, "bench_startup: %s failed:\n%s\n", program.c_str(),
                     child.Output().c_str());
        std::exit(1);
    }
    starts.milliseconds.push_back((child.Value("painted") - spawnedAt) * 1000);
    starts.mebibytes.push_back(child.Value("rss_start_kib") / 1024);
    double lastSeconds = spawnedAt;
    double lastKiB = 0;
    for (std::size_t step = 0; step < StepCount; ++step) {
        const std::string key = std::string("step_") + Steps[step].key;
        const double seconds = child.Value(key + "_s");
        const double kib = child.Value(key + "_kib");
        if (seconds < 0 || kib < 0)
            continue;
        starts.stepMilliseconds[step].push_back((seconds - lastSeconds) * 1000);
        starts.stepMebibytes[step].push_back((kib - lastKiB) / 1024);
        lastSeconds = seconds;
        lastKiB = kib;
    }
}

// "median" of the step's values, or empty when the process has no such step.
std::string StepCell(const std::vector<double> &values, int decimals)
{
    return values.empty() ? std::string() : bench::Fixed(bench::Summarise(values).median, decimals);
}

} // namespace

int main(int argc, char *argv[])
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int reads = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;
    const std::string program = bench::ExecutableDirectory() + "/bench_window_process";
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    const std::string platformName = platform && *platform ? platform : "the default (xcb)";

    // Alternating, so that a busy moment of the machine falls on both.
    Starts tool;
    Starts bare;
    for (int i = 0; i < count; ++i) {
        // Each goes first in every other pair, so neither always follows the other.
        if (i % 2 == 0) {
            StartOnce(program, {}, tool);
            StartOnce(program, {"--bare"}, bare);
        } else {
            StartOnce(program, {"--bare"}, bare);
            StartOnce(program, {}, tool);
        }
    }

    nmct::modsim::ModuleSimulator simulator({.pacing = false});
    bench::ChildProcess exercised(
        program, {"--port", simulator.SlavePath(), "--reads", std::to_string(reads)});
    const bool finished = exercised.Finish();
    if (!finished || exercised.Value("opened") != 1 || exercised.Value("reads_failed") != 0) {
        std::fprintf(stderr, "bench_startup: the READ run failed:\n%s\n",
                     exercised.Output().c_str());
        return 1;
    }
    const double afterStart = exercised.Value("rss_start_kib") / 1024;
    const double afterReads = exercised.Value("rss_reads_kib") / 1024;

    const bench::Summary toolStart = bench::Summarise(tool.milliseconds);
    const bench::Summary bareStart = bench::Summarise(bare.milliseconds);
    const bench::Summary toolMemory = bench::Summarise(tool.mebibytes);
    const bench::Summary bareMemory = bench::Summarise(bare.mebibytes);

    bench::Table table("Start-up and resident memory (platform: " + platformName + ")",
                       {"measure", "tool window", "empty Qt window, same size", "tool − empty"});
    table.Row({"process start → first painted window, ms", bench::Spread(toolStart, 1),
               bench::Spread(bareStart, 1),
               bench::Fixed(toolStart.median - bareStart.median, 1) + " (" +
                   bench::Fixed(toolStart.median / bareStart.median, 2) + "×)"});
    table.Row({"resident memory after start, MiB", bench::Spread(toolMemory, 1),
               bench::Spread(bareMemory, 1),
               bench::Fixed(toolMemory.median - bareMemory.median, 1) + " (" +
                   bench::Fixed(toolMemory.median / bareMemory.median, 2) + "×)"});
    table.Row({"resident memory after OPEN and " + std::to_string(reads) + " READs, MiB",
               bench::Fixed(afterReads, 1) + " (" + bench::Fixed(afterStart, 1) +
                   " after start in the same run: +" + bench::Fixed(afterReads - afterStart, 2) +
                   ")",
               "", ""});
    table.Note(std::to_string(count) +
               " starts of each, alternating which goes first, a quarter second apart; median "
               "(min – max). The start runs from just "
               "before the process is spawned to the end of the window's first paint pass; "
               "memory is VmRSS half a second after that. The tool's process starts as the "
               "program does (application name, window fonts, automation session, main window).");
    table.Print();

    bench::Table steps("Where the start goes",
                       {"step", "tool ms", "empty ms", "tool MiB added", "empty MiB added"});
    for (std::size_t step = 0; step < StepCount; ++step) {
        steps.Row({Steps[step].name, StepCell(tool.stepMilliseconds[step], 1),
                   StepCell(bare.stepMilliseconds[step], 1), StepCell(tool.stepMebibytes[step], 2),
                   StepCell(bare.stepMebibytes[step], 2)});
    }
    steps.Note("The same starts, median of each step. Memory is VmRSS as the step ends, the first "
               "step from nothing; the last step's memory is read right after the paint, not half "
               "a second later as above. The empty window has no set-up or automation step.");
    steps.Print();
    return 0;
}
