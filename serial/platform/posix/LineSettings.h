#pragma once
// The line settings of a terminal device: the port's LineState put into termios.
//
// What the Linux port cannot honour, and what it does instead:
// - RTS while transmitting (RTS control 3, toggle) and DTR handshake (DTR control 2): termios
//   has no such modes; refused.
// - DSR flow control (kFlagOutxDsrFlow) and DSR sensitivity (kFlagDsrSensitivity): termios has
//   no DSR-driven flow or input gate; refused.
// - RTS handshake (RTS control 2) is hardware flow control both ways, as CTS flow is (CRTSCTS).
// - Xon/Xoff limits: the kernel sends Xoff and Xon at thresholds of its own; the limits are
//   kept in the state but have no effect.
// - Parity checking off (kFlagParity clear) with a parity set: the line still checks parity,
//   the byte is delivered as received and the error is not reported, which is what a caller
//   with checking off sees; the error character is replaced only with checking on.
// - TxContinueOnXoff: the kernel always goes on sending after it sent Xoff itself.
// - 1.5 stop bits are sent as 2.
// A speed of 0 (on a terminal that means hang up) and a speed the driver does not take are
// refused and leave the speed in force.

#include <cstdint>

#include "../Port.h"

namespace port::posix {

// Why a state cannot be honoured, or null when it can.
const char *Unsupported(const LineState &state);

// Puts the line into raw mode with the state's settings. False, with the line as it was, when
// the state cannot be honoured or the driver refuses it.
bool ApplyLineState(int fd, const LineState &state);

// The speed the line runs at (output direction), or 0 when it cannot be read.
std::uint32_t LineSpeed(int fd);

} // namespace port::posix
