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
                  error, no module, differs, failed), "status", "change"
                  (nothing sent, not acknowledged, acknowledged, confirmed),
                  "message", "backup", "file", "differences": [{"setting",
                  "file", "module"}]}]}; ports lists "ports" and "adapters"
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

Every command that talks to a module identifies it first and goes on only when
it answers with a module's model and version. write, default and volume end by
saying what the module now holds: "nothing was sent", "sent, not acknowledged"
(its settings or volume are unknown), "written and acknowledged, not read
back", or done ("written and verified", "defaults restored", "volume set to N").

Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on the port,
5 the module differs from the file, 6 the module did not complete the command,
7 the module was changed as asked but standard output could not be written
(what changed is then on standard error). 3 also when a file is too large (over
1 MiB) or a backup cannot be written (nothing was sent); 4 also when something
answers but not as a module (nothing more was sent); 5 after write: the module
took the settings but holds others; 6 after write, default or volume: the
message says whether anything was sent and what to do. With several ports: the
highest status of any port.

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

// What a run did to a module's settings or volume: whether anything that changes them was sent,
// and whether the module confirmed it.
enum class Change
{
    NothingSent,
    NotAcknowledged, // sent, but no "OK" came: the module may hold anything
    Acknowledged,    // "OK", but not read back (or read back different)
    Confirmed,       // "OK", and for settings read back equal
};

const char *ChangeName(Change change)
{
    switch (change) {
    case Change::NothingSent:
        return "nothing sent";
    case Change::NotAcknowledged:
        return "not acknowledged";
    case Change::Acknowledged:
        return "acknowledged";
    case Change::Confirmed:
        return "confirmed";
    }
    return "";
}

// What one port's run came to.
struct PortResult
{
    std::string port;
    std::string device;
    std::string model;
    std::string version;
    int status = Success;
    Change change = Change::NothingSent;
    std::string message; // why it failed; names the port
    std::string printed; // what the command prints for one port alone
    // What the module now holds, or what was done besides the outcome, in the same words for
    // one port and a batch: "written and verified", "nothing was sent", "saved to FILE".
    std::string done;
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

// "COM3: ok, model NM450, version V2.13, written and verified, backup PATH"
std::string ResultLine(const PortResult &result)
{
    std::string line = result.port + ": " + Outcome(result.status);
    if (!result.model.empty())
        line += ", model " + result.model + ", version " + result.version;
    if (!result.done.empty())
        line += ", " + result.done;
    if (!result.backup.empty())
        line += ", backup " + result.backup;
    return line;
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

const char *const NothingSent = "nothing was sent";

// Everything that talks to the module; messages name the port and what the user gave, and once
// something that changes the module has gone out, what it now holds.
class ModuleCommands
{
public:
    ModuleCommands(const Job &job, PortResult &result) : job(job), result(result) {}

    // Only a module's own identity lets anything more be sent: line noise or another device
    // that answers is not told to change its settings.
    void Connect()
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
        if (!IsModuleIdentity(found.identity))
            throw Failure(NoModule, where +
                                        ": no module: something answered, but not as a module "
                                        "(model " +
                                        paramtext::Quoted(found.identity.model) + ", version " +
                                        paramtext::Quoted(found.identity.version) + ")");
        result.model = found.identity.model;
        result.version = found.identity.version;
    }

    // The module's settings, or why they could not be had: no reply, a reply that is no
    // record, or a record with a setting the file cannot hold.
    std::optional<ModuleSettings> ReadSettings(std::string &why)
    {
        const ReadResult read = session.Read();
        if (read.result != StepResult::Ok) {
            why = Describe(read.result);
            return std::nullopt;
        }
        if (why = ReadReplyFault(read.record, read.received); !why.empty())
            return std::nullopt;
        const SettingsResult settings = SettingsFromRecord(read.record);
        if (!settings.Ok()) {
            why = "the module holds a setting this program cannot show: " + settings.errors.front();
            return std::nullopt;
        }
        return settings.settings;
    }

    ModuleSettings ReadOrFail(const char *what)
    {
        std::string why;
        std::optional<ModuleSettings> settings = ReadSettings(why);
        if (!settings)
            throw Failure(OperationFailed, where + ": " + what + " failed: " + why);
        return *settings;
    }

    void Detect(std::ostream &out)
    {
        Connect();
        out << "model " << result.model << "\nversion " << result.version << "\n";
    }

    void Read(std::ostream &out)
    {
        Connect();
        const std::string text = WriteParamFile(ReadOrFail("reading the settings"));
        const std::vector<std::string> &operands = job.arguments.operands;
        const std::string file = job.Batch()
                                     ? operands[0] + "/" + FileNamePart(result.port) + ".nmct"
                                     : (operands.empty() ? "-" : operands[0]);
        SaveFile(file, text, out);
        result.file = file;
        result.done = "saved to " + file;
    }

    void Verify(std::ostream &out)
    {
        Connect();
        const std::string &path = job.arguments.operands[0];
        if (Differences(ReadOrFail("reading the settings"), out) == 0) {
            result.done = "matches " + path;
            return;
        }
        throw Failure(VerifyMismatch, where + ": the module differs from " + path + " in " +
                                          std::to_string(result.differences.size()) + " settings");
    }

    void Write(std::ostream &out)
    {
        Connect();
        const std::string &path = job.arguments.operands[0];
        Backup(out);
        Acknowledged(session.Set(SetValuesFromSettings(*job.settings)), "writing",
                     "the module's settings are unknown, check them with: " + Advice("verify"));
        result.done = "written and acknowledged, not read back";
        if (!job.arguments.verify)
            return;
        std::string why;
        const std::optional<ModuleSettings> held = ReadSettings(why);
        if (!held)
            throw Failure(OperationFailed, where + ": reading the settings back failed: " + why +
                                               "; " + result.done +
                                               ": check them with: " + Advice("verify"));
        if (const std::size_t count = Differences(*held, out); count != 0) {
            result.done = "written and acknowledged, but differs from " + path + " in " +
                          std::to_string(count) + " settings";
            throw Failure(VerifyMismatch, where + ": " + result.done);
        }
        result.change = Change::Confirmed;
        result.done = "written and verified";
    }

    void RestoreDefaults(std::ostream &out)
    {
        Connect();
        Backup(out);
        Acknowledged(session.RestoreDefaults(), "restoring the defaults",
                     "the module's settings are unknown, check them with: " + Advice("read"));
        result.change = Change::Confirmed;
        result.done = "defaults restored";
    }

    void SetVolume()
    {
        Connect();
        const std::string &level = job.arguments.operands[0];
        Acknowledged(session.SetVolume(level), "setting the volume",
                     "the volume is unknown, set it again with: " + Advice("volume " + level));
        result.change = Change::Confirmed;
        result.done = "volume set to " + level;
    }

    ModuleSession &Session() { return session; }

private:
    // A command that changes the module went out: without its "OK" nobody knows what the
    // module did.
    void Acknowledged(StepResult step, const char *what, const std::string &unknown)
    {
        if (step == StepResult::Ok) {
            result.change = Change::Acknowledged;
            return;
        }
        result.change = Change::NotAcknowledged;
        result.done = "sent, not acknowledged";
        throw Failure(OperationFailed, where + ": " + what + " failed: " + Describe(step) + "; " +
                                           result.done + ": " + unknown);
    }

    // Lists every setting that differs and counts them.
    std::size_t Differences(const ModuleSettings &held, std::ostream &out)
    {
        result.differences = SettingsDifferences(*job.settings, held);
        for (const SettingDifference &difference : result.differences)
            out << difference.Text() << "\n";
        return result.differences.size();
    }

    // What the module holds now, saved before anything changes it; any failure stops the
    // change before it is sent.
    void Backup(std::ostream &out)
    {
        if (job.backupDir.empty())
            return;
        const std::string text = WriteParamFile(ReadOrFail("reading the settings for the backup"));
        const std::string stem = job.backupDir + "/" + FileNamePart(result.port) + "_" +
                                 FileNamePart(result.model) + "_" + FileNamePart(result.version) +
                                 "_" + UtcStamp();
        // An older backup is never replaced.
        std::error_code error;
        std::string path = stem + ".nmct";
        for (int again = 2; fs::exists(fs::symlink_status(path, error)); ++again)
            path = stem + "-" + std::to_string(again) + ".nmct";
        if (const std::optional<std::string> failed = WriteTextFile(path, text))
            throw Failure(FileError, *failed);
        result.backup = path;
        out << "backup " << path << "\n";
    }

    // The command that shows or mends what a failed change left, ready to paste.
    std::string Advice(const std::string &command) const
    {
        std::string advice = std::string(Program) + " -p " + ShellWord(result.port) + " " + command;
        if (command == "verify") {
            const std::string &path = job.arguments.operands[0];
            advice += " " + (path == "-" ? std::string("FILE") : ShellWord(path));
        }
        return advice;
    }

    const Job &job;
    PortResult &result;
    std::string where;
    ModuleSession session;
};

// One port, start to end; runs on the thread that will process the link's events.
PortResult RunOnPort(const Job &job, const std::string &port)
{
    const std::string &command = job.arguments.command;
    PortResult result;
    result.port = port;
    if (ChangesModule(command))
        result.done = NothingSent;
    std::ostringstream out;
    try {
        ModuleCommands module(job, result);
        if (job.tracer)
            module.Session().SetTrace([&job, &port](bool sent, std::string_view bytes) {
                job.tracer->Line(port, sent, bytes);
            });
        if (command == "detect")
            module.Detect(out);
        else if (command == "read")
            module.Read(out);
        else if (command == "verify")
            module.Verify(out);
        else if (command == "write")
            module.Write(out);
        else if (command == "default")
            module.RestoreDefaults(out);
        else if (command == "volume")
            module.SetVolume();
    } catch (const Failure &failure) {
        result.status = failure.status;
        result.message = failure.message;
    } catch (const std::exception &error) {
        result.status = OperationFailed;
        result.message = port + ": " + error.what();
    }
    if (ChangesModule(command)) {
        if (result.status != Success && result.change == Change::NothingSent)
            result.message += std::string("; ") + NothingSent;
        out << result.done << "\n";
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
    QJsonObject port{{"port", Json(result.port)},          {"device", Json(result.device)},
                     {"model", Json(result.model)},        {"version", Json(result.version)},
                     {"outcome", Outcome(result.status)},  {"status", result.status},
                     {"change", ChangeName(result.change)}};
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

// An output that is also an input would be read and destroyed by the same run.
void RefuseOverwrite(const std::string &output, const std::string &input, const char *what)
{
    if (output != "-" && SameFile(output, input))
        throw Failure(BadArguments, output + " is " + what + "; nothing was written");
}

// Two names of one device in one batch would open it twice, and one would find it busy.
void RefuseSameDevice(const std::vector<std::string> &ports)
{
    std::vector<std::string> devices;
    for (const std::string &port : ports)
        devices.push_back(port::ResolveDevice(port));
    for (std::size_t i = 0; i < ports.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (SameFile(devices[i], devices[j]))
                throw Failure(BadArguments, ports[j] + " and " + ports[i] +
                                                " are the same device; give each port once");
}

// What a run changed in the modules it reached, as the result lines say it: kept apart from
// standard output, so that a report that cannot be written does not hide it.
using Changed = std::vector<std::string>;

int Run(const Arguments &arguments, std::ostream &out, std::ostream &err, Changed &changed)
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
        const std::string &path = arguments.operands[0];
        const std::string csv = arguments.operands.size() == 2 ? arguments.operands[1] : "-";
        RefuseOverwrite(csv, path, "the parameter file the table is made from");
        SaveFile(csv, WriteChannelTable(LoadFile(path)), out);
        return Success;
    }
    if (command == "import-csv") {
        const std::string &csv = arguments.operands[0];
        const std::string &path = arguments.operands[1];
        RefuseOverwrite(path, csv, "the table it is to take the channels from");
        const ModuleSettings settings =
            Checked(csv, ReadChannelTable(LoadText(csv), LoadFile(path)));
        SaveFile(path, WriteParamFile(settings), out);
        return Success;
    }

    Job job{arguments, std::nullopt, {}, nullptr};
    RefuseSameDevice(arguments.ports);
    if (command == "read" && !job.Batch() && !arguments.operands.empty())
        RefuseOverwrite(arguments.operands[0], port::ResolveDevice(arguments.ports[0]),
                        "the port's device");
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
        if (result.change != Change::NothingSent)
            changed.push_back(ResultLine(result));
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
        for (const PortResult &result : results)
            out << ResultLine(result) << "\n";
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
    Changed changed;
    try {
        parsed = ParseArguments(arguments, std::getenv("NMCT_PORT"));
        if (parsed->help)
            out << Help;
        else if (parsed->version)
            out << Program << " " << NMCT_VERSION << "\n";
        else
            status = Run(*parsed, out, err, changed);
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
        // The modules changed all the same: what they now hold must not go with the report.
        for (const std::string &line : changed)
            err << Program << ": " << line << "\n";
        if (status != Success)
            return status;
        return changed.empty() ? FileError : ReportFailed;
    }
    return status;
}

} // namespace cli
