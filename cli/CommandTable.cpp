#include "cli/CommandTable.h"

#include "cli/CliArguments.h"
#include "cli/FileCommands.h"
#include "cli/ModuleCommands.h"
#include "cli/PortList.h"
#include "protocol/TextFile.h"

namespace cli {

namespace {

void CheckRead(const Arguments &arguments)
{
    const std::vector<std::string> &operands = arguments.operands;
    const bool printed = operands.empty() || operands[0] == "-";
    if (arguments.json && (printed || NamedDescriptor(operands[0]) == 1))
        Refuse("--json with read needs a FILE (standard output carries the JSON)");
    if (arguments.ports.size() > 1 && printed)
        Refuse("read from several ports needs a folder: read DIR");
}

void CheckVolume(const Arguments &arguments)
{
    const std::string &level = arguments.operands[0];
    if (level.size() != 1 || level[0] < '0' || level[0] > '4')
        Refuse("volume must be 0 to 4, not '" + level + "'");
}

} // namespace

const std::vector<Command> &Commands()
{
    // In the order --help lists them.
    static const std::vector<Command> commands{
        {.name = "ports",
         .usage = "ports [assign COMn DEVICE-OR-URL | unassign COMn]",
         .help = "list the port names (COM1, ...), where each leads here and why, and the serial "
                 "adapters attached; assign gives a COM name a device (a /dev/serial/by-id path "
                 "survives replugging) or a network port (rfc2217://HOST:PORT, tcp://HOST:PORT) "
                 "in your port map, $XDG_CONFIG_HOME/nmct/ports, without root; unassign takes it "
                 "away",
         .most = 3,
         .flags = PrintsJson,
         .check = CheckPortsOperands,
         .run = RunPorts},
        {.name = "detect",
         .usage = "detect",
         .help = "show the module's model and version",
         .flags = TalksToModule | PrintsJson,
         .onPort = &ModuleCommands::Detect},
        {.name = "read",
         .usage = "read [FILE]",
         .help = "read the module's settings into FILE (or print them); with several ports FILE "
                 "is a folder that gets PORT.nmct per port",
         .most = 1,
         .flags = TalksToModule | PrintsJson,
         .check = CheckRead,
         .prepare = PrepareRead,
         .onPort = &ModuleCommands::Read},
        {.name = "write",
         .usage = "[--no-verify] write FILE",
         .help = "save a backup of the module's settings, write FILE's settings into the module, "
                 "then read them back and compare",
         .least = 1,
         .most = 1,
         .flags = TalksToModule | ChangesModule | BacksUpFirst | ReadsBack | PrintsJson,
         .prepare = LoadSettingsFile,
         .onPort = &ModuleCommands::Write},
        {.name = "verify",
         .usage = "verify FILE",
         .help = "read the module and list every setting that differs from FILE",
         .least = 1,
         .most = 1,
         .flags = TalksToModule | PrintsJson,
         .prepare = LoadSettingsFile,
         .onPort = &ModuleCommands::Verify},
        {.name = "default",
         .usage = "default",
         .help = "save a backup, then restore the module's factory settings",
         .flags = TalksToModule | ChangesModule | BacksUpFirst | PrintsJson,
         .onPort = &ModuleCommands::RestoreDefaults},
        {.name = "volume",
         .usage = "volume N",
         .help = "set the volume, 0 to 4",
         .least = 1,
         .most = 1,
         .flags = TalksToModule | ChangesModule | PrintsJson | NumberOperand,
         .check = CheckVolume,
         .onPort = &ModuleCommands::SetVolume},
        {.name = "check",
         .usage = "check FILE",
         .help = "check FILE without a module: exit 0, or 3 with its errors",
         .least = 1,
         .most = 1,
         .run = CheckFile},
        {.name = "export-csv",
         .usage = "export-csv FILE [CSV]",
         .help = "FILE's channel table as CSV, for a spreadsheet (or print it)",
         .least = 1,
         .most = 2,
         .run = ExportCsv},
        {.name = "import-csv",
         .usage = "import-csv CSV FILE",
         .help = "replace FILE's channels with the CSV's rows; FILE's tones and squelch stay, its "
                 "comments do not",
         .least = 2,
         .most = 2,
         .run = ImportCsv},
    };
    return commands;
}

const Command *FindCommand(const std::string &name)
{
    for (const Command &command : Commands())
        if (name == command.name)
            return &command;
    return nullptr;
}

std::string CommandNames(unsigned flag, const char *conjunction)
{
    std::vector<std::string> names;
    for (const Command &command : Commands())
        if (command.Has(flag))
            names.push_back(command.name);
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0)
            list += i + 1 < names.size() ? ", " : std::string(" ") + conjunction + " ";
        list += names[i];
    }
    return list;
}

} // namespace cli
