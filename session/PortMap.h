#pragma once
// Where a port name leads. A user gives COM names their devices without root: a small file,
// $XDG_CONFIG_HOME/nmct/ports (~/.config/nmct/ports when that is unset), maps a COM name to a
// device path (a /dev/serial/by-id/... path survives replugging) or to a network port
// (rfc2217://HOST:PORT, tcp://HOST:PORT), one per line:
//
//     # COM names and where they lead: nmct-cli ports assign COM3 DEVICE-OR-URL
//     COM3  /dev/serial/by-id/usb-Example_UART-if00-port0
//     COM4  rfc2217://bench-4:3001
//
// A COM name looks in the map first, then at /dev/COMn (a link an administrator made), then at
// the built-in port /dev/ttyS(n-1); a device path or a URL leads where it says. The window and
// nmct-cli open every port through this, so a name leads to the same place in both.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct PortMapEntry
{
    std::string name;   // "COM3", as the map's line gives its number
    std::string target; // a device path or a network port's URL
    bool operator==(const PortMapEntry &) const = default;
};

struct PortMap
{
    std::string path; // the file it was read from; empty when there is none to read
    std::vector<PortMapEntry> entries;
    std::vector<std::string> errors; // "line 4: ...": a map with errors leads nowhere
    std::string text;                // as read, so that an edit keeps the other lines
    bool Ok() const { return errors.empty(); }
    const PortMapEntry *Find(const std::string &name) const;
};

// The map's file, or empty when neither XDG_CONFIG_HOME nor HOME gives a folder.
std::string PortMapPath();
PortMap ReadPortMap(std::string_view text);
// The file read as it stands now; a file that does not exist is an empty map.
PortMap LoadPortMap();
// The map's text with `name`'s line leading to `target` (added at the end when it has none), or
// with no target removed. Every other line, comments included, stays as it was; a map that
// cannot be read is not edited.
std::string EditPortMap(const PortMap &map, const std::string &name,
                        const std::optional<std::string> &target);

// "COM3" for "com3" or "COM03"; nothing for a name that is not COM1 to COM255.
constexpr int HighestComNumber = 255;
std::optional<std::string> ComName(std::string_view name);
// Why `target` cannot be where a COM name leads, or nothing when it can.
std::optional<std::string> PortTargetFault(std::string_view target);

struct PortRoute
{
    enum class Via
    {
        AsGiven,   // a device path or a URL
        Map,       // the user's map
        Platform,  // the system's own name for it: /dev/COMn, else /dev/ttyS(n-1)
        BrokenMap, // the map has errors: the name leads nowhere until they are mended
    };
    std::string target;
    Via via = Via::AsGiven;
};
PortRoute RoutePort(const std::string &name, const PortMap &map);
