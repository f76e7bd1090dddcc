// Start-up time from process start to the first painted window, and resident memory after the
// start and after 100 READs. The tool's window and, as a baseline, an empty Qt window of the
// same size are each started several times as processes of their own (bench_window_process);
// the clock starts just before the process is spawned. The READs run against the module
// simulator (unpaced: memory does not depend on the line's speed) in this process.
//
//     bench_startup [starts] [reads]

#include "bench/BenchSupport.h"

#include "tools/modsim/ModuleSimulator.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct Start
{
    double seconds = 0;
    double residentKiB = 0;
};

Start StartOnce(const std::string &program, const std::vector<std::string> &arguments)
{
    const double spawnedAt = bench::MonotonicSeconds();
    bench::ChildProcess child(program, arguments);
    if (!child.Finish()) {
        std::fprintf(stderr, "bench_startup: %s failed:\n%s\n", program.c_str(),
                     child.Output().c_str());
        std::exit(1);
    }
    return {child.Value("painted") - spawnedAt, child.Value("rss_start_kib")};
}

struct Starts
{
    std::vector<double> milliseconds;
    std::vector<double> mebibytes;
};

Starts StartRepeatedly(const std::string &program, const std::vector<std::string> &arguments,
                       int count)
{
    Starts starts;
    for (int i = 0; i < count; ++i) {
        const Start start = StartOnce(program, arguments);
        starts.milliseconds.push_back(start.seconds * 1000);
        starts.mebibytes.push_back(start.residentKiB / 1024);
    }
    return starts;
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
        const Starts one = StartRepeatedly(program, {}, 1);
        const Starts base = StartRepeatedly(program, {"--bare"}, 1);
        tool.milliseconds.push_back(one.milliseconds[0]);
        tool.mebibytes.push_back(one.mebibytes[0]);
        bare.milliseconds.push_back(base.milliseconds[0]);
        bare.mebibytes.push_back(base.mebibytes[0]);
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
               bench::Spread(bareStart, 1), bench::Fixed(toolStart.median - bareStart.median, 1)});
    table.Row({"resident memory after start, MiB", bench::Spread(toolMemory, 1),
               bench::Spread(bareMemory, 1),
               bench::Fixed(toolMemory.median - bareMemory.median, 1)});
    table.Row({"resident memory after OPEN and " + std::to_string(reads) + " READs, MiB",
               bench::Fixed(afterReads, 1) + " (" + bench::Fixed(afterStart, 1) +
                   " after start in the same run: +" + bench::Fixed(afterReads - afterStart, 2) +
                   ")",
               "", ""});
    table.Note(std::to_string(count) +
               " starts of each, alternating; median (min – max). The start runs from just "
               "before the process is spawned to the end of the window's first paint pass; "
               "memory is VmRSS half a second after that. The tool's process starts as the "
               "program does (title, window fonts, automation session, main window).");
    table.Print();
    return 0;
}
