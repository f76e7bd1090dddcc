#pragma once
// The line settings of a terminal device: the port's LineState put into termios and read back
// from it, and the modem counters.
//
// What the Linux port cannot honour, and what it does instead, is listed beside LineState in
// Port.h; Unsupported names the settings it refuses.

#include <cstdint>
#include <functional>

#include <termios.h>

#include "serial/platform/Port.h"

namespace port::posix {

// Why a state cannot be honoured, or null when it can.
const char *Unsupported(const LineState &state);

// The raw-mode terminal flags for the state, on top of `base` (speed not included). With
// `marking`, the line discipline marks bytes received with an error and breaks (FF 00 c, FF 00
// 00; a data FF as FF FF); without, it checks no parity and drops breaks, and the kernel can
// take its fast path for raw bytes.
termios TermiosFor(const LineState &state, const termios &base, bool marking);

// Puts the line into raw mode with the state's settings. False, with the line as it was, when
// the state cannot be honoured or the driver refuses it.
bool ApplyLineState(int fd, const LineState &state, bool marking);

// Overwrites what the terminal itself holds (speed, byte size, parity, stop bits, flow
// control, Xon and Xoff characters) with what the driver took; false when it cannot be read.
bool ReadLineState(int fd, LineState &state);
// The same from terminal flags: byte size, parity, stop bits, flow control, Xon and Xoff.
void ReadLineShape(const termios &t, LineState &state);

struct ModemCounts
{
    std::uint32_t carrier = 0; // carrier-detect transitions (or its level, where not counted)
    std::uint32_t ring = 0;
};

// Reads a device's modem counters; false when it has no modem lines.
bool ReadModemCounts(int fd, ModemCounts &counts);

// Stand-ins for tests, for what a pseudo-terminal lacks: modem lines, and a driver that takes
// its time over a new line state (called as it is applied). Empty members mean the device's
// own. Gives the previous ones.
struct DeviceStandIns
{
    std::function<bool(int fd, ModemCounts &counts)> modemCounts;
    std::function<void()> applyingLineState;
};
DeviceStandIns SetDeviceStandIns(DeviceStandIns standIns);

} // namespace port::posix
