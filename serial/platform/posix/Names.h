#pragma once
// Device names on Linux: "COMn" (any letter case) is <dir>/COMn where that exists, a link the
// administrator makes (a udev rule SYMLINK+="COM3", the counterpart of assigning a COM number),
// else <dir>/ttyS(n-1); a name starting with "/" is a path; any other name is <dir>/name.

#include <string>

namespace port::posix {

// The mapping in a device directory of the caller's choice ("/dev" for the real one).
std::string DefaultDeviceName(const std::string &name, const std::string &deviceDir);

} // namespace port::posix
