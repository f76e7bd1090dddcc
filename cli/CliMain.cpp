#include "cli/CliMain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>

#include "cli/CliArguments.h"
#include "cli/PortList.h"
#include "protocol/ParamFile.h"
#include "protocol/ParamText.h"
#include "protocol/TextFile.h"
#include "serial/SerialPorts.h"
#include "session/ModuleSession.h"
#include "session/PortAdvice.h"

namespace cli {

namespace {

namespace fs = std::filesystem;

const char *const Program = "nmct-cli";

const char *const Help = R"(Usage: nmct-cli [OPTIONS] COMMAND [ARGUMENTS]

Reads, writes and checks radio modules on serial ports, as the window does, and
keeps their settings in parameter files (plain text; see "read").

Commands:
  ports           list the port names (COM1, ...) and the devices they open here,
                  and the serial adapters attached
  detect          show the module's model and version
  read [FILE]     read the module's settings into FILE (or print them); with
                  several ports FILE is a folder that gets PORT.nmct per port
  write FILE      save a backup of the module's settings, write FILE's settings
                  into the module, then read them back and compare
  verify FILE     read the module and list every setting that differs from FILE
  default         save a backup, then restore the module's factory settings
  volume N        set the volume, 0 to 4
  check FILE      check FILE without a module: exit 0, or 3 with its errors
  export-csv FILE [CSV]
                  FILE's channel table as CSV, for a spreadsheet (or print it)
  import-csv CSV FILE
                  replace FILE's channels with the CSV's rows; FILE's tones and
                  squelch stay, its comments do not

Options (before the command, taken after it too; "--" ends them: check -- -x.nmct):
  -p, --port PORT COMn (as the window names ports) or a device path such as
                  /dev/ttyUSB0; default: $NMCT_PORT. Repeat it to run detect,
                  read, write, verify, default or volume on every port at once:
                  one result line per port, in the order given
  --no-verify     with write: do not read back
  --backup-dir DIR
                  with write and default: keep the backup in DIR instead of
                  $XDG_STATE_HOME/nmct/backups (~/.local/state/nmct/backups)
  --no-backup     with write and default: no backup
  --json          one JSON document on standard output instead of text, for
                  ports and the commands that talk to a module: {"command",
                  "status", "message" (when it failed before any port), "ports":
                  [{"port", "device", "model", "version", "outcome" (ok, file
                  error, no module, differs, failed), "status", "message",
                  "backup", "file", "differences": [{"setting", "file",
                  "module"}]}]}; ports lists "ports" and "adapters" instead
  --trace         every byte sent (>) and received (<) on standard error, with
                  the seconds since start, the port, hex and printable text
  -h, --help      this text
  --version       the program's version

The backup is the module's settings as "read" saves them, in a file named after
the port, model, version and time (UTC); its path is printed. Writing it back
restores the module. A backup that cannot be saved stops the write: nothing is
sent.

FILE "-" is standard input or output. Nothing is sent from a file with an
error: every line is checked first. A file is replaced only by a complete new
one; a device or FIFO named as FILE (/dev/stdout, a pipe) is written directly.
In a CSV table a decimal comma is taken where it cannot be a separator:
"460,125" quoted, or unquoted when ';' separates the fields.

Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on the port,
5 the module differs from the file, 6 the module did not complete the command.
3 also when a file is too large (over 1 MiB), a backup or standard output
cannot be written; 4 also when something answers but not as a module; after 6
from write, default or volume the module's state is unknown: check it with
verify or read. With several ports: the highest status of any port.

Example, a batch of modules on four adapters:
  nmct-cli -p COM3 read site.nmct                        # the module you set up
  nmct-cli -p COM3 -p COM4 -p COM5 -p COM6 write site.nmct   # the others
)";

std::string LoadText(const std::string &path)
{
    TextRead read = path == "-" ? ReadTextDescriptor(0, "standard input", LargestParamFile)
                                : ReadTextFile(path, LargestParamFile);
    if (!read.Ok())
        throw Failure(FileError, read.error);
    return std::move(read.text);
}

ModuleSettings Checked(const std::string &path, const SettingsResult &result,
                       const char *consequence = ", so nothing was sent or changed")
{
    if (!result.Ok()) {
        std::string message = path + ": has errors" + consequence + ":";
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

// A name part made of letters, digits, '.' and '-' only: "/dev/ttyUSB0" gives "dev-ttyUSB0".
std::string FileNamePart(const std::string &text)
{
    std::string part;
    for (const char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        part += plain ? c : '-';
    }
    part.erase(0, part.find_first_not_of("-."));
    return part.empty() ? "unnamed" : part;
}

std::string UtcStamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// What one port's run came to.
struct PortResult
{
    std::string port;
    std::string device;
    std::string model;
    std::string version;
    int status = Success;
    std::string message; // why it failed; names the port
    std::string printed; // what the command prints for one port alone
    std::string done;    // for the result line: what was done besides the outcome
    std::vector<SettingDifference> differences;
    std::string backup;
    std::string file;
};

const char *Outcome(int status)
{
    switch (status) {
    case Success:
        return "ok";
    case FileError:
        return "file error";
    case NoModule:
        return "no module";
    case VerifyMismatch:
        return "differs";
    default:
        return "failed";
    }
}

// Every byte through the links, as it passes: shared by the ports' threads.
class Tracer
{
public:
    explicit Tracer(std::ostream &err) : err(err), start(std::chrono::steady_clock::now()) {}

    void Line(const std::string &port, bool sent, std::string_view bytes)
    {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char time[32];
        std::snprintf(time, sizeof time, "%10.6f", seconds);
        std::string hex, text;
        for (const char c : bytes) {
            char pair[4];
            std::snprintf(pair, sizeof pair, "%02x ", static_cast<unsigned char>(c));
            hex += pair;
            text += c >= 0x20 && c < 0x7f ? c : '.';
        }
        const std::lock_guard<std::mutex> lock(mutex);
        err << time << " " << port << (sent ? " > " : " < ") << hex << " |" << text << "|\n";
        err.flush();
    }

private:
    std::ostream &err;
    std::chrono::steady_clock::time_point start;
    std::mutex mutex;
};

// What every port is given alike: read and checked before any port is opened.
struct Job
{
    const Arguments &arguments;
    std::optional<ModuleSettings> settings; // write, verify
    std::string backupDir;                  // write, default, unless --no-backup
    Tracer *tracer = nullptr;

    bool Batch() const { return arguments.ports.size() > 1; }
};

// Everything that talks to the module; messages name the port and what the user gave.
class ModuleCommands
{
public:
    ModuleCommands(PortResult &result) : result(result) {}

    IdentifyReply Connect()
    {
        // Named as it was opened: the COM name may lead elsewhere by the time a message is
        // written (an adapter unplugged takes its link with it).
        const std::string &port = result.port;
        result.device = port::ResolveDevice(port);
        where = result.device == port ? port : port + " (" + result.device + ")";
        const OpenResult found = session.Open(port);
        if (found.result == StepResult::NoPort)
            throw Failure(NoModule, "no module: " + OpenFailureAdvice(port, found.failure,
                                                                      PresentSerialAdapters()));
        if (found.result != StepResult::Ok)
            throw Failure(NoModule, where + ": no module: " + Describe(found.result));
        result.model = found.identity.model;
        result.version = found.identity.version;
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
            throw Failure(NoModule, where +
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
            throw Failure(OperationFailed, where + ": the module's settings cannot be shown: " +
                                               settings.errors.front());
        return settings.settings;
    }

    void Check(StepResult step, const char *what)
    {
        if (step != StepResult::Ok)
            throw Failure(OperationFailed, where + ": " + what + " failed: " + Describe(step));
    }

    // A command that changes the module: without its "OK" nobody knows what the module did.
    void CheckChanged(StepResult step, const char *what)
    {
        if (step == StepResult::NoReply || step == StepResult::Refused)
            throw Failure(OperationFailed, where + ": " + what + " failed: " + Describe(step) +
                                               "; its state is unknown (check it with 'nmct-cli "
                                               "verify FILE' or 'nmct-cli read')");
        Check(step, what);
    }

    // What the module holds now, saved before anything changes it; any failure stops the
    // change before it is sent.
    void Backup(const std::string &folder, std::ostream &out)
    {
        const char *const nothingSent = "; nothing was sent (--no-backup changes the module "
                                        "without a backup)";
        std::string text;
        try {
            text = WriteParamFile(ReadSettings());
        } catch (Failure &failure) {
            failure.message += nothingSent;
            throw;
        }
        const std::string stem = folder + "/" + FileNamePart(result.port) + "_" +
                                 FileNamePart(result.model) + "_" + FileNamePart(result.version) +
                                 "_" + UtcStamp();
        // An older backup is never replaced.
        std::error_code error;
        std::string path = stem + ".nmct";
        for (int again = 2; fs::exists(fs::symlink_status(path, error)); ++again)
            path = stem + "-" + std::to_string(again) + ".nmct";
        if (const std::optional<std::string> failed = WriteTextFile(path, text))
            throw Failure(FileError, *failed + nothingSent);
        result.backup = path;
        out << "backup " << path << "\n";
    }

    void Verify(const ModuleSettings &file, const std::string &path, std::ostream &out)
    {
        result.differences = SettingsDifferences(file, ReadSettings());
        for (const SettingDifference &difference : result.differences)
            out << difference.Text() << "\n";
        if (!result.differences.empty())
            throw Failure(VerifyMismatch, where + ": the module differs from " + path + " in " +
                                              std::to_string(result.differences.size()) +
                                              " settings");
    }

    ModuleSession &Session() { return session; }

private:
    PortResult &result;
    std::string where;
    ModuleSession session;
};

// One port, start to end; runs on the thread that will process the link's events.
PortResult RunOnPort(const Job &job, const std::string &port)
{
    const Arguments &arguments = job.arguments;
    const std::string &command = arguments.command;
    PortResult result;
    result.port = port;
    std::ostringstream out;
    try {
        ModuleCommands module(result);
        if (job.tracer)
            module.Session().SetTrace([&job, &port](bool sent, std::string_view bytes) {
                job.tracer->Line(port, sent, bytes);
            });
        if (command == "detect") {
            module.Detect();
            out << "model " << result.model << "\nversion " << result.version << "\n";
        } else if (command == "read") {
            module.Connect();
            const std::string text = WriteParamFile(module.ReadSettings());
            const std::string file =
                job.Batch() ? arguments.operands[0] + "/" + FileNamePart(port) + ".nmct"
                            : (arguments.operands.empty() ? "-" : arguments.operands[0]);
            SaveFile(file, text, out);
            result.file = file;
            result.done = "saved to " + file;
        } else if (command == "write" || command == "verify") {
            module.Connect();
            const std::string &path = arguments.operands[0];
            if (command == "write") {
                if (!job.backupDir.empty())
                    module.Backup(job.backupDir, out);
                module.CheckChanged(module.Session().Set(SetValuesFromSettings(*job.settings)),
                                    "writing");
                result.done = "written";
            }
            if (command == "verify" || arguments.verify) {
                module.Verify(*job.settings, path, out);
                result.done += result.done.empty() ? "matches " + path : " and verified";
            }
        } else if (command == "default") {
            module.Connect();
            if (!job.backupDir.empty())
                module.Backup(job.backupDir, out);
            module.CheckChanged(module.Session().RestoreDefaults(), "restoring the defaults");
            result.done = "defaults restored";
        } else if (command == "volume") {
            module.Connect();
            module.CheckChanged(module.Session().SetVolume(arguments.operands[0]),
                                "setting the volume");
            result.done = "volume " + arguments.operands[0];
        }
    } catch (const Failure &failure) {
        result.status = failure.status;
        result.message = failure.message;
    } catch (const std::exception &error) {
        result.status = OperationFailed;
        result.message = port + ": " + error.what();
    }
    result.printed = out.str();
    return result;
}

// One session per thread: the link waits for its replies by processing the events of the
// thread it was made on, so each port gets a thread that makes its own session.
std::vector<PortResult> RunOnPorts(const Job &job)
{
    const std::vector<std::string> &ports = job.arguments.ports;
    std::vector<PortResult> results(ports.size());
    // What a port reports whose thread never ran.
    for (std::size_t i = 0; i < ports.size(); ++i) {
        results[i].port = ports[i];
        results[i].status = OperationFailed;
        results[i].message = ports[i] + ": no thread could be started for this port";
    }
    if (ports.size() == 1) {
        results[0] = RunOnPort(job, ports[0]);
        return results;
    }
    std::vector<std::unique_ptr<QThread>> threads;
    for (std::size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back(QThread::create(
            [&job, &results, &ports, i] { results[i] = RunOnPort(job, ports[i]); }));
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->start();
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();
    return results;
}

std::string BackupFolder(const Arguments &arguments)
{
    if (!arguments.backupDir.empty())
        return arguments.backupDir;
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/nmct/backups";
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/')
        throw Failure(FileError, "no folder for the backup: neither XDG_STATE_HOME nor HOME is "
                                 "set (use --backup-dir DIR, or --no-backup)");
    return std::string(home) + "/.local/state/nmct/backups";
}

QString Json(const std::string &text)
{
    return QString::fromStdString(text);
}

QJsonObject PortJson(const PortResult &result)
{
    QJsonObject port{{"port", Json(result.port)},         {"device", Json(result.device)},
                     {"model", Json(result.model)},       {"version", Json(result.version)},
                     {"outcome", Outcome(result.status)}, {"status", result.status}};
    if (!result.message.empty())
        port["message"] = Json(result.message);
    if (!result.backup.empty())
        port["backup"] = Json(result.backup);
    if (!result.file.empty())
        port["file"] = Json(result.file);
    if (!result.differences.empty()) {
        QJsonArray differences;
        for (const SettingDifference &difference : result.differences) {
            differences.append(QJsonObject{{"setting", Json(difference.setting)},
                                           {"file", Json(difference.file)},
                                           {"module", Json(difference.module)}});
        }
        port["differences"] = differences;
    }
    return port;
}

void PrintJson(QJsonObject document, std::ostream &out)
{
    out << QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

QJsonObject PortsJson()
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
    return QJsonObject{
        {"command", "ports"}, {"status", Success}, {"ports", ports}, {"adapters", adapters}};
}

int Run(const Arguments &arguments, std::ostream &out, std::ostream &err)
{
    const std::string &command = arguments.command;
    if (command == "ports") {
        if (arguments.json)
            PrintJson(PortsJson(), out);
        else
            ListPorts(out);
        return Success;
    }
    if (command == "check") {
        Checked(arguments.operands[0], ReadParamFile(LoadText(arguments.operands[0])), "");
        return Success;
    }
    if (command == "export-csv") {
        const std::string table = WriteChannelTable(LoadFile(arguments.operands[0]));
        SaveFile(arguments.operands.size() == 2 ? arguments.operands[1] : "-", table, out);
        return Success;
    }
    if (command == "import-csv") {
        const std::string &csv = arguments.operands[0];
        const std::string &path = arguments.operands[1];
        const ModuleSettings settings =
            Checked(csv, ReadChannelTable(LoadText(csv), LoadFile(path)));
        SaveFile(path, WriteParamFile(settings), out);
        return Success;
    }

    Job job{arguments, std::nullopt, {}, nullptr};
    // The file is checked whole, and the backup's place found, before any port is touched.
    if (command == "write" || command == "verify")
        job.settings = LoadFile(arguments.operands[0]);
    if (BacksUpFirst(command) && arguments.backup) {
        job.backupDir = BackupFolder(arguments);
        std::error_code error;
        fs::create_directories(job.backupDir, error);
        if (error)
            throw Failure(FileError, job.backupDir + ": the backup folder cannot be made: " +
                                         error.message() + "; nothing was sent");
    }
    if (job.Batch() && (command == "read" || !job.backupDir.empty())) {
        // Each port its own file (its read, or its backup): two ports whose names come to the
        // same file would lose one module's.
        std::vector<std::string> names;
        for (const std::string &port : arguments.ports) {
            const std::string name = FileNamePart(port);
            if (std::find(names.begin(), names.end(), name) != names.end())
                throw Failure(BadArguments, "two ports would share the file name " + name +
                                                ".nmct; name them differently");
            names.push_back(name);
        }
    }
    if (command == "read" && job.Batch()) {
        std::error_code error;
        fs::create_directories(arguments.operands[0], error);
        if (error)
            throw Failure(FileError, arguments.operands[0] +
                                         ": the folder cannot be made: " + error.message());
    }
    std::optional<Tracer> tracer;
    if (arguments.trace)
        job.tracer = &tracer.emplace(err);

    const std::vector<PortResult> results = RunOnPorts(job);
    int status = Success;
    for (const PortResult &result : results)
        status = std::max(status, result.status);

    for (const PortResult &result : results) {
        if (result.status == Success)
            continue;
        err << Program << ": " << result.message << "\n";
        if (job.Batch())
            for (const SettingDifference &difference : result.differences)
                err << "  " << difference.Text() << "\n";
    }
    if (arguments.json) {
        QJsonArray ports;
        for (const PortResult &result : results)
            ports.append(PortJson(result));
        PrintJson(QJsonObject{{"command", Json(command)}, {"status", status}, {"ports", ports}},
                  out);
    } else if (!job.Batch()) {
        out << results[0].printed;
    } else {
        // One line per port, in the order given.
        for (const PortResult &result : results) {
            out << result.port << ": " << Outcome(result.status);
            if (!result.model.empty())
                out << ", model " << result.model << ", version " << result.version;
            if (result.status == Success && !result.done.empty())
                out << ", " << result.done;
            if (!result.backup.empty())
                out << ", backup " << result.backup;
            out << "\n";
        }
    }
    return status;
}

} // namespace

int RunCli(const std::vector<std::string> &arguments, int outDescriptor, std::ostream &err)
{
    // What the command prints is kept and written at the end, so a failed write to standard
    // output (a full disk, a closed descriptor) is a failure of the command, as for cat.
    std::ostringstream out;
    int status = Success;
    std::string message;
    std::optional<Arguments> parsed;
    try {
        parsed = ParseArguments(arguments, std::getenv("NMCT_PORT"));
        if (parsed->help)
            out << Help;
        else if (parsed->version)
            out << Program << " " << NMCT_VERSION << "\n";
        else
            status = Run(*parsed, out, err);
    } catch (const Failure &failure) {
        message = failure.message;
        status = failure.status;
    } catch (const std::exception &error) {
        message = error.what();
        status = OperationFailed;
    }
    if (!message.empty())
        err << Program << ": " << message << "\n";
    // A script reading --json gets a document whatever stopped the run.
    if (status != Success && parsed && parsed->json && out.str().empty())
        PrintJson(QJsonObject{{"command", Json(parsed->command)},
                              {"status", status},
                              {"message", Json(message)},
                              {"ports", QJsonArray()}},
                  out);
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
