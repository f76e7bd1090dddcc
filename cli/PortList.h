#pragma once
// The ports command: where each COM name leads on this machine and why (the user's port map, a
// link /dev/COMn, the built-in port), and the serial adapters the system lists by their
// identity, as text or JSON; `ports assign` and `ports unassign` keep the port map.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct Arguments;

struct PortName
{
    std::string name;   // COM3
    std::string path;   // where it leads: a device path or a network port's URL
    std::string device; // the device that path is in the end; empty for a network port
    std::string via;    // why: "port map", "link /dev/COM3", "built-in port"
};

struct AdapterEntry
{
    std::string name; // its identity under /dev/serial/by-id
    std::string device;
    std::string port; // the COM name that opens it, if any
};

// ports [assign COMn DEVICE-OR-URL | unassign COMn]: the operands' form.
void CheckPortsOperands(const Arguments &arguments);
// The list as text, or with --json as {"command", "status", "map", "ports", "adapters"}; or
// the map changed. A port map that cannot be read is shown with its errors, and fails.
int RunPorts(const Arguments &arguments, std::ostream &out);

} // namespace cli
