#pragma once
// What the Linux port (port_posix.cpp) shows its tests: the device names, the terminal flags
// for a line state, and stand-ins for what a pseudo-terminal lacks.

#include <cstdint>
#include <functional>
#include <string>

#include <termios.h>

#include "serial/platform/Port.h"

// The terminal settings as the kernel holds them, speeds outside the B-constants included (the
// C library's header lacks the layout; TCGETS2 and TCSETS2 name it).
struct termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

namespace port::posix {

using KernelTermios = termios2;

// "COMn" (any letter case) is <dir>/COMn where that exists, a link the administrator makes (a
// udev rule SYMLINK+="COM3"), else <dir>/ttyS(n-1); a name starting with "/" is a path; any
// other name is <dir>/name. `deviceDir` is "/dev" for the real mapping.
std::string DefaultDeviceName(const std::string &name, const std::string &deviceDir);

// The raw-mode terminal flags for the state, on top of `base` (speed not included). With
// `marking`, the line discipline marks bytes received with an error and breaks (FF 00 c, FF 00
// 00; a data FF as FF FF); without, it checks nothing and drops breaks, and the kernel can take
// its fast path for raw bytes.
KernelTermios TermiosFor(const LineState &state, const KernelTermios &base, bool marking);
// Byte size, parity, stop bits, flow control, Xon and Xoff as the terminal flags hold them.
void ReadLineShape(const KernelTermios &t, LineState &state);

struct ModemCounts
{
    std::uint32_t carrier = 0; // carrier-detect transitions (or its level, where not counted)
    std::uint32_t ring = 0;
};

// Stand-ins for tests: modem lines (false: the device has none), and a driver slow to flush
// its output. Empty members mean the device's own. Gives the previous ones.
struct DeviceStandIns
{
    std::function<bool(int fd, ModemCounts &counts)> modemCounts{};
    std::function<void()> flushingOutput{};
};
DeviceStandIns SetDeviceStandIns(DeviceStandIns standIns);

} // namespace port::posix
