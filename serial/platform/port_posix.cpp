// The port on Linux: one non-blocking terminal descriptor, and one eventfd for each thread to
// be woken by (a stop, new time-outs or event mask for the reader, a queued block for the
// writer). A thread waits in poll on the device and its eventfd; the time-outs are poll
// deadlines. The modem lines are looked at every kModemLook only while the event mask asks for
// them. The lock guards only what the owner sets and the threads read.
#include "serial/platform/port_posix.h"
#include "serial/platform/PosixWaits.h"
#include "serial/platform/port_network.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace port {

namespace posix {

namespace {

constexpr auto kModemLook = std::chrono::milliseconds(50);

std::mutex standInMutex;
DeviceStandIns standInStore;

DeviceStandIns StandIns()
{
    std::lock_guard lock(standInMutex);
    return standInStore;
}

// The rate's B-constant, else the rate itself (BOTHER with the speed fields).
tcflag_t BaudBits(std::uint32_t rate)
{
    constexpr std::pair<std::uint32_t, tcflag_t> kCodes[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &[r, code] : kCodes)
        if (r == rate)
            return code;
    return 0010000; // BOTHER
}

// One call, so a state the driver does not take leaves the line as it was. What termios has no
// place for: DTR handshake, RTS toggle, DSR flow and sensitivity are refused, as are speed 0 and
// speeds the driver does not take; RTS handshake is flow control both ways, as CTS flow is;
// Xon/Xoff limits and TxContinueOnXoff are kept without effect (the kernel sends Xoff and Xon
// at its own levels); 1.5 stop bits are sent as 2.
bool ApplyLineState(int fd, const LineState &s, bool marking)
{
    const std::uint32_t dtr = s.Control(kFlagDtrShift);
    const std::uint32_t rts = s.Control(kFlagRtsShift);
    KernelTermios t{};
    if (s.BaudRate == 0 || dtr == 2 || rts == 3 ||
        (s.Flags & (kFlagOutxDsrFlow | kFlagDsrSensitivity)) != 0 || ::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t = TermiosFor(s, t, marking);
    constexpr int kInputShift = 16; // IBSHIFT: the input speed too, or it stays as it was
    const tcflag_t bits = BaudBits(s.BaudRate);
    t.c_cflag = (t.c_cflag & ~(CBAUD | CBAUD << kInputShift)) | bits | bits << kInputShift;
    t.c_ispeed = t.c_ospeed = s.BaudRate;
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return false;
    // A device without modem lines (a pseudo-terminal) has nothing to hold.
    for (const auto &[line, control] : {std::pair{TIOCM_DTR, dtr}, std::pair{TIOCM_RTS, rts}})
        if (control != 2)
            ::ioctl(fd, control == 1 ? TIOCMBIS : TIOCMBIC, &line);
    return true;
}

// The counters count every transition, so a pulse between two looks is still seen; drivers
// that count nothing still give the levels.
bool ReadModemCounts(int fd, ModemCounts &counts)
{
    if (const auto standIn = StandIns().modemCounts)
        return standIn(fd, counts);
    serial_icounter_struct c{};
    int bits = 0;
    if (::ioctl(fd, TIOCGICOUNT, &c) == 0)
        counts = {static_cast<std::uint32_t>(c.dcd), static_cast<std::uint32_t>(c.rng)};
    else if (::ioctl(fd, TIOCMGET, &bits) == 0)
        counts = {(bits & TIOCM_CD) ? 1u : 0u, (bits & TIOCM_RNG) ? 1u : 0u};
    else
        return false;
    return true;
}

class PosixPort final : public Port
{
public:
    explicit PosixPort(int descriptor) : fd(descriptor), isTty(::ioctl(fd, TCGETS2, &saved) == 0)
    {
        struct stat info = {};
        const unsigned kind = ::fstat(fd, &info) == 0 ? major(info.st_rdev) : 0;
        marking = kind < 136 || kind > 143; // the kernel's pseudo-terminals have no line
    }

    ~PosixPort() override
    {
        if (isTty) {
            ::ioctl(fd, TCSETS2, &saved);
            ::ioctl(fd, TIOCNXCL);
        }
        ::flock(fd, LOCK_UN);
        for (const int descriptor : {fd, readerBell, writerBell})
            if (descriptor >= 0)
                ::close(descriptor);
    }

    int Init() // 0, or the system's error
    {
        readerBell = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        writerBell = readerBell < 0 ? -1 : ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (writerBell < 0)
            return errno;
        LineState device;
        if (GetState(device)) {
            device.Flags = kFlagBinary; // the rate and byte shape the device had, no flow control
            SetState(device);           // raw from the start
        }
        return 0;
    }

    bool IsCommHandle() override { return isTty; }
    bool Setup(std::uint32_t, std::uint32_t) override { return isTty; }

    bool Purge(std::uint32_t flags) override
    {
        if (isTty && (flags & kPurgeRxClear))
            ::tcflush(fd, TCIFLUSH);
        if (isTty && (flags & kPurgeTxClear)) {
            if (const auto slow = StandIns().flushingOutput)
                slow();
            ::tcflush(fd, TCOFLUSH);
        }
        return isTty;
    }

    // The kernel's word for what it holds, the port's for the rest.
    bool GetState(LineState &value) override
    {
        value = Locked().state;
        KernelTermios t{};
        if (!isTty || ::ioctl(fd, TCGETS2, &t) != 0)
            return false;
        value.BaudRate = t.c_ospeed != 0 ? t.c_ospeed : value.BaudRate;
        ReadLineShape(t, value);
        return true;
    }

    bool SetState(const LineState &value) override
    {
        if (!isTty || !ApplyLineState(fd, value, marking))
            return false;
        std::lock_guard lock(mutex);
        settings.state = value;
        return true;
    }

    bool GetTimeouts(Timeouts &value) override
    {
        value = Locked().timeouts;
        return isTty;
    }

    // A read under way takes them at once; a write keeps the deadline it started with.
    bool SetTimeouts(const Timeouts &value) override
    {
        Set(&Settings::timeouts, value);
        return isTty;
    }

    void SetEventMask(std::uint32_t value) override { Set(&Settings::eventMask, value); }

    void Stop() override
    {
        stopped = true;
        Ring(readerBell);
        Ring(writerBell);
    }

    void WakeWriter() override { Ring(writerBell); }

    Result Next(char *buffer, std::uint32_t size) override;

    bool ClearError(std::uint32_t &flags) override
    {
        flags = std::exchange(errors, 0);
        return true;
    }

    void EndReader() override
    {
        Purge(kPurgeRxAbort | kPurgeRxClear);
        reading = false;
        mark = 0;
        spareAt = spareEnd = 0;
    }

    Result Write(const char *data, std::uint32_t size) override;

    Result WaitForWriterWork() override
    {
        if (!stopped && !Await(-1, 0, writerBell, std::nullopt))
            return {Result::Failed, static_cast<std::uint32_t>(errno)};
        return {stopped ? Result::Stopped : Result::Bytes};
    }

private:
    // What the owner sets and the threads read.
    struct Settings
    {
        LineState state;
        Timeouts timeouts;
        std::uint32_t eventMask = 0;
    };
    Settings Locked()
    {
        std::lock_guard lock(mutex);
        return settings;
    }
    // The reader looks again at once.
    template <typename T> void Set(T Settings::*field, const T &value)
    {
        {
            std::lock_guard lock(mutex);
            settings.*field = value;
        }
        Ring(readerBell);
    }
    std::uint32_t Decode(char *bytes, std::size_t count, const LineState &s);
    void LookAtModemLines();

    const int fd;
    KernelTermios saved{};
    const bool isTty;
    bool marking = false; // the line can err: the line discipline marks errors
    int readerBell = -1;
    int writerBell = -1;

    std::mutex mutex; // never held across a call
    Settings settings;

    // The reader's own: the read under way, bytes read ahead, the marks and errors, the modem
    // lines.
    bool reading = false;
    std::uint32_t done = 0;
    char spare[4096];
    std::uint32_t spareAt = 0;
    std::uint32_t spareEnd = 0;
    Clock::time_point start, last, nextModemLook; // last: when bytes last came
    int mark = 0;                                 // bytes of an error mark seen: FF, then 00
    std::uint32_t errors = 0;
    std::uint32_t events = 0;
    bool modemKnown = false;
    bool modemGone = false;
    ModemCounts modem;
};

Result PosixPort::Next(char *buffer, std::uint32_t size)
{
    while (!stopped) {
        const Settings set = Locked();
        const std::uint32_t wanted = set.eventMask;
        Clock::time_point now = Clock::now();
        if (!reading) {
            reading = true;
            done = 0;
            start = now; // `last` stays: bytes read ahead came when they were read
        }
        const bool watchModem = (wanted & (kEvRlsd | kEvRing)) != 0 && !modemGone;
        modemKnown = modemKnown && watchModem;
        if (watchModem && now >= nextModemLook) {
            LookAtModemLines(); // may take a USB control transfer: the next look is after it
            nextModemLook = Clock::now() + kModemLook;
        }
        // As much as the driver has, whatever room the read has left: the rest serves the next
        // reads without a call (a terminal gives at most 4095 bytes, so a 4096-byte read would
        // otherwise take a second call, and wake the far end, for its last byte).
        const ssize_t n = spareAt < spareEnd ? 0 : ::read(fd, spare, sizeof spare);
        if (n > 0) {
            spareAt = 0;
            spareEnd = Decode(spare, static_cast<std::size_t>(n), set.state);
            last = now = Clock::now();
        } else if (spareAt == spareEnd && (n == 0 || (errno != EAGAIN && errno != EINTR))) {
            // Hung up or failed: what was read is delivered first, the next read fails again.
            reading = false;
            return done > 0 ? Result{Result::Bytes, done}
                            : Result{Result::Failed, kErrorGenFailure};
        }
        const std::uint32_t taken = std::min(spareEnd - spareAt, size - done);
        std::memcpy(buffer + done, spare + spareAt, taken);
        spareAt += taken;
        done += taken;
        const ReadEnd end = ReadEnds(set.timeouts, size, done, start, last, now);
        if (end.now) {
            reading = false;
            return {Result::Bytes, done};
        }
        // The read under way goes on at the next call.
        if (const std::uint32_t e = std::exchange(events, 0) & wanted)
            return {Result::Events, e};
        if (!Await(fd, POLLIN, readerBell,
                   watchModem ? Earlier(end.deadline, nextModemLook) : end.deadline))
            return {Result::Failed, static_cast<std::uint32_t>(errno)};
    }
    return {Result::Stopped};
}

// Takes the error marks out of the bytes, in place: FF FF is a data FF, FF 00 00 a break,
// FF 00 c a byte c received with an error; a mark split between reads is finished by the next.
std::uint32_t PosixPort::Decode(char *bytes, std::size_t count, const LineState &s)
{
    const bool dropNull = (s.Flags & kFlagNull) != 0;
    if (!marking && !dropNull)
        return static_cast<std::uint32_t>(count);
    const bool replace = (s.Flags & kFlagErrorChar) && (s.Flags & kFlagParity);
    std::size_t out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (mark == 2) {
            errors |= c == 0 ? kCeBreak : kCeFrame; // a parity error reads as a framing error
            events |= kEvErr;
            if (c != 0)
                bytes[out++] = replace ? s.ErrorChar : static_cast<char>(c);
            mark = 0;
        } else if (mark == 1) {
            mark = c == 0 ? 2 : 0;
            if (c != 0)
                bytes[out++] = static_cast<char>(c); // FF FF; anything else is no mark
        } else if (c == 0xFF && marking) {
            mark = 1;
        } else if (c != 0 || !dropNull) {
            bytes[out++] = static_cast<char>(c);
        }
    }
    return static_cast<std::uint32_t>(out);
}

void PosixPort::LookAtModemLines()
{
    ModemCounts now;
    if (!ReadModemCounts(fd, now)) {
        modemGone = true; // no modem lines, or the device went away: the read says so
        return;
    }
    if (modemKnown)
        events |=
            (now.carrier != modem.carrier ? kEvRlsd : 0) | (now.ring != modem.ring ? kEvRing : 0);
    modem = now;
    modemKnown = true;
}

Result PosixPort::Write(const char *data, std::uint32_t size)
{
    const Timeouts t = Locked().timeouts;
    const std::uint64_t total =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * size + t.WriteTotalTimeoutConstant;
    const Deadline deadline = total != 0 ? Deadline(After(Clock::now(), total)) : std::nullopt;
    std::uint32_t written = 0;
    int ready = 0;
    while (!stopped) {
        const ssize_t n = ::write(fd, data + written, size - written);
        written += n > 0 ? static_cast<std::uint32_t>(n) : 0;
        if (written == size || (deadline && Clock::now() >= *deadline))
            return {Result::Bytes, written};
        // The far end gone (adapter removed, master side closed), or the write stuck there.
        const bool stuck = n <= 0 && (ready & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || stuck)
            return {Result::Failed, kErrorGenFailure};
        if (n <= 0) {
            const std::optional<Woken> woken = Await(fd, POLLOUT, writerBell, deadline);
            if (!woken)
                return {Result::Failed, static_cast<std::uint32_t>(errno)};
            ready = woken->events;
        }
    }
    return {Result::Stopped};
}

std::unique_ptr<Port> Failed(OpenFailure *failure, const std::string &path, int error)
{
    OpenFailureKind kind = OpenFailureKind::Other;
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        kind = OpenFailureKind::NoSuchDevice;
    else if (error == EACCES || error == EPERM || error == EROFS)
        kind = OpenFailureKind::AccessDenied;
    else if (error == EBUSY || error == EWOULDBLOCK)
        kind = OpenFailureKind::Busy;
    if (failure != nullptr)
        *failure = {kind, path, std::strerror(error)};
    return nullptr;
}

} // namespace

KernelTermios TermiosFor(const LineState &s, const KernelTermios &base, bool marking)
{
    KernelTermios t = base;
    t.c_iflag = (marking ? INPCK | PARMRK : IGNBRK) | ((s.Flags & kFlagOutX) ? IXON : 0) |
                ((s.Flags & kFlagInX) ? IXOFF : 0);
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CREAD | CLOCAL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[std::clamp<int>(s.ByteSize, 5, 8) - 5];
    static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR,
                                             PARENB | CMSPAR};
    t.c_cflag |= kParities[std::min<int>(s.Parity, 4)];
    if (s.StopBits != 0)
        t.c_cflag |= CSTOPB; // 1.5 stop bits are sent as 2
    if ((s.Flags & kFlagOutxCtsFlow) || s.Control(kFlagRtsShift) == 2)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1; // with O_NONBLOCK an empty queue gives EAGAIN, so 0 means hung up
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.XoffChar);
    return t;
}

void ReadLineShape(const KernelTermios &t, LineState &s)
{
    const tcflag_t size = t.c_cflag & CSIZE;
    s.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    const bool odd = (t.c_cflag & PARODD) != 0;
    s.Parity = !(t.c_cflag & PARENB) ? 0 : (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    const auto set = [&s](std::uint32_t bit, bool on) {
        s.Flags = on ? s.Flags | bit : s.Flags & ~bit;
    };
    set(kFlagOutX, (t.c_iflag & IXON) != 0);
    set(kFlagInX, (t.c_iflag & IXOFF) != 0);
    if (!(t.c_cflag & CRTSCTS) || s.Control(kFlagRtsShift) != 2)
        set(kFlagOutxCtsFlow, (t.c_cflag & CRTSCTS) != 0);
    s.XonChar = static_cast<char>(t.c_cc[VSTART]);
    s.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

DeviceStandIns SetDeviceStandIns(DeviceStandIns standIns)
{
    std::lock_guard lock(standInMutex);
    return std::exchange(standInStore, std::move(standIns));
}

std::string DefaultDeviceName(const std::string &name, const std::string &deviceDir)
{
    if (!name.empty() && name.front() == '/')
        return name;
    if (name.size() > 3 && name.size() <= 6 && ::strncasecmp(name.c_str(), "COM", 3) == 0 &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
        const int number = std::stoi(name.substr(3));
        if (number >= 1 && number <= 255) {
            const std::string link = deviceDir + "/COM" + std::to_string(number);
            return ::access(link.c_str(), F_OK) == 0
                       ? link
                       : deviceDir + "/ttyS" + std::to_string(number - 1);
        }
    }
    return deviceDir + "/" + name;
}

} // namespace posix

std::string PlatformDeviceName(const std::string &name)
{
    return posix::DefaultDeviceName(name, "/dev");
}

// A network port by its URL, else a serial device.
std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure)
{
    if (failure != nullptr)
        *failure = {};
    static const std::string kPrefix = "\\\\.\\";
    const std::string name =
        deviceName.rfind(kPrefix, 0) == 0 ? deviceName.substr(kPrefix.size()) : deviceName;
    if (IsNetworkDevice(name))
        return network::Open(name, failure);
    const std::string path = ResolveDevice(name);
    if (path.empty())
        return posix::Failed(failure, name, ENOENT);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return posix::Failed(failure, path, errno);
    // TIOCEXCL keeps other users out but not root; the lock covers every process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return posix::Failed(failure, path, error);
    }
    ::ioctl(fd, TIOCEXCL); // not a terminal: nothing to keep out
    auto port = std::make_unique<posix::PosixPort>(fd);
    if (const int error = port->Init(); error != 0)
        return posix::Failed(failure, path, error);
    if (failure != nullptr)
        failure->device = path;
    return port;
}

void ApplyPriorityToCurrentThread(ThreadPriority priority)
{
    const int raise = static_cast<int>(priority);
    const auto tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (raise != 0 && errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current - raise); // refused without the privilege
}

} // namespace port
