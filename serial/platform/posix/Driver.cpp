// Carrying pending reads and writes on (for the thread that waits for them), the read
// time-outs, the line discipline's error marks and counters turned into line errors, and the
// modem lines.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/platform/posix/PosixPort.h"

namespace port::posix {

bool PosixPort::ReadReturnsAtOnce() const
{
    return timeouts.ReadIntervalTimeout == kMaxDword && timeouts.ReadTotalTimeoutMultiplier == 0 &&
           timeouts.ReadTotalTimeoutConstant == 0;
}

bool PosixPort::ReadReturnsOnAnyByte() const
{
    return timeouts.ReadIntervalTimeout == kMaxDword &&
           timeouts.ReadTotalTimeoutMultiplier == kMaxDword &&
           timeouts.ReadTotalTimeoutConstant != 0 && timeouts.ReadTotalTimeoutConstant != kMaxDword;
}

std::optional<Clock::time_point> PosixPort::ReadDeadline() const
{
    const PendingRead &read = pending.read;
    std::optional<Clock::time_point> deadline;
    const std::uint32_t interval = timeouts.ReadIntervalTimeout;
    if (interval != 0 && interval != kMaxDword && read.done > 0)
        deadline = read.last + Milliseconds(interval);
    std::uint64_t total = 0;
    if (ReadReturnsOnAnyByte())
        total = timeouts.ReadTotalTimeoutConstant;
    else
        total = std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * read.size +
                timeouts.ReadTotalTimeoutConstant;
    if (total != 0) {
        const auto end = read.start + Milliseconds(total);
        deadline = deadline ? std::min(*deadline, end) : end;
    }
    return deadline;
}

std::uint32_t PosixPort::ErrorsFromCounters()
{
    if (!countersSupported)
        return 0;
    serial_icounter_struct now{};
    if (::ioctl(fd, TIOCGICOUNT, &now) != 0)
        return 0; // gone; the read says so
    std::uint32_t flags = 0;
    if (now.frame != counters.frame)
        flags |= kCeFrame;
    if (now.parity != counters.parity && (state.Flags & kFlagParity))
        flags |= kCeRxParity;
    if (now.brk != counters.brk)
        flags |= kCeBreak;
    if (now.overrun != counters.overrun)
        flags |= kCeOverrun;
    if (now.buf_overrun != counters.buf_overrun)
        flags |= kCeRxOver;
    counters = now;
    return flags;
}

// Takes the error marks out of the received bytes: FF FF is a data FF, FF 00 00 a break,
// FF 00 c a byte c received with a framing or parity error. Gives at most `room` bytes; the
// rest waits in `carry` for the next read.
std::uint32_t PosixPort::Decode(const unsigned char *raw, std::size_t count, char *out,
                                std::uint32_t room)
{
    std::uint32_t produced = 0;
    const auto put = [&](char c) {
        if (produced < room)
            out[produced++] = c;
        else
            carry.push_back(c);
    };
    std::uint32_t marked = 0;
    const bool marking = MarkingFor(state);
    const bool dropNull = (state.Flags & kFlagNull) != 0;
    const bool replace = (state.Flags & kFlagErrorChar) && (state.Flags & kFlagParity);
    for (std::size_t i = 0; i < count; ++i) {
        // Plain bytes go in runs up to the next mark (or null to drop).
        if (mark == Mark::None) {
            std::size_t run = count - i;
            if (const void *ff = marking ? std::memchr(raw + i, 0xFF, run) : nullptr)
                run = static_cast<std::size_t>(static_cast<const unsigned char *>(ff) - (raw + i));
            if (const void *nul = dropNull ? std::memchr(raw + i, 0, run) : nullptr)
                run = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - (raw + i));
            const std::size_t fits = std::min<std::size_t>(run, room - produced);
            std::memcpy(out + produced, raw + i, fits);
            carry.append(reinterpret_cast<const char *>(raw) + i + fits, run - fits);
            produced += static_cast<std::uint32_t>(fits);
            i += run;
            if (i == count)
                break;
        }
        const unsigned char c = raw[i];
        switch (mark) {
        case Mark::None: // the run above stopped at a mark or at a null to drop
            if (c == 0xFF && marking)
                mark = Mark::SawFF;
            break;
        case Mark::SawFF:
            mark = Mark::None;
            if (c == 0) {
                mark = Mark::SawFF00;
            } else {
                put(static_cast<char>(0xFF));
                if (c != 0xFF)
                    put(static_cast<char>(c));
            }
            break;
        case Mark::SawFF00:
            mark = Mark::None;
            if (c == 0) {
                marked |= kCeBreak;
            } else {
                marked |= kCeFrame;
                put(replace ? state.ErrorChar : static_cast<char>(c));
            }
            break;
        }
    }
    std::uint32_t found = ErrorsFromCounters();
    if (found == 0 && !countersSupported)
        found = marked;
    if (found != 0) {
        errors |= found;
        RaiseEvents(kEvErr);
    }
    return produced;
}

// The counters count every transition, so a pulse between two looks is still seen.
void PosixPort::LookAtModemLines(Clock::time_point now)
{
    if (!modemWatched || now < nextModemLook)
        return;
    nextModemLook = now + std::chrono::milliseconds(kModemLookMs);
    ModemCounts counts;
    if (!ReadModemCounts(fd, counts)) {
        modemWatched = false; // the device went away; the reader reports that
        return;
    }
    const std::uint32_t events = (counts.carrier != modemLast.carrier ? kEvRlsd : 0) |
                                 (counts.ring != modemLast.ring ? kEvRing : 0);
    modemLast = counts;
    RaiseEvents(events);
}

void PosixPort::RaiseEvents(std::uint32_t events)
{
    events &= commMask;
    if (events == 0)
        return;
    if (pending.event.record != nullptr)
        pending.FinishEvent(kErrorSuccess, events);
    else
        pendingEvents |= events;
}

// The far end went away (adapter removed, master side closed): what is pending fails, except
// that bytes already in a read are delivered first.
void PosixPort::NoteGone()
{
    gone = true;
    const bool delivered = pending.read.record != nullptr && pending.read.done > 0;
    pending.FinishRead(delivered ? kErrorSuccess : kErrorGenFailure);
    pending.FinishWrite(kErrorGenFailure);
    if (!delivered)
        pending.FinishEvent(kErrorGenFailure);
}

void PosixPort::PumpRead(Clock::time_point now)
{
    PendingRead &read = pending.read;
    if (read.record == nullptr)
        return;
    bool lost = false;
    bool got = false;
    if (!carry.empty()) {
        // Taken from the front without moving the rest: small reads take a large carry bit by bit.
        const std::size_t n = std::min<std::size_t>(carry.size() - carried, read.size - read.done);
        std::memcpy(read.buffer + read.done, carry.data() + carried, n);
        carried += n;
        if (carried == carry.size()) {
            carry.clear();
            carried = 0;
        }
        read.done += static_cast<std::uint32_t>(n);
        got = true;
    }
    // As much as the driver has, whatever the room: what does not fit serves the next reads
    // without a call. Whatever is still carried has filled this read.
    while (read.done < read.size) {
        unsigned char raw[8192];
        const std::size_t room = sizeof raw;
        const ssize_t n = ::read(fd, raw, room);
        if (n > 0) {
            read.done += Decode(raw, static_cast<std::size_t>(n), read.buffer + read.done,
                                read.size - read.done);
            got = true;
            if (static_cast<std::size_t>(n) < room)
                break; // all there was; more wakes the waiter
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        lost = true; // 0 (hung up) or an I/O error
        break;
    }
    if (got)
        read.last = now;
    if (lost) {
        NoteGone();
        return;
    }
    const auto deadline = ReadDeadline();
    if (read.done == read.size || ReadReturnsAtOnce() ||
        (ReadReturnsOnAnyByte() && read.done > 0) || (deadline && now >= *deadline))
        pending.FinishRead(kErrorSuccess);
}

void PosixPort::PumpWrite(Clock::time_point now)
{
    PendingWrite &write = pending.write;
    if (write.record == nullptr)
        return;
    while (write.done < write.size) {
        const ssize_t n = ::write(fd, write.data + write.done, write.size - write.done);
        if (n > 0) {
            write.done += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        NoteGone();
        return;
    }
    if (write.done == write.size || (write.deadline && now >= *write.deadline))
        pending.FinishWrite(kErrorSuccess);
}

int PosixPort::TimeoutMs(std::optional<Clock::time_point> deadline, Clock::time_point now)
{
    if (!deadline)
        return -1;
    if (*deadline <= now)
        return 0;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(*deadline - now);
    return static_cast<int>(std::min<std::int64_t>((micros.count() + 999) / 1000, 1 << 30));
}

} // namespace port::posix
