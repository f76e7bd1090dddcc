#include "cli/CliMain.h"

#include <cstdlib>
#include <optional>
#include <ostream>
#include <sstream>

#include "cli/BatchRunner.h"
#include "cli/CliArguments.h"
#include "cli/CommandTable.h"
#include "cli/Help.h"
#include "cli/Report.h"
#include "protocol/TextFile.h"

namespace cli {

namespace {

// The one dispatch: a command runs once on its own, or on every port given.
int Run(const Arguments &arguments, std::ostream &out, std::ostream &err, Changed &changed)
{
    const Command &command = *FindCommand(arguments.command);
    if (command.run)
        return command.run(arguments, out);
    return RunOnModules(command, arguments, out, err, changed);
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
            out << HelpText();
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
        ReportFailureJson(parsed->command, status, message, out);
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
