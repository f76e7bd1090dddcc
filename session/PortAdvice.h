#pragma once
// Why a port could not be opened, in words a user can act on: the window shows them as the
// status line's tooltip and on standard error, nmct-cli on standard error; the README's
// troubleshooting section says the same.

#include <string>
#include <vector>

#include "serial/SerialPorts.h"

// A serial adapter by the name the system gives its identity, and the device it is now.
struct SerialAdapter
{
    std::string name;
    std::string device; // empty when the link leads nowhere
};
// The adapters plugged in, sorted by name: the links udev keeps in /dev/serial/by-id (`folder`
// stands in for it in tests); none on Windows, where Device Manager lists them.
std::vector<SerialAdapter> PresentSerialAdapters(const std::string &folder = {});

// A word as a shell reads it back: single-quoted when it holds anything but letters, digits and
// "%+,-./:=@_", so that advice naming a command can be pasted as it stands.
std::string ShellWord(const std::string &word);

// The port's name, the device it led to, the system's reason and, for the usual cases, what to
// do; `adapters` as PresentSerialAdapters gives them.
std::string OpenFailureAdvice(const std::string &portName, const port::OpenFailure &failure,
                              const std::vector<SerialAdapter> &adapters);
