#pragma once
// Serial ports as a user names them: which device a port name opens, and why a port could not
// be opened. The one header of the serial layer that the window and the command line include
// (to list ports and word an open failure); everything else they reach through the module
// session.

#include <functional>
#include <string>
#include <string_view>

namespace port {

// Maps a port name ("COM7") to the device the platform opens. Replaceable, so tests can map a
// port to a pseudo-terminal; an empty function restores the platform's own mapping. Gives the
// previous resolver.
using DeviceResolver = std::function<std::string(const std::string &name)>;
DeviceResolver SetDeviceResolver(DeviceResolver resolver);
std::string ResolveDevice(const std::string &name);
// The platform's own mapping, which ResolveDevice uses when no resolver is set.
std::string PlatformDeviceName(const std::string &name);
// A network port's name: rfc2217://HOST:PORT or tcp://HOST:PORT (ser2net's accepters).
bool IsNetworkDevice(std::string_view name);

// Why an open failed, in the system's terms, for a caller to show beside its own message.
enum class OpenFailureKind
{
    None,
    NoSuchDevice,
    AccessDenied,
    Busy, // open or locked by another program
    NotSerialDevice,
    BadPortMap, // the user's port map has errors: `device` is its file
    // A network port (`device` is its name, rfc2217://HOST:PORT or tcp://HOST:PORT):
    NoSuchHost,          // the host's name is not known
    NotListening,        // nothing takes connections on that port
    NoAnswer,            // the host does not answer in time, or cannot be reached
    ServerClosed,        // the server ended the connection during the open (its words given)
    LineSettingsRefused, // the server does not carry the line settings, or runs others
    Other
};
struct OpenFailure
{
    OpenFailureKind kind = OpenFailureKind::None;
    std::string device;     // the path or name that was opened
    std::string systemText; // the system's own words
};

} // namespace port
