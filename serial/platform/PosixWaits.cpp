#include "serial/platform/PosixWaits.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace port::posix {

Clock::time_point After(Clock::time_point from, std::uint64_t ms)
{
    constexpr std::uint64_t kCentury = 100ull * 365 * 24 * 3600 * 1000;
    return from + std::chrono::milliseconds(std::min(ms, kCentury));
}

Deadline Earlier(Deadline a, Deadline b)
{
    return a && b ? std::min(a, b) : a ? a : b;
}

void Ring(int bell)
{
    const std::uint64_t one = 1;
    while (::write(bell, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

std::optional<Woken> Await(int fd, short events, int bell, Deadline deadline)
{
    int timeout = -1;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
    }
    pollfd p[] = {{bell, POLLIN, 0}, {events != 0 ? fd : -1, events, 0}};
    if (::poll(p, 2, timeout) < 0)
        return errno == EINTR ? std::optional<Woken>(Woken{}) : std::nullopt;
    const Woken woken{p[1].revents, (p[0].revents & POLLIN) != 0};
    std::uint64_t count = 0;
    if (woken.rang)
        (void)!::read(bell, &count, sizeof count);
    return woken;
}

ReadEnd ReadEnds(const Timeouts &t, std::uint32_t size, std::uint32_t done, Clock::time_point start,
                 Clock::time_point last, Clock::time_point now)
{
    const std::uint32_t interval = t.ReadIntervalTimeout;
    const std::uint32_t multiplier = t.ReadTotalTimeoutMultiplier;
    const std::uint32_t constant = t.ReadTotalTimeoutConstant;
    // Interval and multiplier at most with a constant, or interval at most and no totals: the
    // read ends as soon as it has anything.
    const bool anyByte =
        interval == kMaxDword && (multiplier == kMaxDword || (multiplier == 0 && constant == 0));
    ReadEnd end;
    if (interval != 0 && interval != kMaxDword && done > 0)
        end.deadline = After(last, interval);
    const std::uint64_t total =
        anyByte && multiplier == kMaxDword ? constant : std::uint64_t{multiplier} * size + constant;
    if (total != 0 && total != kMaxDword)
        end.deadline = Earlier(end.deadline, After(start, total));
    end.now = done == size || (anyByte && done > 0) || (end.deadline && now >= *end.deadline);
    return end;
}

} // namespace port::posix
