#include "serial/platform/posix/PosixPort.h"

#include <cerrno>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/platform/posix/LineSettings.h"

namespace port::posix {

Clock::duration Milliseconds(std::uint64_t ms)
{
    constexpr std::uint64_t kLongest = 100ull * 365 * 24 * 3600 * 1000; // a century
    return std::chrono::milliseconds(std::min(ms, kLongest));
}

PosixPort::PosixPort(int descriptor) : fd(descriptor), isTty(::tcgetattr(descriptor, &saved) == 0)
{
    if (isTty) {
        const std::uint32_t speed = LineSpeed(fd);
        state.BaudRate = speed != 0 ? speed : 9600;
        const tcflag_t size = saved.c_cflag & CSIZE;
        state.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
        state.StopBits = (saved.c_cflag & CSTOPB) ? 2 : 0;
        if (saved.c_cflag & PARENB)
            state.Parity = (saved.c_cflag & PARODD) ? 1 : 2;
        ::ioctl(fd, TIOCGICOUNT, &counters);
    }
}

int PosixPort::Init()
{
    if (isTty)
        ApplyLineState(fd, state); // raw from the start, at the rate the device had
    wake = Event::Create(false);
    if (!wake)
        return errno;
    return StartThread(driver, [this] { DriverLoop(); }) ? 0 : EAGAIN;
}

PosixPort::~PosixPort()
{
    DetachReadSource();
    modemWatch.Stop();
    if (driver.joinable()) {
        stopping = true;
        Wake();
        driver.join();
    }
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
    std::lock_guard lock(mutex);
    AbortPurged(flags);
    if (isTty && (flags & kPurgeRxClear)) {
        ::tcflush(fd, TCIFLUSH);
        mark = Mark::None;
        held.reset();
    }
    if (isTty && (flags & kPurgeTxClear))
        ::tcflush(fd, TCOFLUSH);
    return true;
}

// A state the line cannot take is refused whole and the one in force stays.
bool PosixPort::SetState(const LineState &value)
{
    std::lock_guard lock(mutex);
    if (!isTty || !ApplyLineState(fd, value))
        return false;
    state = value;
    return true;
}

bool PosixPort::SetTimeouts(const Timeouts &value)
{
    {
        std::lock_guard lock(mutex);
        timeouts = value;
    }
    // A pending write keeps the deadline it started with; a pending read takes the new
    // time-outs at its waiter's next look (its next byte or its old time-out).
    Wake();
    return isTty;
}

bool PosixPort::SetMask(std::uint32_t mask)
{
    {
        std::lock_guard lock(mutex);
        commMask = mask;
        pendingEvents = 0;
        pending.FinishEvent(kErrorSuccess, 0);
    }
    if (isTty && (mask & (kEvRlsd | kEvRing)))
        modemWatch.Start(fd, [this](std::uint32_t events) {
            std::lock_guard lock(mutex);
            RaiseEvents(events);
        });
    return true;
}

IoResult PosixPort::WaitEvent(std::uint32_t &mask, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone || pending.event.record != nullptr)
        return {kErrorGenFailure, 0};
    if (pendingEvents != 0) {
        pending.BeginEvent(record, mask);
        pending.FinishEvent(kErrorSuccess, pendingEvents);
        pendingEvents = 0;
        return {kErrorSuccess, 0};
    }
    pending.BeginEvent(record, mask);
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
    PumpRead(pending.read.start);
    if (pending.read.record == nullptr)
        return {record.Status, record.Transferred};
    if (sourced != &record) {
        if (sourced != nullptr)
            sourced->event->SetSource(nullptr);
        record.event->SetSource(&readSource);
        sourced = &record;
    }
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
    Wake();
    return {kErrorIoPending, 0};
}

// The driver writes and reads only under the lock, so once this returns it has let go of the
// record's buffer.
void PosixPort::Cancel(Overlapped &record)
{
    std::lock_guard lock(mutex);
    pending.Cancel(record);
    if (sourced == &record) {
        record.event->SetSource(nullptr);
        sourced = nullptr;
    }
}

void PosixPort::DetachReadSource()
{
    std::lock_guard lock(mutex);
    if (sourced != nullptr)
        sourced->event->SetSource(nullptr);
    sourced = nullptr;
}

bool PosixPort::ReadSource::Watch(NativeHandle &handle, int &timeoutMs)
{
    std::lock_guard lock(port.mutex);
    if (port.gone || port.pending.read.record == nullptr)
        return false;
    handle = port.fd;
    timeoutMs = TimeoutMs(port.ReadDeadline(), Clock::now());
    return true;
}

void PosixPort::ReadSource::Work()
{
    std::lock_guard lock(port.mutex);
    port.PumpRead(Clock::now());
}

} // namespace port::posix
