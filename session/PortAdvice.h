#pragma once
// Why a port could not be opened, in words a user can act on: the window shows them as the
// status line's tooltip and on standard error, nmct-cli on standard error; the README's
// troubleshooting section says the same.

#include <string>
#include <vector>

#include "serial/SerialPorts.h"

// The serial adapters plugged in (`folder` stands in for the system's list in tests).
std::vector<port::SerialAdapter> PresentSerialAdapters(const std::string &folder = {});

// A word as a shell reads it back: single-quoted when it holds anything but letters, digits and
// "%+,-./:=@_", so that advice naming a command can be pasted as it stands.
std::string ShellWord(const std::string &word);

// The port's name, the device it led to, the system's reason and, for the usual cases, what to
// do; `adapters` as PresentSerialAdapters gives them.
std::string OpenFailureAdvice(const std::string &portName, const port::OpenFailure &failure,
                              const std::vector<port::SerialAdapter> &adapters);
