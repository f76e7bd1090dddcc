#pragma once
// What the process holds, read from /proc/self: the figures the hardening tests compare before
// and after a run.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>

#include <ctime>
#include <unistd.h>

namespace figures {

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

} // namespace figures

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
