#include "session/PortMap.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "protocol/ParamFile.h"
#include "protocol/ParamText.h"
#include "protocol/TextFile.h"
#include "serial/SerialPorts.h"

const PortMapEntry *PortMap::Find(const std::string &name) const
{
    const std::optional<std::string> com = ComName(name);
    if (!com)
        return nullptr;
    const auto found =
        std::find_if(entries.begin(), entries.end(),
                     [&com](const PortMapEntry &entry) { return entry.name == *com; });
    return found == entries.end() ? nullptr : &*found;
}

std::optional<std::string> ComName(std::string_view name)
{
    if (name.size() < 4 || paramtext::Lower(name.substr(0, 3)) != "com")
        return std::nullopt;
    const std::optional<int> number = paramtext::SmallNumber(name.substr(3), HighestComNumber);
    if (!number || *number == 0)
        return std::nullopt;
    return "COM" + std::to_string(*number);
}

std::optional<std::string> PortTargetFault(std::string_view target)
{
    if (std::any_of(target.begin(), target.end(),
                    [](char c) { return static_cast<unsigned char>(c) <= ' '; }))
        return paramtext::Quoted(target) + " holds a blank or a control character";
    if (target.starts_with('/'))
        return std::nullopt;
    if (!port::IsNetworkDevice(target))
        return paramtext::Quoted(target) +
               " is neither a device path (starting with /) nor rfc2217://HOST:PORT or "
               "tcp://HOST:PORT";
    const std::string_view address = target.substr(target.find("://") + 3);
    const std::size_t colon = address.rfind(':');
    const std::string_view host = colon == std::string_view::npos ? "" : address.substr(0, colon);
    const std::string_view portText =
        colon == std::string_view::npos ? "" : address.substr(colon + 1);
    const bool digits = !portText.empty() && portText.size() <= 5 &&
                        std::all_of(portText.begin(), portText.end(), paramtext::IsDigit);
    const int port = digits ? std::atoi(std::string(portText).c_str()) : 0;
    if (host.empty() || port < 1 || port > 65535)
        return paramtext::Quoted(target) + " needs a host and a port from 1 to 65535, e.g. " +
               std::string(target.substr(0, target.find("://") + 3)) + "bench-4:3001";
    return std::nullopt;
}

std::string PortMapPath()
{
    return UserFolder("XDG_CONFIG_HOME", ".config", "ports");
}

PortMap ReadPortMap(std::string_view text)
{
    PortMap map;
    map.text = text;
    std::vector<int> lineOf;
    text = paramtext::WithoutBom(text);
    for (int number = 1; !text.empty(); ++number) {
        std::string_view line = paramtext::NextLine(text);
        line = line.substr(0, line.find('#'));
        const std::vector<std::string_view> fields = paramtext::Fields(line);
        if (fields.empty())
            continue;
        const std::string at = "line " + std::to_string(number) + ": ";
        const std::optional<std::string> name = ComName(fields[0]);
        if (!name) {
            map.errors.push_back(at + paramtext::Quoted(fields[0]) +
                                 " is not a COM name from COM1 to COM255");
            continue;
        }
        if (fields.size() != 2) {
            map.errors.push_back(at + "a line needs the COM name and where it leads, and no more");
            continue;
        }
        if (const std::optional<std::string> fault = PortTargetFault(fields[1])) {
            map.errors.push_back(at + *fault);
            continue;
        }
        if (const PortMapEntry *before = map.Find(*name)) {
            const auto first = lineOf[static_cast<std::size_t>(before - map.entries.data())];
            map.errors.push_back(at + *name + " is given again (first on line " +
                                 std::to_string(first) + ")");
            continue;
        }
        map.entries.push_back({*name, std::string(fields[1])});
        lineOf.push_back(number);
    }
    return map;
}

PortMap LoadPortMap()
{
    const std::string path = PortMapPath();
    std::error_code error;
    if (path.empty() || !std::filesystem::exists(std::filesystem::symlink_status(path, error)))
        return {path, {}, {}, {}};
    const TextRead file = ReadTextFile(path, LargestParamFile);
    if (!file.Ok())
        return {path, {}, {file.error}, {}};
    PortMap map = ReadPortMap(file.text);
    map.path = path;
    for (std::string &error : map.errors)
        error = path + ": " + error;
    return map;
}

std::string EditPortMap(const PortMap &map, const std::string &name,
                        const std::optional<std::string> &target)
{
    std::string edited;
    if (map.text.empty())
        edited = "# COM names and where they lead, kept with: nmct-cli ports assign COM3 "
                 "DEVICE-OR-URL\n";
    const std::string line =
        target ? name + std::string(name.size() < 6 ? 6 - name.size() : 1, ' ') + *target + "\n"
               : std::string();
    bool placed = false;
    std::string_view text = paramtext::WithoutBom(map.text);
    while (!text.empty()) {
        const std::string_view original = paramtext::NextLine(text);
        const std::vector<std::string_view> fields =
            paramtext::Fields(original.substr(0, original.find('#')));
        if (!fields.empty() && ComName(fields[0]) == name) {
            edited += placed ? "" : line;
            placed = true;
        } else {
            edited += std::string(original) + "\n";
        }
    }
    return placed ? edited : edited + line;
}

PortRoute RoutePort(const std::string &name, const PortMap &map)
{
    if (name.starts_with('/') || port::IsNetworkDevice(name))
        return {name, PortRoute::Via::AsGiven};
    if (ComName(name)) {
        if (!map.Ok())
            return {map.path, PortRoute::Via::BrokenMap};
        if (const PortMapEntry *entry = map.Find(name))
            return {entry->target, PortRoute::Via::Map};
    }
    return {port::ResolveDevice(name), PortRoute::Via::Platform};
}
