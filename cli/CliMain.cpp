#include "cli/CliMain.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/PortList.h"
#include "protocol/ParamFile.h"
#include "protocol/ParamText.h"
#include "protocol/TextFile.h"
#include "serial/SerialPorts.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"

namespace cli {

namespace {

const char *const Program = "nmct-cli";
const char *const HighestVolume = "4";

const char *const Help = R"(Usage: nmct-cli [--port PORT] COMMAND [ARGUMENTS]

Reads, writes and checks a radio module on a serial port, as the window does,
and keeps its settings in a parameter file (plain text; see "read").

Commands:
  ports           list the port names (COM1, ...) and the devices they open here,
                  and the serial adapters attached
  detect          show the module's model and version
  read [FILE]     read the module's settings into FILE (or print them)
  write FILE      write FILE's settings into the module, then read them back
                  and compare; --no-verify skips the check
  verify FILE     read the module and list every setting that differs from FILE
  default         restore the module's factory settings
  volume N        set the volume, 0 to 4
  export-csv FILE [CSV]
                  FILE's channel table as CSV, for a spreadsheet (or print it)
  import-csv CSV FILE
                  replace FILE's channels with the CSV's rows; FILE's tones and
                  squelch stay, its comments do not

Options:
  --port PORT     COMn (as the window names ports) or a device path such as
                  /dev/ttyUSB0; default: $NMCT_PORT
  --no-verify     with write: do not read back
  -h, --help      this text

FILE "-" is standard input or output. Nothing is sent from a file with an
error: every line is checked first. A file is replaced only by a complete new
one; a device or FIFO named as FILE (/dev/stdout, a pipe) is written directly.
In a CSV table a decimal comma is taken where it cannot be a separator:
"460,125" quoted, or unquoted when ';' separates the fields.

Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on the port,
5 the module differs from the file, 6 the module did not complete the command.
3 also when a file is too large (over 1 MiB) or standard output cannot be
written; 4 also when something answers but not as a module; after 6 from
write, default or volume the module's state is unknown: check it with verify
or read.

Example, a batch of modules on one adapter:
  nmct-cli --port COM3 read site.nmct          # from the module you set up
  nmct-cli --port COM3 write site.nmct         # into each of the others
)";

struct Arguments
{
    std::string port;
    bool verify = true;
    std::string command;
    std::vector<std::string> operands;
};

class Failure
{
public:
    Failure(int status, std::string message) : status(status), message(std::move(message)) {}
    int status;
    std::string message;
};

std::optional<Arguments> Parse(const std::vector<std::string> &arguments, std::ostream &out)
{
    Arguments parsed;
    if (const char *port = std::getenv("NMCT_PORT"))
        parsed.port = port;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            out << Help;
            return std::nullopt;
        }
        if (argument == "--port") {
            if (i + 1 == arguments.size())
                throw Failure(BadArguments, "--port needs a port name, e.g. --port COM3");
            parsed.port = arguments[++i];
        } else if (argument.rfind("--port=", 0) == 0) {
            parsed.port = argument.substr(7);
        } else if (argument == "--no-verify") {
            parsed.verify = false;
        } else if (argument.size() > 1 && argument[0] == '-' && argument != "-") {
            throw Failure(BadArguments, "unknown option '" + argument + "' (see --help)");
        } else if (parsed.command.empty()) {
            parsed.command = argument;
        } else {
            parsed.operands.push_back(argument);
        }
    }
    if (parsed.command.empty())
        throw Failure(BadArguments, "no command given (see --help)");
    return parsed;
}

void ExpectOperands(const Arguments &arguments, std::size_t least, std::size_t most,
                    const char *usage)
{
    if (arguments.operands.size() < least || arguments.operands.size() > most)
        throw Failure(BadArguments, "usage: nmct-cli [--port PORT] " + std::string(usage));
    if (!arguments.verify && arguments.command != "write")
        throw Failure(BadArguments, "--no-verify goes with write only");
}

std::string LoadText(const std::string &path)
{
    TextRead read = path == "-" ? ReadTextDescriptor(0, "standard input", LargestParamFile)
                                : ReadTextFile(path, LargestParamFile);
    if (!read.Ok())
        throw Failure(FileError, read.error);
    return std::move(read.text);
}

ModuleSettings Checked(const std::string &path, const SettingsResult &result)
{
    if (!result.Ok()) {
        std::string message = path + ": has errors, so nothing was sent or changed:";
        for (const std::string &error : result.errors)
            message += "\n  " + error;
        throw Failure(FileError, message);
    }
    return result.settings;
}

ModuleSettings LoadFile(const std::string &path)
{
    return Checked(path, ReadParamFile(LoadText(path)));
}

void SaveFile(const std::string &path, const std::string &text, std::ostream &out)
{
    // Standard output goes out with everything else the command prints, and is checked there.
    if (path == "-" || NamedDescriptor(path) == 1) {
        out << text;
        return;
    }
    // Written whole or not at all: a failed run never leaves half a file in version control.
    if (const std::optional<std::string> failed = WriteTextFile(path, text))
        throw Failure(FileError, *failed);
}

// Everything that talks to the module; messages name the port and what the user gave.
class ModuleCommands
{
public:
    ModuleCommands(const std::string &port, std::ostream &out) : port(port), out(out)
    {
        if (port.empty())
            throw Failure(BadArguments, "no port given: use --port COMn or --port /dev/..., or "
                                        "set NMCT_PORT");
    }

    IdentifyReply Connect()
    {
        // Named as it was opened: the COM name may lead elsewhere by the time a message is
        // written (an adapter unplugged takes its link with it).
        const std::string resolved = port::ResolveDevice(port);
        where = resolved == port ? port : port + " (" + resolved + ")";
        const OpenResult found = session.Open(port);
        if (found.result == StepResult::NoPort)
            throw Failure(NoModule, "no module: " + OpenFailureAdvice(port, found.failure,
                                                                      PresentSerialAdapters()));
        if (found.result != StepResult::Ok)
            throw Failure(NoModule, Where() + ": no module: " + Describe(found.result));
        return found.identity;
    }

    // A module answers with its model and version; anything else is line noise or another
    // device, and must not be reported as a module.
    IdentifyReply Detect()
    {
        const IdentifyReply identity = Connect();
        const auto readable = [](const std::string &text) {
            return !text.empty() && std::all_of(text.begin(), text.end(),
                                                [](char c) { return c >= 0x20 && c < 0x7f; });
        };
        if (!readable(identity.model) || !readable(identity.version))
            throw Failure(NoModule, Where() +
                                        ": no module: something answered, but not as a "
                                        "module (model " +
                                        paramtext::Quoted(identity.model) + ", version " +
                                        paramtext::Quoted(identity.version) + ")");
        return identity;
    }

    ModuleSettings ReadSettings()
    {
        const ReadResult read = session.Read();
        Check(read.result, "reading the settings");
        const SettingsResult settings = SettingsFromRecord(read.record);
        if (!settings.Ok())
            throw Failure(OperationFailed, Where() + ": the module's settings cannot be shown: " +
                                               settings.errors.front());
        return settings.settings;
    }

    void Check(StepResult result, const char *what)
    {
        if (result != StepResult::Ok)
            throw Failure(OperationFailed, Where() + ": " + what + " failed: " + Describe(result));
    }

    // A command that changes the module: without its "OK" nobody knows what the module did.
    void CheckChanged(StepResult result, const char *what)
    {
        if (result != StepResult::NoReply && result != StepResult::Refused) {
            Check(result, what);
            return;
        }
        throw Failure(OperationFailed,
                      Where() + ": " + what + " failed: " +
                          (result == StepResult::NoReply ? "the module did not answer"
                                                         : "the module's reply was not OK") +
                          "; its state is unknown (check it with 'nmct-cli verify FILE' or "
                          "'nmct-cli read')");
    }

    int Verify(const ModuleSettings &file, const std::string &path)
    {
        const std::vector<std::string> differences = SettingsDifferences(file, ReadSettings());
        for (const std::string &difference : differences)
            out << difference << "\n";
        if (differences.empty())
            return Success;
        throw Failure(VerifyMismatch, Where() + ": the module differs from " + path + " in " +
                                          std::to_string(differences.size()) + " settings");
    }

    ModuleSession &Session() { return session; }

private:
    std::string Where() const { return where.empty() ? port : where; }

    std::string port;
    std::string where;
    std::ostream &out;
    ModuleSession session;
};

int Run(const Arguments &arguments, std::ostream &out)
{
    const std::string &command = arguments.command;
    if (command == "ports") {
        ExpectOperands(arguments, 0, 0, "ports");
        ListPorts(out);
        return Success;
    }
    if (command == "detect") {
        ExpectOperands(arguments, 0, 0, "detect");
        ModuleCommands module(arguments.port, out);
        const IdentifyReply identity = module.Detect();
        out << "model " << identity.model << "\nversion " << identity.version << "\n";
        return Success;
    }
    if (command == "read") {
        ExpectOperands(arguments, 0, 1, "read [FILE]");
        ModuleCommands module(arguments.port, out);
        module.Connect();
        const std::string text = WriteParamFile(module.ReadSettings());
        SaveFile(arguments.operands.empty() ? "-" : arguments.operands[0], text, out);
        return Success;
    }
    if (command == "write" || command == "verify") {
        ExpectOperands(arguments, 1, 1,
                       command == "write" ? "write [--no-verify] FILE" : "verify FILE");
        const std::string &path = arguments.operands[0];
        // The file is checked whole before the port is touched.
        const ModuleSettings settings = LoadFile(path);
        ModuleCommands module(arguments.port, out);
        module.Connect();
        if (command == "write") {
            module.CheckChanged(module.Session().Set(SetValuesFromSettings(settings)), "writing");
            if (!arguments.verify)
                return Success;
        }
        return module.Verify(settings, path);
    }
    if (command == "default") {
        ExpectOperands(arguments, 0, 0, "default");
        ModuleCommands module(arguments.port, out);
        module.Connect();
        module.CheckChanged(module.Session().RestoreDefaults(), "restoring the defaults");
        return Success;
    }
    if (command == "volume") {
        ExpectOperands(arguments, 1, 1, "volume N");
        const std::string &level = arguments.operands[0];
        if (level.size() != 1 || level[0] < '0' || level[0] > HighestVolume[0])
            throw Failure(BadArguments,
                          "volume '" + level + "' is not a level from 0 to " + HighestVolume);
        ModuleCommands module(arguments.port, out);
        module.Connect();
        module.CheckChanged(module.Session().SetVolume(level), "setting the volume");
        return Success;
    }
    if (command == "export-csv") {
        ExpectOperands(arguments, 1, 2, "export-csv FILE [CSV]");
        const std::string table = WriteChannelTable(LoadFile(arguments.operands[0]));
        SaveFile(arguments.operands.size() == 2 ? arguments.operands[1] : "-", table, out);
        return Success;
    }
    if (command == "import-csv") {
        ExpectOperands(arguments, 2, 2, "import-csv CSV FILE");
        const std::string &csv = arguments.operands[0];
        const std::string &path = arguments.operands[1];
        const ModuleSettings settings =
            Checked(csv, ReadChannelTable(LoadText(csv), LoadFile(path)));
        SaveFile(path, WriteParamFile(settings), out);
        return Success;
    }
    throw Failure(BadArguments, "unknown command '" + command + "' (see --help)");
}

} // namespace

int RunCli(const std::vector<std::string> &arguments, int outDescriptor, std::ostream &err)
{
    // What the command prints is kept and written at the end, so a failed write to standard
    // output (a full disk, a closed descriptor) is a failure of the command, as for cat.
    std::ostringstream out;
    int status = Success;
    try {
        const std::optional<Arguments> parsed = Parse(arguments, out);
        status = parsed ? Run(*parsed, out) : Success;
    } catch (const Failure &failure) {
        err << Program << ": " << failure.message << "\n";
        status = failure.status;
    } catch (const std::exception &error) {
        err << Program << ": " << error.what() << "\n";
        status = OperationFailed;
    }
    const std::string printed = out.str();
    if (printed.empty())
        return status;
    if (const std::optional<std::string> failed =
            WriteTextDescriptor(outDescriptor, "standard output", printed)) {
        err << Program << ": " << *failed << "\n";
        return status == Success ? FileError : status;
    }
    return status;
}

} // namespace cli
