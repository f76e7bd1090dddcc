#include "serial/platform/posix/LineSettings.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

#include <linux/serial.h>
#include <sys/ioctl.h>

// Kernel layout for rates outside the B-constants (the glibc header lacks it).
struct termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

namespace port::posix {

namespace {

constexpr tcflag_t kBaudOther = 0010000; // BOTHER
constexpr int kInputBaudShift = 16;      // IBSHIFT

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

// Both directions at one rate: a B-constant where there is one, else the rate itself. Setting
// the input speed too matters: after a custom rate it would otherwise stay custom.
bool SetSpeed(int fd, std::uint32_t rate)
{
    termios2 t2{};
    if (::ioctl(fd, TCGETS2, &t2) != 0)
        return false;
    const auto code = BaudCode(rate);
    const tcflag_t bits = code ? *code : kBaudOther;
    t2.c_cflag &= ~(CBAUD | (CBAUD << kInputBaudShift));
    t2.c_cflag |= bits | (bits << kInputBaudShift);
    t2.c_ispeed = rate;
    t2.c_ospeed = rate;
    return ::ioctl(fd, TCSETS2, &t2) == 0;
}

// Holds DTR or RTS on or off; a device without modem lines (a pseudo-terminal) says ENOTTY,
// which only means there is nothing to hold.
void SetModemLine(int fd, int line, bool on)
{
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

std::mutex standInMutex;
DeviceStandIns standInStore;

DeviceStandIns StandIns()
{
    std::lock_guard lock(standInMutex);
    return standInStore;
}

} // namespace

const char *Unsupported(const LineState &state)
{
    const std::uint32_t dtr = (state.Flags >> kFlagDtrShift) & kControlMask;
    const std::uint32_t rts = (state.Flags >> kFlagRtsShift) & kControlMask;
    if (state.BaudRate == 0)
        return "speed 0";
    if (dtr == 2)
        return "DTR handshake";
    if (rts == 3)
        return "RTS while transmitting";
    if (state.Flags & kFlagOutxDsrFlow)
        return "DSR flow control";
    if (state.Flags & kFlagDsrSensitivity)
        return "DSR sensitivity";
    return nullptr;
}

termios TermiosFor(const LineState &state, const termios &base, bool marking)
{
    termios t = base;
    t.c_iflag = marking ? INPCK | PARMRK : IGNBRK;
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
    const std::uint32_t rts = (state.Flags >> kFlagRtsShift) & kControlMask;
    if ((state.Flags & kFlagOutxCtsFlow) || rts == 2)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 1; // with O_NONBLOCK an empty queue gives EAGAIN, so 0 means hung up
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
    return t;
}

bool ApplyLineState(int fd, const LineState &state, bool marking)
{
    if (Unsupported(state) != nullptr)
        return false;
    if (const auto slow = StandIns().applyingLineState)
        slow();
    termios before{};
    if (::tcgetattr(fd, &before) != 0)
        return false;
    termios t = TermiosFor(state, before, marking);
    const auto code = BaudCode(state.BaudRate);
    if (code) {
        ::cfsetispeed(&t, *code);
        ::cfsetospeed(&t, *code);
    }
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    if (!SetSpeed(fd, state.BaudRate) && !code) {
        ::tcsetattr(fd, TCSANOW, &before);
        return false;
    }
    const std::uint32_t dtr = (state.Flags >> kFlagDtrShift) & kControlMask;
    const std::uint32_t rts = (state.Flags >> kFlagRtsShift) & kControlMask;
    if (dtr != 2)
        SetModemLine(fd, TIOCM_DTR, dtr == 1);
    if (rts != 2)
        SetModemLine(fd, TIOCM_RTS, rts == 1);
    return true;
}

bool ReadLineState(int fd, LineState &state)
{
    termios t{};
    termios2 t2{};
    if (::tcgetattr(fd, &t) != 0 || ::ioctl(fd, TCGETS2, &t2) != 0)
        return false;
    if (t2.c_ospeed != 0)
        state.BaudRate = t2.c_ospeed;
    ReadLineShape(t, state);
    return true;
}

void ReadLineShape(const termios &t, LineState &state)
{
    const tcflag_t size = t.c_cflag & CSIZE;
    state.ByteSize = size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8;
    state.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    const bool odd = (t.c_cflag & PARODD) != 0;
    state.Parity = !(t.c_cflag & PARENB) ? 0 : (t.c_cflag & CMSPAR) ? (odd ? 3 : 4) : (odd ? 1 : 2);
    const auto set = [&state](std::uint32_t bit, bool on) {
        state.Flags = on ? state.Flags | bit : state.Flags & ~bit;
    };
    set(kFlagOutX, (t.c_iflag & IXON) != 0);
    set(kFlagInX, (t.c_iflag & IXOFF) != 0);
    const std::uint32_t rts = (state.Flags >> kFlagRtsShift) & kControlMask;
    if (!(t.c_cflag & CRTSCTS))
        set(kFlagOutxCtsFlow, false);
    else if (rts != 2)
        set(kFlagOutxCtsFlow, true);
    state.XonChar = static_cast<char>(t.c_cc[VSTART]);
    state.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
}

bool ReadModemCounts(int fd, ModemCounts &counts)
{
    if (const auto standIn = StandIns().modemCounts)
        return standIn(fd, counts);
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

DeviceStandIns SetDeviceStandIns(DeviceStandIns standIns)
{
    std::lock_guard lock(standInMutex);
    return std::exchange(standInStore, std::move(standIns));
}

} // namespace port::posix
