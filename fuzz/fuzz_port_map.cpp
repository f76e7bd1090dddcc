// The user's port map: a file of COM names and where they lead. Whatever it holds, each entry is
// a COM name from COM1 to COM255 given once and leading somewhere a port can be, every line it
// cannot read is an error with its line number, and an edit changes one name's line and no
// other.
//
// Input: the file's text, any bytes.

#include "fuzz/FuzzSupport.h"

#include "session/PortMap.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const PortMap map = ReadPortMap(text);
    std::set<std::string> names;
    for (const PortMapEntry &entry : map.entries) {
        FUZZ_CHECK(ComName(entry.name) == entry.name);
        FUZZ_CHECK(!PortTargetFault(entry.target));
        FUZZ_CHECK(names.insert(entry.name).second);
        FUZZ_CHECK(map.Find(entry.name) != nullptr && map.Find(entry.name)->target == entry.target);
    }
    for (const std::string &error : map.errors)
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
    if (!map.Ok())
        return 0; // never edited
    const auto without = [](std::vector<PortMapEntry> entries) {
        std::erase_if(entries, [](const PortMapEntry &entry) { return entry.name == "COM1"; });
        return entries;
    };
    const PortMap assigned = ReadPortMap(EditPortMap(map, "COM1", "/dev/ttyUSB0"));
    FUZZ_CHECK(assigned.Ok() && assigned.Find("COM1") != nullptr &&
               assigned.Find("COM1")->target == "/dev/ttyUSB0");
    FUZZ_CHECK(without(assigned.entries) == without(map.entries));
    const PortMap unassigned = ReadPortMap(EditPortMap(map, "COM1", std::nullopt));
    FUZZ_CHECK(unassigned.Ok() && unassigned.entries == without(map.entries));
    return 0;
}
