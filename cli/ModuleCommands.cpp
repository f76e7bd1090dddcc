#include "cli/ModuleCommands.h"

#include <filesystem>
#include <ostream>

#include "cli/Backup.h"
#include "cli/CliArguments.h"
#include "cli/Files.h"
#include "protocol/ParamText.h"
#include "serial/SerialPorts.h"
#include "session/PortAdvice.h"
#include "session/PortMap.h"

namespace cli {

bool Job::Batch() const
{
    return arguments.ports.size() > 1;
}

void LoadSettingsFile(Job &job)
{
    job.settings = LoadFile(job.arguments.operands[0]);
}

void PrepareRead(Job &job)
{
    const Arguments &arguments = job.arguments;
    if (!job.Batch()) {
        if (!arguments.operands.empty())
            RefuseOverwrite(arguments.operands[0],
                            RoutePort(arguments.ports[0], LoadPortMap()).target,
                            "the port's device");
        return;
    }
    RefuseSharedFileNames(arguments.ports);
    std::error_code error;
    std::filesystem::create_directories(arguments.operands[0], error);
    if (error)
        throw Failure(FileError,
                      arguments.operands[0] + ": the folder cannot be made: " + error.message());
}

// Only a module's own identity lets anything more be sent: line noise or another device that
// answers is not told to change its settings.
void ModuleCommands::Connect()
{
    // Named as it was opened: the COM name may lead elsewhere by the time a message is written
    // (an adapter unplugged takes its link with it).
    const std::string &port = result.port;
    const OpenResult found = session.Open(port);
    result.device = found.device;
    where =
        result.device.empty() || result.device == port ? port : port + " (" + result.device + ")";
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

// The module's settings, or why they could not be had: no reply, a reply that is no record, or
// a record with a setting the file cannot hold.
std::optional<ModuleSettings> ModuleCommands::ReadSettings(std::string &why)
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

ModuleSettings ModuleCommands::ReadOrFail(const char *what)
{
    std::string why;
    std::optional<ModuleSettings> settings = ReadSettings(why);
    if (!settings)
        throw Failure(OperationFailed, where + ": " + what + " failed: " + why);
    return *settings;
}

void ModuleCommands::Detect(std::ostream &out)
{
    Connect();
    out << "model " << result.model << "\nversion " << result.version << "\n";
}

void ModuleCommands::Read(std::ostream &out)
{
    Connect();
    const std::string text = WriteParamFile(ReadOrFail("reading the settings"));
    const std::vector<std::string> &operands = job.arguments.operands;
    const std::string file = job.Batch() ? operands[0] + "/" + FileNamePart(result.port) + ".nmct"
                                         : (operands.empty() ? "-" : operands[0]);
    SaveFile(file, text, out);
    result.file = file;
    result.done = "saved to " + file;
}

void ModuleCommands::Verify(std::ostream &out)
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

void ModuleCommands::Write(std::ostream &out)
{
    Connect();
    const std::string &path = job.arguments.operands[0];
    Backup(out);
    Acknowledged(session.Set(SetValuesFromSettings(*job.settings)), "writing",
                 "the module's settings are unknown, check them with: " + VerifyAdvice());
    result.done = "written and acknowledged, not read back";
    if (!job.arguments.verify)
        return;
    std::string why;
    const std::optional<ModuleSettings> held = ReadSettings(why);
    if (!held)
        throw Failure(OperationFailed, where + ": reading the settings back failed: " + why + "; " +
                                           result.done + ": check them with: " + VerifyAdvice());
    if (const std::size_t count = Differences(*held, out); count != 0) {
        result.done = "written and acknowledged, but differs from " + path + " in " +
                      std::to_string(count) + " settings";
        throw Failure(VerifyMismatch, where + ": " + result.done);
    }
    result.change = Change::Confirmed;
    result.done = "written and verified";
}

void ModuleCommands::RestoreDefaults(std::ostream &out)
{
    Connect();
    Backup(out);
    Acknowledged(session.RestoreDefaults(), "restoring the defaults",
                 "the module's settings are unknown, check them with: " + Advice("read"));
    result.change = Change::Confirmed;
    result.done = "defaults restored";
}

void ModuleCommands::SetVolume(std::ostream &)
{
    Connect();
    const std::string &level = job.arguments.operands[0];
    Acknowledged(session.SetVolume(level), "setting the volume",
                 "the volume is unknown, set it again with: " + Advice("volume " + level));
    result.change = Change::Confirmed;
    result.done = "volume set to " + level;
}

// A command that changes the module went out: without its "OK" nobody knows what the module
// did.
void ModuleCommands::Acknowledged(StepResult step, const char *what, const std::string &unknown)
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
std::size_t ModuleCommands::Differences(const ModuleSettings &held, std::ostream &out)
{
    result.differences = SettingsDifferences(*job.settings, held);
    for (const SettingDifference &difference : result.differences)
        out << difference.Text() << "\n";
    return result.differences.size();
}

// What the module holds now, saved before anything changes it; any failure stops the change
// before it is sent.
void ModuleCommands::Backup(std::ostream &out)
{
    if (job.backupDir.empty())
        return;
    const std::string text = WriteParamFile(ReadOrFail("reading the settings for the backup"));
    result.backup = SaveBackup(job.backupDir, result.port, result.model, result.version, text);
    out << "backup " << result.backup << "\n";
}

// The command that shows or mends what a failed change left, ready to paste.
std::string ModuleCommands::Advice(const std::string &command) const
{
    return std::string(Program) + " -p " + ShellWord(result.port) + " " + command;
}

// Compares with the file the run was given; one that came on standard input has no name.
std::string ModuleCommands::VerifyAdvice() const
{
    const std::string &path = job.arguments.operands[0];
    return Advice("verify " + (path == "-" ? std::string("FILE") : ShellWord(path)));
}

} // namespace cli
