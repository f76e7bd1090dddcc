#pragma once
// The ports command: which COM names lead to a device on this machine, and the serial adapters
// the system lists by their identity, as text or JSON.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct Arguments;

struct PortName
{
    std::string name;   // COM3
    std::string path;   // what it opens, e.g. /dev/ttyS2
    std::string device; // where that leads in the end
};

struct AdapterEntry
{
    std::string name; // its identity under /dev/serial/by-id
    std::string device;
    std::string port; // the COM name that opens it, if any
};

std::vector<PortName> ListPortNames();
std::vector<AdapterEntry> ListAdapters(const std::vector<PortName> &names);

void ListPorts(std::ostream &out);
// The list as text, or with --json as {"command", "status", "ports", "adapters"}.
int ShowPorts(const Arguments &arguments, std::ostream &out);

} // namespace cli
