#pragma once
// What the process holds, read from /proc/self: the figures the hardening tests compare before
// and after a run, and the run lengths they take from the environment.

#include <QString>
#include <QTest>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <ctime>
#include <unistd.h>

// Sanitizer builds keep freed memory aside and run slower: the tests scale down and skip the
// resident memory bound there.
#if defined(__SANITIZE_ADDRESS__)
#define NMCT_HARDENING_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NMCT_HARDENING_ASAN 1
#endif
#endif
#ifndef NMCT_HARDENING_ASAN
#define NMCT_HARDENING_ASAN 0
#endif

namespace figures {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
// ThreadSanitizer keeps shadow and history for the memory and threads a run touches: 2.9 MiB
// over the CI soak's 500 exchanges and 4.0 MiB over 1,500, where a plain build grows by
// nothing. A memory bound holds there with this much added.
constexpr long kSanitizerGrowthKiB = kThreadSanitizer ? 5 * 1024 : 0;

inline int EntriesIn(const char *folder)
{
    int count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(folder))
        ++count;
    return count;
}

// Open descriptors; the one that lists them is counted too, the same every time.
inline int Descriptors()
{
    return EntriesIn("/proc/self/fd");
}

inline int Threads()
{
    return EntriesIn("/proc/self/task");
}

inline long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// CPU time of all threads of the process so far.
inline double CpuSeconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// What the process holds at one moment.
struct Held
{
    int descriptors;
    int threads;
    long residentKiB;
    static Held Now() { return {Descriptors(), Threads(), ResidentKiB()}; }
};

// The same descriptors and threads as before, and, when a bound is given and the build keeps
// no freed memory aside, resident memory grown by less than it (plus ThreadSanitizer's own).
inline void CompareHeld(const Held &now, const Held &before, const char *when,
                        long maxGrowthKiB = 0)
{
    QVERIFY2(now.descriptors == before.descriptors && now.threads == before.threads,
             qPrintable(QStringLiteral("%1: %2 descriptors and %3 threads, %4 and %5 before")
                            .arg(when)
                            .arg(now.descriptors)
                            .arg(now.threads)
                            .arg(before.descriptors)
                            .arg(before.threads)));
    if (maxGrowthKiB > 0 && !NMCT_HARDENING_ASAN) {
        QVERIFY2(now.residentKiB - before.residentKiB < maxGrowthKiB + kSanitizerGrowthKiB,
                 qPrintable(QStringLiteral("%1: resident %2 KiB, %3 KiB before")
                                .arg(when)
                                .arg(now.residentKiB)
                                .arg(before.residentKiB)));
    }
}

// The figures before and after, for a test's log.
inline QString Change(const Held &before, const Held &after)
{
    return QStringLiteral("%1 descriptors and %2 threads before, %3 and %4 after; resident %5 KiB "
                          "before, %6 KiB after (%7 KiB)")
        .arg(before.descriptors)
        .arg(before.threads)
        .arg(after.descriptors)
        .arg(after.threads)
        .arg(before.residentKiB)
        .arg(after.residentKiB)
        .arg(after.residentKiB - before.residentKiB);
}

// A positive count from the environment variable `name`, else `fallback`.
inline int CountFromEnvironment(const char *name, int fallback)
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue(name, &ok);
    return ok && count > 0 ? count : fallback;
}

} // namespace figures
