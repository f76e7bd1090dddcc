#include "session/PortAdvice.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

#include "session/PortMap.h"

namespace {
// The hints name Linux's devices, groups and commands; on Windows the ports are the system's.
#ifdef _WIN32
constexpr bool LinuxHints = false;
#else
constexpr bool LinuxHints = true;
#endif
// What to look at on the host that serves a network port.
std::string NetworkAdvice(port::OpenFailureKind kind)
{
    switch (kind) {
    case port::OpenFailureKind::NoSuchHost:
        return "\nThe host's name is not known here: check its spelling, or give its address "
               "instead.";
    case port::OpenFailureKind::NotListening:
        return "\nNothing takes connections on that port of the host: check that ser2net runs "
               "there with an accepter on that port (see the README, \"Modules on other "
               "machines\").";
    case port::OpenFailureKind::NoAnswer:
        return "\nThe host does not answer: check that it is on and on the network, and that no "
               "firewall holds back the port.";
    case port::OpenFailureKind::ServerClosed:
        return "\nThe server took the connection and ended it: another program may hold the port "
               "there, or the server cannot open its serial device.";
    case port::OpenFailureKind::LineSettingsRefused:
        return "\nThe module's line runs at 9600 baud, 8 data bits, no parity, 1 stop bit, which "
               "the server must carry: an rfc2217:// port needs ser2net's accepter "
               "telnet(rfc2217), and a raw accepter (tcp,...) is named tcp://HOST:PORT.";
    default:
        return {};
    }
}

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

std::vector<SerialAdapter> PresentSerialAdapters(const std::string &folder)
{
    namespace fs = std::filesystem;
    std::vector<SerialAdapter> adapters;
    std::error_code error;
    if (!LinuxHints && folder.empty())
        return adapters;
    for (const fs::directory_entry &entry :
         fs::directory_iterator(folder.empty() ? "/dev/serial/by-id" : folder, error)) {
        std::error_code ignored;
        if (entry.is_directory(ignored))
            continue;
        const fs::path device = fs::canonical(entry.path(), ignored);
        adapters.push_back({entry.path().filename().string(), ignored ? "" : device.string()});
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const SerialAdapter &a, const SerialAdapter &b) { return a.name < b.name; });
    return adapters;
}

std::string OpenFailureAdvice(const std::string &portName, const port::OpenFailure &failure,
                              const std::vector<SerialAdapter> &adapters)
{
    const std::optional<std::string> com = ComName(portName); // a COM name, not a path or URL
    if (failure.kind == port::OpenFailureKind::BadPortMap)
        return portName +
               " leads nowhere while the port map cannot be read: " + failure.systemText +
               ".\nMend or delete that line in " + failure.device +
               " (a text file); nmct-cli ports shows the map.";
    std::string text = (failure.device.empty() || failure.device == portName
                            ? portName
                            : portName + " (" + failure.device + ")") +
                       " could not be opened: " + failure.systemText + ".";
    if (port::IsNetworkDevice(failure.device))
        return text + NetworkAdvice(failure.kind);
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
            for (const SerialAdapter &adapter : adapters)
                text += "\n  " + adapter.name + " -> " + adapter.device;
        }
        // By its identity, the name survives replugging; no root is needed.
        if (com)
            text += "\nTo give an adapter the name " + *com + ": nmct-cli ports assign " + *com +
                    " " +
                    (adapters.size() == 1 ? ShellWord("/dev/serial/by-id/" + adapters[0].name)
                                          : std::string("/dev/serial/by-id/ADAPTER")) +
                    " (or a network port, rfc2217://HOST:PORT); see the README, \"COM names "
                    "without root\".";
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
    case port::OpenFailureKind::BadPortMap:
    case port::OpenFailureKind::NoSuchHost:
    case port::OpenFailureKind::NotListening:
    case port::OpenFailureKind::NoAnswer:
    case port::OpenFailureKind::ServerClosed:
    case port::OpenFailureKind::LineSettingsRefused:
    case port::OpenFailureKind::Other:
        break;
    }
    return text;
}
