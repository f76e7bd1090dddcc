#include "cli/PortList.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "cli/CliArguments.h"
#include "cli/Report.h"
#include "protocol/TextFile.h"
#include "serial/SerialPorts.h"
#include "session/PortAdvice.h"
#include "session/PortMap.h"

namespace cli {

namespace fs = std::filesystem;

namespace {

std::string Canonical(const std::string &path)
{
    std::error_code error;
    const fs::path target = fs::canonical(path, error);
    return error ? std::string() : target.string();
}

// Every COM name that leads somewhere: each the map names, and each whose device is there.
std::vector<PortName> ListPortNames(const PortMap &map)
{
    std::vector<PortName> names;
    for (int number = 1; number <= HighestComNumber; ++number) {
        const std::string name = "COM" + std::to_string(number);
        const PortRoute route = RoutePort(name, map);
        PortName entry{name, route.target, Canonical(route.target), "port map"};
        if (route.via == PortRoute::Via::Platform) {
            if (entry.device.empty())
                continue;
            entry.via = route.target == "/dev/" + name ? "link " + route.target : "built-in port";
        } else if (route.via != PortRoute::Via::Map) {
            continue;
        }
        names.push_back(std::move(entry));
    }
    return names;
}

std::vector<AdapterEntry> ListAdapters(const std::vector<PortName> &names)
{
    std::vector<AdapterEntry> entries;
    for (const SerialAdapter &adapter : PresentSerialAdapters()) {
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

void ListPorts(const PortMap &map, std::ostream &out)
{
    out << "Port map: "
        << (map.path.empty() ? "(no folder: set XDG_CONFIG_HOME or HOME)" : map.path) << "\n";
    for (const std::string &error : map.errors)
        out << "  error: " << error << "\n";
    const std::vector<PortName> names = ListPortNames(map);
    out << "Port names and where they lead:\n";
    for (const PortName &name : names) {
        out << "  " << name.name << "\t" << name.path;
        if (!name.device.empty() && name.device != name.path)
            out << " -> " << name.device;
        else if (name.device.empty() && !port::IsNetworkDevice(name.path))
            out << " (not there now)";
        out << "\t(" << name.via << ")\n";
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

void ListPortsJson(const PortMap &map, int status, std::ostream &out)
{
    const std::vector<PortName> names = ListPortNames(map);
    QJsonArray ports, adapters, errors;
    for (const PortName &name : names)
        ports.append(QJsonObject{{"port", Json(name.name)},
                                 {"device", Json(name.path)},
                                 {"target", Json(name.device)},
                                 {"via", Json(name.via)}});
    for (const AdapterEntry &adapter : ListAdapters(names))
        adapters.append(QJsonObject{{"name", Json(adapter.name)},
                                    {"device", Json(adapter.device)},
                                    {"port", Json(adapter.port)}});
    for (const std::string &error : map.errors)
        errors.append(Json(error));
    PrintJson(QJsonObject{{"command", "ports"},
                          {"status", status},
                          {"map", QJsonObject{{"path", Json(map.path)}, {"errors", errors}}},
                          {"ports", ports},
                          {"adapters", adapters}},
              out);
}

// The map as it stands, to be changed: one that cannot be read is not rewritten, or the lines
// it could not read would be lost.
PortMap MapToChange()
{
    const PortMap map = LoadPortMap();
    if (map.path.empty())
        throw Failure(FileError, "no folder for the port map: neither XDG_CONFIG_HOME nor HOME is "
                                 "set; nothing was changed");
    if (!map.Ok()) {
        std::string message = map.path + " cannot be read; nothing was changed:";
        for (const std::string &error : map.errors)
            message += "\n  " + error;
        throw Failure(FileError, message);
    }
    return map;
}

// The map with `name` leading to `target`, or with no target to where the system names it.
void SaveMap(const PortMap &map, const std::string &name, const std::optional<std::string> &target)
{
    std::error_code error;
    fs::create_directories(fs::path(map.path).parent_path(), error);
    if (error)
        throw Failure(FileError, fs::path(map.path).parent_path().string() + ": cannot be made: " +
                                     error.message() + "; nothing was changed");
    if (const std::optional<std::string> failed =
            WriteTextFile(map.path, EditPortMap(map, name, target)))
        throw Failure(FileError, *failed + "; nothing was changed");
}

int Assign(const std::string &name, const std::string &target, std::ostream &out)
{
    SaveMap(MapToChange(), name, target);
    out << name << " leads to " << target;
    if (!port::IsNetworkDevice(target) && Canonical(target).empty())
        out << " (not there now)";
    out << "\n";
    return Success;
}

int Unassign(const std::string &name, std::ostream &out)
{
    const PortMap map = MapToChange();
    if (map.Find(name) == nullptr)
        throw Failure(BadArguments, name + " has no line in the port map " + map.path);
    SaveMap(map, name, std::nullopt);
    out << name << " leads where the system names it: " << RoutePort(name, {}).target << "\n";
    return Success;
}

} // namespace

void CheckPortsOperands(const Arguments &arguments)
{
    const std::vector<std::string> &operands = arguments.operands;
    if (operands.empty())
        return;
    const std::string &action = operands[0];
    const std::size_t wanted = action == "assign" ? 3 : action == "unassign" ? 2 : 0;
    if (wanted == 0 || operands.size() != wanted)
        Refuse("usage: nmct-cli ports [assign COMn DEVICE-OR-URL | unassign COMn]");
    if (!ComName(operands[1]))
        Refuse("'" + operands[1] + "' is not a COM name from COM1 to COM255");
    if (wanted == 3)
        if (const std::optional<std::string> fault = PortTargetFault(operands[2]))
            Refuse("where " + *ComName(operands[1]) + " leads: " + *fault);
    if (arguments.json)
        Refuse("--json goes with ports alone, not with " + action);
}

int RunPorts(const Arguments &arguments, std::ostream &out)
{
    const std::vector<std::string> &operands = arguments.operands;
    if (!operands.empty() && operands[0] == "assign")
        return Assign(*ComName(operands[1]), operands[2], out);
    if (!operands.empty() && operands[0] == "unassign")
        return Unassign(*ComName(operands[1]), out);
    const PortMap map = LoadPortMap();
    const int status = map.Ok() ? Success : FileError;
    if (arguments.json)
        ListPortsJson(map, status, out);
    else
        ListPorts(map, out);
    if (!map.Ok())
        throw Failure(status, map.path + " cannot be read: the COM names it gives lead nowhere");
    return status;
}

} // namespace cli
