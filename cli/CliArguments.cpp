#include "cli/CliArguments.h"

#include "protocol/TextFile.h"
#include "session/Latin1.h"

#include <QCommandLineParser>

#include <algorithm>
#include <map>

namespace cli {

namespace {

struct CommandForm
{
    std::size_t least;
    std::size_t most;
    const char *usage;
    bool talks;   // opens a port and talks to the module
    bool changes; // sends what changes the module
    bool backsUp; // saves the module's settings before it changes them
};

const std::map<std::string, CommandForm> &Commands()
{
    static const std::map<std::string, CommandForm> commands{
        {"ports", {0, 0, "ports", false, false, false}},
        {"detect", {0, 0, "detect", true, false, false}},
        {"read", {0, 1, "read [FILE]", true, false, false}},
        {"write", {1, 1, "[--no-verify] write FILE", true, true, true}},
        {"verify", {1, 1, "verify FILE", true, false, false}},
        {"default", {0, 0, "default", true, true, true}},
        {"volume", {1, 1, "volume N", true, true, false}},
        {"check", {1, 1, "check FILE", false, false, false}},
        {"export-csv", {1, 2, "export-csv FILE [CSV]", false, false, false}},
        {"import-csv", {2, 2, "import-csv CSV FILE", false, false, false}},
    };
    return commands;
}

const CommandForm *FormOf(const std::string &command)
{
    const auto form = Commands().find(command);
    return form == Commands().end() ? nullptr : &form->second;
}

[[noreturn]] void Refuse(const std::string &message)
{
    throw Failure(BadArguments, message);
}

[[noreturn]] void RefuseVolume(const std::string &level)
{
    Refuse("volume must be 0 to 4, not '" + level + "'");
}

// A name as typed, without the blanks a copy and paste brings along.
std::string Trimmed(const std::string &name)
{
    const char *const blanks = " \t\r\n\v\f";
    const std::size_t first = name.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(blanks) - first + 1);
}

} // namespace

bool TalksToModule(const std::string &command)
{
    const CommandForm *form = FormOf(command);
    return form && form->talks;
}

bool ChangesModule(const std::string &command)
{
    const CommandForm *form = FormOf(command);
    return form && form->changes;
}

bool BacksUpFirst(const std::string &command)
{
    const CommandForm *form = FormOf(command);
    return form && form->backsUp;
}

Arguments ParseArguments(const std::vector<std::string> &arguments, const char *environmentPort)
{
    QCommandLineParser parser;
    const QCommandLineOption help({"h", "help"}, "");
    const QCommandLineOption version("version", "");
    const QCommandLineOption port({"p", "port"}, "", "PORT");
    const QCommandLineOption noVerify("no-verify", "");
    const QCommandLineOption json("json", "");
    const QCommandLineOption trace("trace", "");
    const QCommandLineOption noBackup("no-backup", "");
    const QCommandLineOption backupDir("backup-dir", "", "DIR");
    parser.addOptions({help, version, port, noVerify, json, trace, noBackup, backupDir});

    QStringList list{"nmct-cli"};
    for (const std::string &argument : arguments)
        list << Latin1Text(argument);
    if (!parser.parse(list)) {
        // No option is a number: "-1" is a level below the volume's range, not an option.
        const bool volume =
            std::find(arguments.begin(), arguments.end(), "volume") != arguments.end();
        for (const QString &name : parser.unknownOptionNames()) {
            bool number = false;
            name.toLongLong(&number);
            if (volume && number)
                RefuseVolume("-" + Latin1Bytes(name));
        }
        std::string error = Latin1Bytes(parser.errorText());
        if (!error.empty() && error.back() == '.')
            error.pop_back();
        Refuse(error + " (see --help)");
    }

    Arguments parsed;
    parsed.help = parser.isSet(help);
    parsed.version = parser.isSet(version);
    if (parsed.help || parsed.version)
        return parsed;
    parsed.verify = !parser.isSet(noVerify);
    parsed.json = parser.isSet(json);
    parsed.trace = parser.isSet(trace);
    parsed.backup = !parser.isSet(noBackup);
    for (const QString &value : parser.values(port)) {
        const std::string name = Trimmed(Latin1Bytes(value));
        if (name.empty())
            Refuse("--port needs a port name, e.g. --port COM3");
        if (std::find(parsed.ports.begin(), parsed.ports.end(), name) != parsed.ports.end())
            Refuse("port '" + name + "' is given twice");
        parsed.ports.push_back(name);
    }
    if (parsed.ports.empty() && environmentPort && !Trimmed(environmentPort).empty())
        parsed.ports.push_back(Trimmed(environmentPort));
    if (parser.isSet(backupDir)) {
        parsed.backupDir = Latin1Bytes(parser.value(backupDir));
        if (parsed.backupDir.empty())
            Refuse("--backup-dir needs a folder");
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        Refuse("no command given (see --help)");
    parsed.command = Latin1Bytes(positional.first());
    for (qsizetype i = 1; i < positional.size(); ++i)
        parsed.operands.push_back(Latin1Bytes(positional[i]));

    const CommandForm *form = FormOf(parsed.command);
    if (!form)
        Refuse("unknown command '" + parsed.command + "' (see --help)");
    const std::string &command = parsed.command;
    if (parsed.operands.size() < form->least || parsed.operands.size() > form->most)
        Refuse("usage: nmct-cli [OPTIONS] " + std::string(form->usage));
    if (!parsed.verify && command != "write")
        Refuse("--no-verify goes with write only");
    if ((!parsed.backup || parser.isSet(backupDir)) && !form->backsUp)
        Refuse("--no-backup and --backup-dir go with write and default only");
    if (!parsed.backup && parser.isSet(backupDir))
        Refuse("--no-backup and --backup-dir exclude each other");
    if (parsed.json && !TalksToModule(command) && command != "ports")
        Refuse("--json goes with ports and the commands that talk to a module");
    if (parsed.json && command == "read" &&
        (parsed.operands.empty() || parsed.operands[0] == "-" ||
         NamedDescriptor(parsed.operands[0]) == 1))
        Refuse("--json with read needs a FILE (standard output carries the JSON)");
    if (command == "volume") {
        const std::string &level = parsed.operands[0];
        if (level.size() != 1 || level[0] < '0' || level[0] > '4')
            RefuseVolume(level);
    }
    if (TalksToModule(command)) {
        if (parsed.ports.empty())
            Refuse("no port given: use --port COMn or --port /dev/..., or set NMCT_PORT");
        if (command == "read" && parsed.ports.size() > 1 &&
            (parsed.operands.empty() || parsed.operands[0] == "-"))
            Refuse("read from several ports needs a folder: read DIR");
    }
    return parsed;
}

} // namespace cli
