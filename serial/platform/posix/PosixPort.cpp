#include "serial/platform/posix/PosixPort.h"

#include <cerrno>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace port::posix {

Clock::duration Milliseconds(std::uint64_t ms)
{
    constexpr std::uint64_t kLongest = 100ull * 365 * 24 * 3600 * 1000; // a century
    return std::chrono::milliseconds(std::min(ms, kLongest));
}

PosixPort::PosixPort(int descriptor) : fd(descriptor), isTty(::tcgetattr(descriptor, &saved) == 0)
{
    if (isTty) {
        ReadLineState(fd, state);
        state.Flags = kFlagBinary; // the rate and byte shape the device had, no flow control
        countersSupported = ::ioctl(fd, TIOCGICOUNT, &counters) == 0;
        struct stat info
        {
        };
        constexpr unsigned kPtySlaveMajors[] = {136, 143}; // the kernel's pseudo-terminals
        isPty = ::fstat(fd, &info) == 0 && major(info.st_rdev) >= kPtySlaveMajors[0] &&
                major(info.st_rdev) <= kPtySlaveMajors[1];
    }
}

int PosixPort::Init()
{
    if (isTty)
        ApplyLineState(fd, state,
                       MarkingFor(state)); // raw from the start, at the rate the device had
    wake = Event::Create(false);
    return wake ? 0 : errno;
}

PosixPort::~PosixPort()
{
    {
        // Records that outlive the port forget it; what is pending ends as aborted.
        std::lock_guard lock(mutex);
        pending.FinishAll(kErrorOperationAborted);
    }
    if (isTty) {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

bool PosixPort::Purge(std::uint32_t flags)
{
    if (isTty && (flags & kPurgeRxClear))
        ::tcflush(fd, TCIFLUSH);
    if (isTty && (flags & kPurgeTxClear))
        ::tcflush(fd, TCOFLUSH);
    std::lock_guard lock(mutex);
    AbortPurged(flags);
    if (flags & kPurgeRxClear) {
        mark = Mark::None;
        carry.clear();
        carried = 0;
    }
    return true;
}

// The kernel's word for what it holds, the port's for the rest.
bool PosixPort::GetState(LineState &value)
{
    {
        std::lock_guard lock(mutex);
        value = state;
    }
    return isTty && ReadLineState(fd, value);
}

// A state the line cannot take is refused whole and the one in force stays. Applying it may
// take a USB adapter's control transfers: reads and writes go on meanwhile.
bool PosixPort::SetState(const LineState &value)
{
    if (!isTty || !ApplyLineState(fd, value, MarkingFor(value)))
        return false;
    std::lock_guard lock(mutex);
    state = value;
    return true;
}

// A pending write keeps the deadline it started with; a pending read's waiter looks again.
bool PosixPort::SetTimeouts(const Timeouts &value)
{
    // The wake is set and reset under the lock (by the reader in Side::Work), as every event
    // must be by one thread at a time; an eventfd write does not block.
    std::lock_guard lock(mutex);
    timeouts = value;
    if (pending.read.record != nullptr)
        wake->Set();
    return isTty;
}

bool PosixPort::SetMask(std::uint32_t mask)
{
    ModemCounts now;
    const bool modemLines = isTty && (mask & (kEvRlsd | kEvRing)) && ReadModemCounts(fd, now);
    std::lock_guard lock(mutex);
    commMask = mask;
    pendingEvents = 0;
    pending.FinishEvent(kErrorSuccess, 0);
    modemWatched = modemLines;
    modemLast = now;
    nextModemLook = Clock::now() + std::chrono::milliseconds(kModemLookMs);
    return true;
}

IoResult PosixPort::WaitEvent(std::uint32_t &mask, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone || pending.event.record != nullptr)
        return {kErrorGenFailure, 0};
    // Looked at before the wait begins: a change seen now is one to report at once, not one
    // that completes the wait in the middle of setting it up.
    LookAtModemLines(Clock::now());
    pending.BeginEvent(record, mask);
    if (pendingEvents != 0) {
        pending.FinishEvent(kErrorSuccess, pendingEvents);
        pendingEvents = 0;
        return {kErrorSuccess, 0};
    }
    PendingRecords::Pend(record, &readerSide);
    return {kErrorIoPending, 0};
}

IoResult PosixPort::Read(char *buffer, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone) {
        pending.FinishEvent(kErrorGenFailure);
        return {kErrorGenFailure, 0};
    }
    if (pending.read.record != nullptr || size == 0)
        return {kErrorGenFailure, 0};
    pending.BeginRead(record, buffer, size);
    const auto now = pending.read.start;
    PumpRead(now);
    LookAtModemLines(now);
    if (pending.read.record == nullptr)
        return {record.Status, record.Transferred};
    PendingRecords::Pend(record, &readerSide);
    return {kErrorIoPending, 0};
}

IoResult PosixPort::Write(const char *data, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone || pending.write.record != nullptr)
        return {kErrorGenFailure, 0};
    pending.BeginWrite(record, data, size);
    const auto now = Clock::now();
    const std::uint64_t total = std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size +
                                timeouts.WriteTotalTimeoutConstant;
    if (total != 0)
        pending.write.deadline = now + Milliseconds(total);
    PumpWrite(now);
    if (pending.write.record == nullptr)
        return {record.Status, record.Transferred};
    PendingRecords::Pend(record, &writerSide);
    return {kErrorIoPending, 0};
}

void PosixPort::Progress(Overlapped &record)
{
    const auto now = Clock::now();
    if (pending.read.record == &record)
        PumpRead(now);
    else if (pending.write.record == &record)
        PumpWrite(now);
    else if (pending.event.record == &record)
        LookAtModemLines(now);
}

void PosixPort::Side::Watch(std::vector<pollfd> &fds, int &timeoutMs)
{
    std::lock_guard lock(port.mutex);
    if (port.gone)
        return;
    const auto now = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (writer) {
        if (port.pending.write.record == nullptr)
            return;
        fds.push_back({port.fd, POLLOUT, 0});
        deadline = port.pending.write.deadline;
    } else {
        if (port.pending.read.record != nullptr) {
            fds.push_back({static_cast<int>(port.wake->WaitHandle()), POLLIN, 0});
            fds.push_back({port.fd, POLLIN, 0});
            deadline = port.ReadDeadline();
        }
        if (port.modemWatched && port.pending.event.record != nullptr)
            deadline = deadline ? std::min(*deadline, port.nextModemLook) : port.nextModemLook;
    }
    const int ms = TimeoutMs(deadline, now);
    if (ms >= 0)
        timeoutMs = timeoutMs < 0 ? ms : std::min(timeoutMs, ms);
}

void PosixPort::Side::Work(bool hungUp)
{
    std::lock_guard lock(port.mutex);
    if (!writer)
        port.wake->Reset();
    const auto now = Clock::now();
    if (writer) {
        port.PumpWrite(now);
        // A hang-up with the write still stuck: the far end is gone.
        if (hungUp && !port.gone && port.pending.write.record != nullptr)
            port.NoteGone();
    } else {
        port.PumpRead(now);
        port.LookAtModemLines(now);
    }
}

} // namespace port::posix
