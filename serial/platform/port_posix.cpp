// The port layer on Linux: eventfd events, poll, termios.
//
// Overlapped I/O is emulated by one driver thread per open port. An operation first tries to
// complete at once; otherwise it stays pending and the driver, blocked in poll on the device
// and a wake-up event, carries it on and signals the record's event when it completes. The
// read time-outs (the interval cutting the stream into chunks, the totals) are the driver's
// poll time-out while a read is pending; with nothing pending the driver sleeps in poll.
#include "Port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

// Kernel layout for rates outside the B-constants (the glibc header lacks it).
struct termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};
constexpr tcflag_t kBaudOther = 0010000; // BOTHER
constexpr int kInputBaudShift = 16;      // IBSHIFT

namespace port {

namespace {

using Clock = std::chrono::steady_clock;

int Fd(NativeHandle handle)
{
    return static_cast<int>(handle);
}

bool PollOne(int fd, short events, int timeoutMs)
{
    pollfd p{fd, events, 0};
    int r;
    do {
        r = ::poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & events) != 0;
}

struct BaudEntry
{
    std::uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBaudTable[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

std::optional<speed_t> BaudCode(std::uint32_t rate)
{
    for (const auto &e : kBaudTable)
        if (e.rate == rate)
            return e.code;
    return std::nullopt;
}

std::uint32_t BaudRateOf(speed_t code)
{
    for (const auto &e : kBaudTable)
        if (e.code == code)
            return e.rate;
    return 9600;
}

// A rate the B-constants lack, where the driver takes it.
void SetCustomBaud(int fd, std::uint32_t rate)
{
    termios2 t2{};
    if (::ioctl(fd, TCGETS2, &t2) != 0)
        return;
    t2.c_cflag = (t2.c_cflag & ~CBAUD) | kBaudOther;
    t2.c_cflag &= ~(CBAUD << kInputBaudShift);
    t2.c_cflag |= kBaudOther << kInputBaudShift;
    t2.c_ispeed = rate;
    t2.c_ospeed = rate;
    ::ioctl(fd, TCSETS2, &t2);
}

// Holds DTR or RTS on or off; a device without modem lines (a pseudo-terminal) says ENOTTY,
// which only means there is nothing to hold.
void SetModemLine(int fd, int line, bool on)
{
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

void NoSignalAction(int) {}

// The modem watcher blocks in an ioctl that only a signal interrupts.
void InstallWakeSignal()
{
    struct sigaction current
    {
    };
    ::sigaction(SIGUSR2, nullptr, &current);
    if (current.sa_handler != SIG_DFL)
        return;
    struct sigaction action
    {
    };
    action.sa_handler = NoSignalAction;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR2, &action, nullptr);
}

std::string DefaultResolve(const std::string &name)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (name.size() > 3 && ::strncasecmp(name.c_str(), "COM", 3) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos && name.size() <= 6) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1 && number <= 255) {
            const std::string link = "/dev/COM" + std::to_string(number);
            if (::access(link.c_str(), F_OK) == 0)
                return link;
            return "/dev/ttyS" + std::to_string(number - 1);
        }
    }
    return "/dev/" + name;
}

DeviceResolver &Resolver()
{
    static DeviceResolver resolver;
    return resolver;
}

class PosixPort final : public Port
{
public:
    explicit PosixPort(int fd);
    ~PosixPort() override;
    bool Init();

    bool IsCommHandle() override { return isTty; }
    bool Setup(std::uint32_t, std::uint32_t) override { return isTty; }
    bool Purge(std::uint32_t flags) override;
    bool GetState(LineState &value) override;
    bool SetState(const LineState &value) override;
    bool GetTimeouts(Timeouts &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    bool SetMask(std::uint32_t mask) override;
    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;
    IoResult GetResult(Overlapped &record, bool wait) override;
    IoResult ClearError(std::uint32_t &errors) override;
    void Cancel(Overlapped &record) override;

private:
    struct PendingRead
    {
        Overlapped *record = nullptr;
        char *buffer = nullptr;
        std::uint32_t size = 0;
        std::uint32_t done = 0;
        Clock::time_point start, last;
    };
    struct PendingWrite
    {
        Overlapped *record = nullptr;
        const char *data = nullptr;
        std::uint32_t size = 0;
        std::uint32_t done = 0;
        std::optional<Clock::time_point> deadline;
    };
    struct PendingEvent
    {
        Overlapped *record = nullptr;
        std::uint32_t *mask = nullptr;
    };
    enum class Mark
    {
        None,
        SawFF,
        SawFF00
    };

    // All of the following run with `mutex` held.
    void Begin(Overlapped &record);
    static void Complete(Overlapped &record, std::uint32_t status, std::uint32_t count);
    void PumpRead(Clock::time_point now);
    void PumpWrite(Clock::time_point now);
    std::optional<Clock::time_point> ReadDeadline() const;
    bool ReadReturnsAtOnce() const;
    bool ReadReturnsOnAnyByte() const;
    std::uint32_t Decode(const unsigned char *raw, std::size_t count, char *out);
    std::uint32_t ErrorsFromCounters();
    void RaiseEvents(std::uint32_t events);
    void NoteGone();
    int NextTimeoutMs(Clock::time_point now) const;
    void ApplyLineState();

    void DriverLoop();
    void Wake() { wake->Set(); }
    void StartModemWatcher();
    void ModemWatchLoop();
    void StopModemWatcher();

    int fd;
    bool isTty;
    termios saved{};

    std::mutex mutex;
    LineState state;
    Timeouts timeouts;
    std::uint32_t commMask = 0;
    std::uint32_t errors = 0;
    std::uint32_t pendingEvents = 0;
    bool gone = false;
    PendingRead read;
    PendingWrite write;
    PendingEvent event;
    Mark mark = Mark::None;
    bool countersSupported = true;
    serial_icounter_struct counters{};

    std::unique_ptr<Event> wake;
    std::atomic<bool> stopping{false};
    std::thread driver;

    std::thread modemWatcher;
    std::atomic<bool> modemStop{false};
    std::atomic<bool> modemEnded{false};
};

PosixPort::PosixPort(int descriptor) : fd(descriptor), isTty(::tcgetattr(descriptor, &saved) == 0)
{
    if (isTty) {
        state.BaudRate = BaudRateOf(::cfgetospeed(&saved));
        const tcflag_t size = saved.c_cflag & CSIZE;
        state.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
        state.StopBits = (saved.c_cflag & CSTOPB) ? 2 : 0;
        if (saved.c_cflag & PARENB)
            state.Parity = (saved.c_cflag & PARODD) ? 1 : 2;
        ::ioctl(fd, TIOCGICOUNT, &counters);
    }
}

bool PosixPort::Init()
{
    ApplyLineState(); // raw from the start, at the rate the device had
    wake = Event::Create(false);
    if (!wake)
        return false;
    try {
        driver = std::thread([this] { DriverLoop(); });
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

PosixPort::~PosixPort()
{
    StopModemWatcher();
    if (driver.joinable()) {
        stopping = true;
        Wake();
        driver.join();
    }
    {
        std::lock_guard lock(mutex);
        for (Overlapped *r : {read.record, write.record, event.record})
            if (r != nullptr)
                Complete(*r, kErrorOperationAborted, 0);
        read.record = write.record = event.record = nullptr;
    }
    if (isTty) {
        ::tcsetattr(fd, TCSANOW, &saved);
        ::ioctl(fd, TIOCNXCL);
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
}

void PosixPort::Begin(Overlapped &record)
{
    record.UsedOn = this;
    record.Status = kErrorIoPending;
    record.Transferred = 0;
    record.event->Reset();
}

void PosixPort::Complete(Overlapped &record, std::uint32_t status, std::uint32_t count)
{
    record.Status = status;
    record.Transferred = count;
    record.event->Set();
}

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
    using std::chrono::milliseconds;
    std::optional<Clock::time_point> deadline;
    const std::uint32_t interval = timeouts.ReadIntervalTimeout;
    if (interval != 0 && interval != kMaxDword && read.done > 0)
        deadline = read.last + milliseconds(interval);
    std::uint64_t total = 0;
    if (ReadReturnsOnAnyByte())
        total = timeouts.ReadTotalTimeoutConstant;
    else
        total = std::uint64_t{timeouts.ReadTotalTimeoutMultiplier} * read.size +
                timeouts.ReadTotalTimeoutConstant;
    if (total != 0) {
        const auto end = read.start + milliseconds(total);
        deadline = deadline ? std::min(*deadline, end) : end;
    }
    return deadline;
}

std::uint32_t PosixPort::ErrorsFromCounters()
{
    if (!countersSupported)
        return 0;
    serial_icounter_struct now{};
    if (::ioctl(fd, TIOCGICOUNT, &now) != 0) {
        countersSupported = false;
        return 0;
    }
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
// FF 00 c a byte c received with a framing or parity error. Never gives more bytes than it got.
std::uint32_t PosixPort::Decode(const unsigned char *raw, std::size_t count, char *out)
{
    std::uint32_t produced = 0;
    std::uint32_t marked = 0;
    const bool dropNull = (state.Flags & kFlagNull) != 0;
    const bool replace = (state.Flags & kFlagErrorChar) && (state.Flags & kFlagParity);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char c = raw[i];
        switch (mark) {
        case Mark::None:
            if (c == 0xFF)
                mark = Mark::SawFF;
            else if (!(dropNull && c == 0))
                out[produced++] = static_cast<char>(c);
            break;
        case Mark::SawFF:
            mark = Mark::None;
            if (c == 0) {
                mark = Mark::SawFF00;
            } else {
                out[produced++] = static_cast<char>(0xFF);
                if (c != 0xFF)
                    out[produced++] = static_cast<char>(c);
            }
            break;
        case Mark::SawFF00:
            mark = Mark::None;
            if (c == 0) {
                marked |= kCeBreak;
            } else {
                marked |= kCeFrame;
                out[produced++] = replace ? state.ErrorChar : static_cast<char>(c);
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

void PosixPort::RaiseEvents(std::uint32_t events)
{
    events &= commMask;
    if (events == 0)
        return;
    if (event.record != nullptr) {
        *event.mask = events;
        Complete(*event.record, kErrorSuccess, 0);
        event.record = nullptr;
    } else {
        pendingEvents |= events;
    }
}

// The far end went away (adapter removed, master side closed): what is pending fails, except
// that bytes already in a read are delivered first.
void PosixPort::NoteGone()
{
    gone = true;
    const bool delivered = read.record != nullptr && read.done > 0;
    if (read.record != nullptr) {
        Complete(*read.record, delivered ? kErrorSuccess : kErrorGenFailure, read.done);
        read.record = nullptr;
    }
    if (write.record != nullptr) {
        Complete(*write.record, kErrorGenFailure, write.done);
        write.record = nullptr;
    }
    if (event.record != nullptr && !delivered) {
        Complete(*event.record, kErrorGenFailure, 0);
        event.record = nullptr;
    }
}

void PosixPort::PumpRead(Clock::time_point now)
{
    if (read.record == nullptr)
        return;
    bool lost = false;
    bool got = false;
    while (read.done < read.size) {
        unsigned char raw[4096];
        const std::size_t room = std::min<std::size_t>(read.size - read.done, sizeof raw);
        const ssize_t n = ::read(fd, raw, room);
        if (n > 0) {
            read.done += Decode(raw, static_cast<std::size_t>(n), read.buffer + read.done);
            got = true;
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
        (ReadReturnsOnAnyByte() && read.done > 0) || (deadline && now >= *deadline)) {
        Complete(*read.record, kErrorSuccess, read.done);
        read.record = nullptr;
    }
}

void PosixPort::PumpWrite(Clock::time_point now)
{
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
    if (write.done == write.size || (write.deadline && now >= *write.deadline)) {
        Complete(*write.record, kErrorSuccess, write.done);
        write.record = nullptr;
    }
}

int PosixPort::NextTimeoutMs(Clock::time_point now) const
{
    std::optional<Clock::time_point> next;
    if (read.record != nullptr)
        next = ReadDeadline();
    if (write.record != nullptr && write.deadline)
        next = next ? std::min(*next, *write.deadline) : *write.deadline;
    if (!next)
        return -1;
    if (*next <= now)
        return 0;
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(*next - now);
    return static_cast<int>(std::min<std::int64_t>((micros.count() + 999) / 1000, 1 << 30));
}

void PosixPort::DriverLoop()
{
    while (!stopping) {
        pollfd fds[2] = {{Fd(wake->WaitHandle()), POLLIN, 0}, {-1, 0, 0}};
        int timeout;
        {
            std::lock_guard lock(mutex);
            short events = 0;
            if (!gone && read.record != nullptr)
                events |= POLLIN;
            if (!gone && write.record != nullptr)
                events |= POLLOUT;
            if (events != 0)
                fds[1] = {fd, events, 0};
            timeout = NextTimeoutMs(Clock::now());
        }
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR)
            fds[1].revents = POLLERR;
        wake->Reset();
        std::lock_guard lock(mutex);
        const auto now = Clock::now();
        PumpRead(now);
        PumpWrite(now);
        const bool hungUp = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (hungUp && !gone && (read.record != nullptr || write.record != nullptr))
            NoteGone();
    }
}

void PosixPort::ApplyLineState()
{
    if (!isTty)
        return;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return;
    // Raw, with error marking so that framing and parity errors and breaks can be reported.
    t.c_iflag = INPCK | PARMRK;
    if (state.Flags & kFlagOutX)
        t.c_iflag |= IXON;
    if (state.Flags & kFlagInX)
        t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[std::clamp<int>(state.ByteSize, 5, 8) - 5];
    static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                             PARENB | CMSPAR};
    t.c_cflag |= kParities[std::min<int>(state.Parity, 4)];
    if (state.StopBits != 0)
        t.c_cflag |= CSTOPB; // 1.5 stop bits are sent as 2
    const std::uint32_t dtr = (state.Flags >> kFlagDtrShift) & kControlMask;
    const std::uint32_t rts = (state.Flags >> kFlagRtsShift) & kControlMask;
    if ((state.Flags & kFlagOutxCtsFlow) || rts == 2)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1; // with O_NONBLOCK an empty queue gives EAGAIN, so 0 means hung up
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
    const auto code = BaudCode(state.BaudRate);
    if (code) {
        ::cfsetispeed(&t, *code);
        ::cfsetospeed(&t, *code);
    }
    ::tcsetattr(fd, TCSANOW, &t);
    if (!code)
        SetCustomBaud(fd, state.BaudRate);
    if (dtr != 2)
        SetModemLine(fd, TIOCM_DTR, dtr == 1);
    if (rts != 2)
        SetModemLine(fd, TIOCM_RTS, rts == 1);
}

bool PosixPort::Purge(std::uint32_t flags)
{
    std::lock_guard lock(mutex);
    if ((flags & kPurgeRxAbort) && read.record != nullptr) {
        Complete(*read.record, kErrorOperationAborted, read.done);
        read.record = nullptr;
    }
    if ((flags & kPurgeTxAbort) && write.record != nullptr) {
        Complete(*write.record, kErrorOperationAborted, write.done);
        write.record = nullptr;
    }
    if (isTty && (flags & kPurgeRxClear)) {
        ::tcflush(fd, TCIFLUSH);
        mark = Mark::None;
    }
    if (isTty && (flags & kPurgeTxClear))
        ::tcflush(fd, TCOFLUSH);
    return true;
}

bool PosixPort::GetState(LineState &value)
{
    std::lock_guard lock(mutex);
    value = state;
    return isTty;
}

bool PosixPort::SetState(const LineState &value)
{
    std::lock_guard lock(mutex);
    state = value;
    ApplyLineState();
    return isTty;
}

bool PosixPort::GetTimeouts(Timeouts &value)
{
    std::lock_guard lock(mutex);
    value = timeouts;
    return isTty;
}

bool PosixPort::SetTimeouts(const Timeouts &value)
{
    {
        std::lock_guard lock(mutex);
        timeouts = value;
    }
    Wake(); // a pending read's deadline may have moved
    return isTty;
}

bool PosixPort::SetMask(std::uint32_t mask)
{
    {
        std::lock_guard lock(mutex);
        commMask = mask;
        pendingEvents = 0;
        if (event.record != nullptr) {
            *event.mask = 0;
            Complete(*event.record, kErrorSuccess, 0);
            event.record = nullptr;
        }
    }
    if (mask & (kEvRlsd | kEvRing))
        StartModemWatcher();
    return true;
}

IoResult PosixPort::WaitEvent(std::uint32_t &mask, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone || event.record != nullptr)
        return {kErrorGenFailure, 0};
    Begin(record);
    if (pendingEvents != 0) {
        mask = pendingEvents;
        pendingEvents = 0;
        Complete(record, kErrorSuccess, 0);
        return {kErrorSuccess, 0};
    }
    event = {&record, &mask};
    return {kErrorIoPending, 0};
}

IoResult PosixPort::Read(char *buffer, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone) {
        if (event.record != nullptr) {
            Complete(*event.record, kErrorGenFailure, 0);
            event.record = nullptr;
        }
        return {kErrorGenFailure, 0};
    }
    if (read.record != nullptr || size == 0)
        return {kErrorGenFailure, 0};
    Begin(record);
    const auto now = Clock::now();
    read = {&record, buffer, size, 0, now, now};
    PumpRead(now);
    if (read.record == nullptr)
        return {record.Status, record.Transferred};
    Wake();
    return {kErrorIoPending, 0};
}

IoResult PosixPort::Write(const char *data, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (gone || write.record != nullptr)
        return {kErrorGenFailure, 0};
    Begin(record);
    const auto now = Clock::now();
    write = {&record, data, size, 0, std::nullopt};
    const std::uint64_t total = std::uint64_t{timeouts.WriteTotalTimeoutMultiplier} * size +
                                timeouts.WriteTotalTimeoutConstant;
    if (total != 0)
        write.deadline = now + std::chrono::milliseconds(total);
    PumpWrite(now);
    if (write.record == nullptr)
        return {record.Status, record.Transferred};
    Wake();
    return {kErrorIoPending, 0};
}

IoResult PosixPort::GetResult(Overlapped &record, bool wait)
{
    if (wait)
        while (WaitAny({record.event.get()}) != 0) {
        }
    std::lock_guard lock(mutex);
    if (record.Status == kErrorIoPending)
        return {kErrorIoIncomplete, 0};
    return {record.Status, record.Transferred};
}

IoResult PosixPort::ClearError(std::uint32_t &flags)
{
    std::lock_guard lock(mutex);
    errors |= ErrorsFromCounters();
    flags = errors;
    errors = 0;
    return {kErrorSuccess, 0};
}

void PosixPort::Cancel(Overlapped &record)
{
    std::lock_guard lock(mutex);
    for (Overlapped **pending : {&read.record, &write.record, &event.record})
        if (*pending == &record) {
            Complete(record, kErrorOperationAborted, 0);
            *pending = nullptr;
        }
}

// Carrier-detect and ring changes, on devices that have modem lines. The wait for them is an
// ioctl that blocks, so it has a thread of its own; a pseudo-terminal has no modem lines.
void PosixPort::StartModemWatcher()
{
    int bits = 0;
    if (!isTty || modemWatcher.joinable() || ::ioctl(fd, TIOCMGET, &bits) != 0)
        return;
    InstallWakeSignal();
    try {
        modemWatcher = std::thread([this] { ModemWatchLoop(); });
    } catch (const std::system_error &) {
    }
}

void PosixPort::ModemWatchLoop()
{
    int last = 0;
    serial_icounter_struct before{};
    const bool counted = ::ioctl(fd, TIOCGICOUNT, &before) == 0;
    ::ioctl(fd, TIOCMGET, &last);
    while (!modemStop) {
        if (::ioctl(fd, TIOCMIWAIT, TIOCM_CD | TIOCM_RNG) != 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        int now = 0;
        serial_icounter_struct after{};
        if (::ioctl(fd, TIOCMGET, &now) != 0)
            break;
        std::uint32_t events = 0;
        if (counted && ::ioctl(fd, TIOCGICOUNT, &after) == 0) {
            if (after.dcd != before.dcd)
                events |= kEvRlsd;
            if (after.rng != before.rng)
                events |= kEvRing;
            before = after;
        } else {
            if ((now ^ last) & TIOCM_CD)
                events |= kEvRlsd;
            if ((now ^ last) & TIOCM_RNG)
                events |= kEvRing;
        }
        last = now;
        std::lock_guard lock(mutex);
        RaiseEvents(events);
    }
    modemEnded = true;
}

void PosixPort::StopModemWatcher()
{
    if (!modemWatcher.joinable())
        return;
    modemStop = true;
    // The signal may arrive just before the ioctl starts, so repeat it until the loop ends.
    while (!modemEnded) {
        ::pthread_kill(modemWatcher.native_handle(), SIGUSR2);
        PollOne(-1, 0, 5);
    }
    modemWatcher.join();
}

} // namespace

std::unique_ptr<Event> Event::Create(bool signalled)
{
    const int fd = ::eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<Event>(new Event(fd));
}

Event::~Event()
{
    ::close(Fd(handle));
}

void Event::Set()
{
    const std::uint64_t one = 1;
    while (::write(Fd(handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset()
{
    std::uint64_t count = 0;
    while (::read(Fd(handle), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool Event::IsSet() const
{
    return PollOne(Fd(handle), POLLIN, 0);
}

int WaitAny(std::initializer_list<const Waitable *> objects)
{
    std::vector<pollfd> fds;
    fds.reserve(objects.size());
    for (const Waitable *w : objects)
        fds.push_back({Fd(w->WaitHandle()), POLLIN, 0});
    for (;;) {
        const int r = ::poll(fds.data(), fds.size(), -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return kWaitFailed;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return kWaitFailed;
            if (fds[i].revents & POLLIN)
                return static_cast<int>(i);
        }
    }
}

DeviceResolver SetDeviceResolver(DeviceResolver resolver)
{
    DeviceResolver previous = std::move(Resolver());
    Resolver() = std::move(resolver);
    return previous;
}

std::string ResolveDevice(const std::string &name)
{
    return Resolver() ? Resolver()(name) : DefaultResolve(name);
}

namespace {

OpenFailureKind KindOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return OpenFailureKind::NoSuchDevice;
    case EACCES:
    case EPERM:
    case EROFS:
        return OpenFailureKind::AccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return OpenFailureKind::Busy;
    case ENOTTY:
        return OpenFailureKind::NotSerialDevice;
    default:
        return OpenFailureKind::Other;
    }
}

std::unique_ptr<Port> Failed(OpenFailure *failure, const std::string &path, int error)
{
    if (failure != nullptr)
        *failure = {KindOf(error), path, std::strerror(error)};
    return nullptr;
}

} // namespace

std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure)
{
    if (failure != nullptr)
        *failure = {};
    static const std::string kPrefix = "\\\\.\\";
    std::string name = deviceName;
    if (name.rfind(kPrefix, 0) == 0)
        name.erase(0, kPrefix.size());
    const std::string path = ResolveDevice(name);
    if (path.empty())
        return Failed(failure, name, ENOENT);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return Failed(failure, path, errno);
    // TIOCEXCL keeps other users out but not root; the lock covers every process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return Failed(failure, path, error);
    }
    if (::isatty(fd))
        ::ioctl(fd, TIOCEXCL);
    auto port = std::make_unique<PosixPort>(fd);
    if (!port->Init())
        return Failed(failure, path, errno != 0 ? errno : EAGAIN);
    return port;
}

void ApplyPriorityToCurrentThread(ThreadPriority priority)
{
    const int raise = priority == ThreadPriority::Highest       ? 2
                      : priority == ThreadPriority::AboveNormal ? 1
                                                                : 0;
    if (raise == 0)
        return;
    const auto tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current - raise); // refused without the privilege
}

} // namespace port
