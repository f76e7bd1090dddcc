#include "serial/platform/posix/ModemWatch.h"

#include <cerrno>
#include <mutex>

#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace port::posix {

namespace {

bool DeviceCounts(int fd, ModemCounts &counts)
{
    serial_icounter_struct c{};
    if (::ioctl(fd, TIOCGICOUNT, &c) == 0) {
        counts = {static_cast<std::uint32_t>(c.dcd), static_cast<std::uint32_t>(c.rng)};
        return true;
    }
    // Drivers that count nothing still give the levels; a change of level is a transition.
    int bits = 0;
    if (::ioctl(fd, TIOCMGET, &bits) != 0)
        return false;
    counts = {(bits & TIOCM_CD) ? 1u : 0u, (bits & TIOCM_RNG) ? 1u : 0u};
    return true;
}

std::mutex sourceMutex;

ModemCountSource &Source()
{
    static ModemCountSource source;
    return source;
}

bool ReadCounts(int fd, ModemCounts &counts)
{
    ModemCountSource source;
    {
        std::lock_guard lock(sourceMutex);
        source = Source();
    }
    return source ? source(fd, counts) : DeviceCounts(fd, counts);
}

} // namespace

ModemCountSource SetModemCountSource(ModemCountSource source)
{
    std::lock_guard lock(sourceMutex);
    ModemCountSource previous = std::move(Source());
    Source() = std::move(source);
    return previous;
}

void ModemWatch::Start(int fd, Report reportTo)
{
    ModemCounts first;
    if (thread.joinable() || !ReadCounts(fd, first))
        return;
    wake = Event::Create(false);
    if (!wake)
        return;
    report = std::move(reportTo);
    stopping = false;
    try {
        thread = std::thread([this, fd, first] { Loop(fd, first); });
    } catch (const std::system_error &) {
    }
}

void ModemWatch::Loop(int fd, ModemCounts last)
{
    pollfd p{static_cast<int>(wake->WaitHandle()), POLLIN, 0};
    while (!stopping) {
        if (::poll(&p, 1, kPollMs) < 0 && errno != EINTR)
            return;
        if (stopping)
            return;
        ModemCounts now;
        if (!ReadCounts(fd, now))
            return; // the device went away; the reader reports that
        const std::uint32_t events =
            (now.carrier != last.carrier ? kEvRlsd : 0) | (now.ring != last.ring ? kEvRing : 0);
        last = now;
        if (events != 0)
            report(events);
    }
}

void ModemWatch::Stop()
{
    if (!thread.joinable())
        return;
    stopping = true;
    wake->Set();
    thread.join();
}

} // namespace port::posix
