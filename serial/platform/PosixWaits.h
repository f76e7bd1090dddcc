#pragma once
// What the POSIX ports (the serial device and the network port) share: a thread waits on its
// descriptor and its eventfd with a deadline, and a read ends by the time-out rules.

#include <chrono>
#include <cstdint>
#include <optional>

#include "serial/platform/Port.h"

namespace port::posix {

using Clock = std::chrono::steady_clock;
using Deadline = std::optional<Clock::time_point>; // none: no time bound

// A time-out's arithmetic, saturated: a total beyond any real wait waits as good as forever.
Clock::time_point After(Clock::time_point from, std::uint64_t ms);
Deadline Earlier(Deadline a, Deadline b);

// Rings a thread's eventfd.
void Ring(int bell);

// What ended a wait: the descriptor's poll events, and whether the eventfd rang (it is
// emptied). Nothing when the wait failed (errno says why).
struct Woken
{
    short events = 0;
    bool rang = false;
};
// Waits until `fd` is ready for `events`, `bell` (-1: none) rings or the deadline; with no events
// asked for the descriptor stays out (a hang-up would end every wait at once).
std::optional<Woken> Await(int fd, short events, int bell, Deadline deadline);

// When a read under way ends by the time-out rules: `now`, or by `deadline`. It ends full, on
// its total time-out (multiplier x bytes asked + constant, from its start), or once the line
// has been quiet for the interval after the last byte received.
struct ReadEnd
{
    bool now = false;
    Deadline deadline;
};
ReadEnd ReadEnds(const Timeouts &t, std::uint32_t size, std::uint32_t done, Clock::time_point start,
                 Clock::time_point last, Clock::time_point now);

} // namespace port::posix
