#pragma once
// The line settings of a terminal device: the port's LineState put into termios.
//
// What the Linux port cannot honour, and what it does instead, is listed beside LineState in
// Port.h; Unsupported names the settings it refuses.

#include <cstdint>

#include "serial/platform/Port.h"

namespace port::posix {

// Why a state cannot be honoured, or null when it can.
const char *Unsupported(const LineState &state);

// Puts the line into raw mode with the state's settings. False, with the line as it was, when
// the state cannot be honoured or the driver refuses it.
bool ApplyLineState(int fd, const LineState &state);

// The speed the line runs at (output direction), or 0 when it cannot be read.
std::uint32_t LineSpeed(int fd);

} // namespace port::posix
