#pragma once
// How a run of nmct-cli ends: its exit status, and the failure that carries one out of
// whatever part of the program stopped the run.

#include <string>

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

// A failure that ends the run with its exit status and message (without the program's name).
class Failure
{
public:
    Failure(int status, std::string message) : status(status), message(std::move(message)) {}
    int status;
    std::string message;
};

// Bad arguments: nothing was sent or written.
[[noreturn]] inline void Refuse(const std::string &message)
{
    throw Failure(BadArguments, message);
}

} // namespace cli
