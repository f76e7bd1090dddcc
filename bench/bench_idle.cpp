// CPU time of the whole tool process over a minute while connected and idle, the presence
// watch identifying the module every 2 s, against the same process idle with no port open.
// Both run at once as processes of their own (bench_window_process); the module simulator,
// paced at 9600 baud, runs in this process, so its CPU time is not counted.
//
//     bench_idle [seconds]

#include "bench/BenchSupport.h"

#include "tools/modsim/ModuleSimulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60;
    const std::string program = bench::ExecutableDirectory() + "/bench_window_process";
    const std::string idle = bench::Fixed(seconds, 0);

    nmct::modsim::ModuleSimulator simulator({.pacing = true});
    bench::ChildProcess connected(program, {"--port", simulator.SlavePath(), "--idle", idle});
    bench::ChildProcess closed(program, {"--idle", idle});
    const bool connectedFinished = connected.Finish();
    const bool closedFinished = closed.Finish();
    if (!connectedFinished || !closedFinished || connected.Value("opened") != 1) {
        std::fprintf(stderr, "bench_idle: a run failed:\n%s\n%s\n", connected.Output().c_str(),
                     closed.Output().c_str());
        return 1;
    }

    const auto commands = simulator.ReceivedCommands();
    // The first identify belongs to OPEN; the rest are the presence watch's.
    const long watchExchanges =
        std::max(0L, long(std::count(commands.begin(), commands.end(), "AAFAA")) - 1);
    const double connectedCpu = connected.Value("idle_cpu_s");
    const double closedCpu = closed.Value("idle_cpu_s");
    auto share = [seconds](double cpu) { return bench::Fixed(100 * cpu / seconds, 4) + " %"; };

    bench::Table table("CPU time of the whole process over " + idle + " s idle",
                       {"state", "CPU s", "share of one core", "identify exchanges"});
    table.Row({"connected, presence watch running", bench::Fixed(connectedCpu, 4),
               share(connectedCpu), std::to_string(watchExchanges)});
    table.Row({"window only, no port open (baseline)", bench::Fixed(closedCpu, 4), share(closedCpu),
               "0"});
    const double extra = connectedCpu - closedCpu;
    table.Row({"connected − baseline", bench::Fixed(extra, 4), share(extra),
               watchExchanges > 0
                   ? bench::Fixed(1000 * extra / double(watchExchanges), 2) + " ms per exchange"
                   : ""});
    table.Note("User + system time of all threads (getrusage) from the end of OPEN to the end "
               "of the idle time; both processes idle at the same time.");
    table.Print();
    return 0;
}
