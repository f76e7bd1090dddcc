#include "cli/PortList.h"

#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <ostream>

#include "cli/CliArguments.h"
#include "cli/Report.h"
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

std::vector<PortName> ListPortNames()
{
    // The same resolver the window uses, so a name listed here opens the same device there.
    std::vector<PortName> names;
    for (int number = 1; number <= HighestComNumber; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const std::string path = port::ResolveDevice(name);
        const std::string device = Canonical(path);
        if (!device.empty())
            names.push_back({name, path, device});
    }
    return names;
}

std::vector<AdapterEntry> ListAdapters(const std::vector<PortName> &names)
{
    std::vector<AdapterEntry> entries;
    for (const port::SerialAdapter &adapter : port::ListSerialAdapters()) {
        AdapterEntry entry{adapter.name, adapter.device, {}};
        for (const PortName &name : names) {
            if (name.device == adapter.device) {
                entry.port = name.name;
                break;
            }
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

void ListPorts(std::ostream &out)
{
    const std::vector<PortName> names = ListPortNames();
    out << "Port names and the devices they open:\n";
    for (const PortName &name : names) {
        out << "  " << name.name << "\t" << name.path;
        if (name.device != name.path)
            out << " -> " << name.device;
        out << "\n";
    }
    if (names.empty())
        out << "  (none)\n";

    out << "Serial adapters (/dev/serial/by-id):\n";
    const std::vector<AdapterEntry> adapters = ListAdapters(names);
    for (const AdapterEntry &adapter : adapters) {
        out << "  " << adapter.name << " -> " << adapter.device;
        if (!adapter.port.empty())
            out << " (" << adapter.port << ")";
        out << "\n";
    }
    if (adapters.empty())
        out << "  (none)\n";
}

namespace {

void ListPortsJson(std::ostream &out)
{
    const std::vector<PortName> names = ListPortNames();
    QJsonArray ports, adapters;
    for (const PortName &name : names)
        ports.append(QJsonObject{
            {"port", Json(name.name)}, {"device", Json(name.path)}, {"target", Json(name.device)}});
    for (const AdapterEntry &adapter : ListAdapters(names))
        adapters.append(QJsonObject{{"name", Json(adapter.name)},
                                    {"device", Json(adapter.device)},
                                    {"port", Json(adapter.port)}});
    PrintJson(
        QJsonObject{
            {"command", "ports"}, {"status", Success}, {"ports", ports}, {"adapters", adapters}},
        out);
}

} // namespace

int ShowPorts(const Arguments &arguments, std::ostream &out)
{
    if (arguments.json)
        ListPortsJson(out);
    else
        ListPorts(out);
    return Success;
}

} // namespace cli
