#pragma once
// Carrier-detect and ring changes, on devices that have modem lines (a pseudo-terminal has
// none, so there is nothing to watch there).
//
// The kernel's wait for a modem change can be left early only by a signal, and a signal's
// disposition belongs to the whole process: inherited as ignored, or handled elsewhere with
// SA_RESTART, the wait goes on and a stop would hang until a line changes. So the watch never
// blocks there. It sleeps on a wake-up descriptor of its own and looks at the modem counters
// every kPollMs; the counters count every transition, so a pulse shorter than the period is
// still seen, only reported up to one period late. No signal is sent, caught or changed, and a
// stop ends at once.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "serial/platform/Port.h"

namespace port::posix {

struct ModemCounts
{
    std::uint32_t carrier = 0; // carrier-detect transitions (or its level, where not counted)
    std::uint32_t ring = 0;
};

// Reads a device's modem counters; false when it has no modem lines. Replaceable, so a test
// can stand in for a device that has them; an empty function restores the device's own.
// Gives the previous source.
using ModemCountSource = std::function<bool(int fd, ModemCounts &counts)>;
ModemCountSource SetModemCountSource(ModemCountSource source);

class ModemWatch
{
public:
    static constexpr int kPollMs = 50;
    using Report = std::function<void(std::uint32_t events)>; // kEvRlsd, kEvRing

    ModemWatch() = default;
    ~ModemWatch() { Stop(); }
    ModemWatch(const ModemWatch &) = delete;
    ModemWatch &operator=(const ModemWatch &) = delete;

    // Starts watching, where the device has modem lines and no watch runs yet.
    void Start(int fd, Report report);
    // Ends the watch; never waits longer than the watch takes to look once.
    void Stop();

private:
    void Loop(int fd, ModemCounts last);

    Report report;
    std::unique_ptr<Event> wake;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

} // namespace port::posix
