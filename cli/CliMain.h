#pragma once
// nmct-cli: the module's operations for scripts, one command per run. RunCli is the whole
// program except the Qt application object, which the link's waits need and main makes.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// The exit status says what went wrong, so a script can tell a missing module from a bad file.
enum Exit : int
{
    Success = 0,
    BadArguments = 2,
    FileError = 3,
    NoModule = 4,
    VerifyMismatch = 5,
    OperationFailed = 6, // the module was found but did not complete the command
    // The command changed the module as asked, but what it printed could not be written.
    ReportFailed = 7,
};

// What the command prints goes to `outDescriptor` (-1: standard output was closed).
int RunCli(const std::vector<std::string> &arguments, int outDescriptor, std::ostream &err);

} // namespace cli
