#include "session/PortAdvice.h"

#include <algorithm>
#include <string_view>

namespace {
// The hints name Linux's devices, groups and commands; on Windows the ports are the system's.
#ifdef _WIN32
constexpr bool LinuxHints = false;
#else
constexpr bool LinuxHints = true;
#endif
} // namespace

std::string ShellWord(const std::string &word)
{
    const auto plain = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::string_view("%+,-./:=@_").find(c) != std::string_view::npos;
    };
    if (!word.empty() && std::all_of(word.begin(), word.end(), plain))
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::vector<std::string> PresentSerialAdapters(const std::string &folder)
{
    std::vector<std::string> adapters;
    for (const port::SerialAdapter &adapter : port::ListSerialAdapters(folder))
        adapters.push_back(adapter.name + " -> " + adapter.device);
    return adapters;
}

std::string OpenFailureAdvice(const std::string &portName, const port::OpenFailure &failure,
                              const std::vector<std::string> &adapters)
{
    const bool named = !portName.empty() && portName.front() != '/'; // a name, not a path
    std::string text = (failure.device.empty() || failure.device == portName
                            ? portName
                            : portName + " (" + failure.device + ")") +
                       " could not be opened: " + failure.systemText + ".";
    if (!LinuxHints) {
        if (failure.kind == port::OpenFailureKind::NoSuchDevice)
            text += "\nThere is no such port: Device Manager lists the ports under \"Ports (COM & "
                    "LPT)\".";
        else if (failure.kind == port::OpenFailureKind::AccessDenied ||
                 failure.kind == port::OpenFailureKind::Busy)
            text += "\nAnother program may hold the port: close it and try again.";
        return text;
    }
    switch (failure.kind) {
    case port::OpenFailureKind::NoSuchDevice:
        text += "\nThere is no such device.";
        if (adapters.empty()) {
            text += " No USB serial adapter is plugged in.";
        } else {
            text += " Serial adapters present:";
            for (const std::string &adapter : adapters)
                text += "\n  " + adapter;
        }
        if (named)
            text +=
                "\nTo give an adapter the name " + portName + ": sudo ln -s /dev/ttyUSB0 " +
                ShellWord("/dev/" + portName) +
                " (with its device), or a udev rule; see the README, \"Serial ports on Linux\".";
        break;
    case port::OpenFailureKind::AccessDenied:
        text += "\nYou may not use the device. Join the group dialout (sudo usermod -aG dialout "
                "\"$USER\") and log in again.";
        break;
    case port::OpenFailureKind::Busy:
        text += "\nAnother program holds the device: close it (fuser -v " +
                ShellWord(failure.device) + " names it) and try again.";
        break;
    case port::OpenFailureKind::NotSerialDevice:
        text += "\nThe device is not a serial port: choose the adapter's COM name.";
        break;
    case port::OpenFailureKind::None:
    case port::OpenFailureKind::Other:
        break;
    }
    return text;
}
