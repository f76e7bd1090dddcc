#include "cli/PortList.h"

#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "serial/SerialPorts.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

constexpr int HighestComNumber = 255;

std::string Canonical(const std::string &path)
{
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? std::string() : target.string();
}

} // namespace

void ListPorts(std::ostream &out)
{
    // The same resolver the window uses, so a name listed here opens the same device there.
    std::map<std::string, std::string> comForDevice;
    out << "Port names and the devices they open:\n";
    bool any = false;
    for (int number = 1; number <= HighestComNumber; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const std::string path = port::ResolveDevice(name);
        const std::string device = Canonical(path);
        if (device.empty())
            continue;
        any = true;
        out << "  " << name << "\t" << path;
        if (device != path)
            out << " -> " << device;
        out << "\n";
        comForDevice.emplace(device, name);
    }
    if (!any)
        out << "  (none)\n";

    out << "Serial adapters (/dev/serial/by-id):\n";
    const std::vector<port::SerialAdapter> adapters = port::ListSerialAdapters();
    for (const port::SerialAdapter &adapter : adapters) {
        out << "  " << adapter.name << " -> " << adapter.device;
        if (const auto com = comForDevice.find(adapter.device); com != comForDevice.end())
            out << " (" << com->second << ")";
        out << "\n";
    }
    if (adapters.empty())
        out << "  (none)\n";
}

} // namespace cli
