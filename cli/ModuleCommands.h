#pragma once
// The commands that talk to a module, on one port: identify, then read, verify, write, restore
// the defaults or set the volume. Messages name the port and what the user gave, and once
// something that changes the module has gone out, what it now holds.

#include <iosfwd>
#include <optional>
#include <string>

#include "cli/Report.h"
#include "protocol/ParamFile.h"
#include "session/ModuleSession.h"

namespace cli {

struct Arguments;
struct Command;
class Tracer;

// What every port is given alike: read and checked before any port is opened.
struct Job
{
    const Arguments &arguments;
    const Command &command;
    std::optional<ModuleSettings> settings; // the file the module is written or compared with
    std::string backupDir;                  // empty: no backup
    Tracer *tracer = nullptr;

    bool Batch() const;
};

// Before any port opens: the file that write and verify give every port, checked whole.
void LoadSettingsFile(Job &job);
// Before any port opens: read's file is not the port's own device; with several ports, a file
// per port in a folder that is made.
void PrepareRead(Job &job);

class ModuleCommands
{
public:
    ModuleCommands(const Job &job, PortResult &result) : job(job), result(result) {}

    void Detect(std::ostream &out);
    void Read(std::ostream &out);
    void Verify(std::ostream &out);
    void Write(std::ostream &out);
    void RestoreDefaults(std::ostream &out);
    void SetVolume(std::ostream &out);

    ModuleSession &Session() { return session; }

private:
    void Connect();
    std::optional<ModuleSettings> ReadSettings(std::string &why);
    ModuleSettings ReadOrFail(const char *what);
    void Acknowledged(StepResult step, const char *what, const std::string &unknown);
    std::size_t Differences(const ModuleSettings &held, std::ostream &out);
    void Backup(std::ostream &out);
    std::string Advice(const std::string &command) const;
    std::string VerifyAdvice() const;

    const Job &job;
    PortResult &result;
    std::string where;
    ModuleSession session;
};

} // namespace cli
