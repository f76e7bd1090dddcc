// Figures for the serial component alone, measured over a pseudo-terminal: the threads that
// opening the port adds, the CPU ticks of the port's threads over 10 s of an idle open port,
// the delay from the last byte of a burst to OnReceiveData, and the receive throughput of
// 10 MB with InputLen 340.
//
//     bench_serial_figures
#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "serial/Comm.h"
#include "tests/support/PtyPair.h"

namespace {

// utime + stime of every thread of this process, by thread id.
std::map<int, long> ThreadTicks()
{
    std::map<int, long> ticks;
    DIR *dir = opendir("/proc/self/task");
    while (dirent *entry = dir ? readdir(dir) : nullptr) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        ticks[std::stoi(entry->d_name)] = utime + stime;
    }
    if (dir)
        closedir(dir);
    return ticks;
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Pump(const std::function<bool()> &done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PtyPair pty;
    port::SetDeviceResolver([&](const std::string &) { return pty.path; });
    TComm comm;
    comm.SetInputLen(340);
    std::size_t received = 0;
    std::size_t chunks = 0;
    qint64 lastChunkAt = 0;
    QElapsedTimer clock;
    clock.start();
    comm.SetOnReceiveData([&](TComm *, const char *, std::uint16_t length) {
        received += length;
        ++chunks;
        lastChunkAt = clock.nsecsElapsed();
    });
    int empties = 0;
    comm.SetOnSendDataEmpty([&](TComm *) { ++empties; });
    const int threadsBefore = bench::ThreadCount();
    comm.StartPort();
    std::printf("threads added by opening the port: %d\n", bench::ThreadCount() - threadsBefore);
    Pump([&] { return empties == 1; });

    // 1. Idle: every thread but the main one, over 10 s.
    const int mainTid = gettid();
    const auto before = ThreadTicks();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const auto after = ThreadTicks();
    long idleTicks = 0;
    for (const auto &[tid, ticks] : after)
        if (tid != mainTid)
            idleTicks += ticks - (before.count(tid) ? before.at(tid) : 0);
    std::printf("idle 10 s: %ld clock ticks used by the %zu port threads\n", idleTicks,
                after.size() - 1);

    // 2. Latency from the last byte of a 7-byte burst to OnReceiveData.
    std::vector<double> latencies;
    for (int i = 0; i < 20; ++i) {
        const std::size_t target = received + 7;
        const qint64 sentAt = clock.nsecsElapsed();
        pty.Send("AA_1234");
        Pump([&] { return received >= target; });
        latencies.push_back(double(lastChunkAt - sentAt) / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("latency last byte -> OnReceiveData (ms): min %.2f median %.2f max %.2f\n",
                latencies.front(), latencies[latencies.size() / 2], latencies.back());

    // 3. Throughput: 10 MB written by the far end as fast as the line takes it.
    const std::size_t total = 10u * 1024 * 1024;
    received = 0;
    chunks = 0;
    const double cpuBefore = ProcessCpuSeconds();
    const qint64 start = clock.nsecsElapsed();
    std::thread farEnd([&] {
        const std::string block(65536, 'x');
        for (std::size_t sent = 0; sent < total; sent += block.size())
            pty.Send(block);
    });
    Pump([&] { return received >= total; });
    const double seconds = double(clock.nsecsElapsed() - start) / 1e9;
    farEnd.join();
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const double megabytes = double(total) / (1024 * 1024);
    std::printf("throughput 10 MB, InputLen 340: %.1f MB/s, %zu chunks, %.3f CPU s per MB "
                "(whole process, far end included)\n",
                megabytes / seconds, chunks, cpu / megabytes);
    comm.StopPort();
    return 0;
}
