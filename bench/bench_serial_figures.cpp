// Figures for the serial component alone, over a pseudo-terminal: the threads and descriptors
// an open port adds; the wake-ups of the port's threads (context switches) and the reads of the
// modem lines while the port is open and idle, on the pseudo-terminal as it is and with a
// stand-in that gives it modem lines, with and without a modem-state handler; and the delay
// from the last byte of a reply to OnReceiveData.
//
//     bench_serial_figures [idle seconds]

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "serial/Comm.h"
#include "serial/platform/port_posix.h"
#include "tests/support/PtyPair.h"

namespace {

// Context switches of each thread of this process so far, by thread id.
std::map<int, long> ContextSwitches()
{
    std::map<int, long> switches;
    for (const QString &tid :
         QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream status("/proc/self/task/" + tid.toStdString() + "/status");
        long total = 0;
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::atol(line.substr(line.find(':') + 1).c_str());
        switches[tid.toInt()] = total;
    }
    return switches;
}

int Descriptors()
{
    return int(QDir("/proc/self/fd")
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

void Pump(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

struct Idle
{
    long wakeUps = 0;
    int modemReads = 0;
    int threads = 0;
    int descriptors = 0;
};

// Opens the port, lets it settle, and counts what its threads do over `seconds` of quiet.
Idle MeasureIdle(bool modemLines, bool handler, int seconds)
{
    std::atomic<int> reads{0};
    port::posix::DeviceStandIns standIns;
    if (modemLines)
        standIns.modemCounts = [&reads](int, port::posix::ModemCounts &counts) {
            ++reads;
            counts = {};
            return true;
        };
    const auto previous = port::posix::SetDeviceStandIns(standIns);
    TComm comm;
    int empties = 0;
    comm.SetOnSendDataEmpty([&](TComm *) { ++empties; });
    if (handler)
        comm.SetOnModemStateChange([](TComm *, std::uint32_t) {});
    Idle idle;
    const auto before = ContextSwitches();
    const int descriptorsBefore = Descriptors();
    comm.StartPort();
    idle.threads = bench::ThreadCount() - int(before.size());
    idle.descriptors = Descriptors() - descriptorsBefore;
    Pump([&] { return empties == 1; });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = ContextSwitches();
    const int readsAtStart = reads;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (const auto &[tid, switches] : ContextSwitches())
        if (before.count(tid) == 0)
            idle.wakeUps += switches - start.at(tid);
    idle.modemReads = reads - readsAtStart;
    comm.StopPort();
    port::posix::SetDeviceStandIns(previous);
    return idle;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    PtyPair pty;
    port::SetDeviceResolver([&](const std::string &) { return pty.path; });

    bench::Table idle("An open port, idle for " + std::to_string(seconds) + " s",
                      {"device", "modem-state handler", "threads added", "descriptors added",
                       "wake-ups of its threads", "modem-line reads"});
    const struct
    {
        const char *device;
        bool modemLines, handler;
    } rows[] = {
        {"pseudo-terminal", false, false},
        {"pseudo-terminal with modem lines (stand-in)", true, false},
        {"pseudo-terminal with modem lines (stand-in)", true, true},
    };
    for (const auto &row : rows) {
        const Idle figures = MeasureIdle(row.modemLines, row.handler, seconds);
        idle.Row({row.device, row.handler ? "set" : "none", std::to_string(figures.threads),
                  std::to_string(figures.descriptors), std::to_string(figures.wakeUps),
                  std::to_string(figures.modemReads)});
    }
    idle.Note("Wake-ups: voluntary and involuntary context switches of the threads the open "
              "added, from /proc/self/task, after the open has settled. Descriptors: "
              "/proc/self/fd after the open less before it. The stand-in answers the Linux "
              "port's modem-line reads as a USB adapter's driver would, and counts them.");
    idle.Print();

    // The delay from the last byte of a 7-byte reply to OnReceiveData: the 100 ms interval
    // that ends a chunk, and what the threads add to it.
    TComm comm;
    comm.SetInputLen(340);
    std::size_t received = 0;
    qint64 lastChunkAt = 0;
    QElapsedTimer clock;
    clock.start();
    comm.SetOnReceiveData([&](TComm *, const char *, std::uint16_t length) {
        received += length;
        lastChunkAt = clock.nsecsElapsed();
    });
    comm.StartPort();
    std::vector<double> latencies;
    for (int i = 0; i < 20; ++i) {
        const std::size_t target = received + 7;
        const qint64 sentAt = clock.nsecsElapsed();
        pty.Send("AA_1234");
        Pump([&] { return received >= target; });
        latencies.push_back(double(lastChunkAt - sentAt) / 1e6);
    }
    comm.StopPort();
    bench::Table latency("Last byte of a reply to OnReceiveData", {"ms", "replies"});
    latency.Row({bench::Spread(bench::Summarise(latencies), 2), std::to_string(latencies.size())});
    latency.Note(
        "A 7-byte reply written at once; median (min – max). The read interval is 100 ms.");
    latency.Print();
    port::SetDeviceResolver(nullptr);
    return 0;
}
