#pragma once
// nmct-cli: the module's operations for scripts, one command per run. RunCli is the whole
// program except the Qt application object, which the link's waits need and main makes. The
// commands are a table (CommandTable.h); the exit statuses are in Exit.h.

#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

// What the command prints goes to `outDescriptor` (-1: standard output was closed).
int RunCli(const std::vector<std::string> &arguments, int outDescriptor, std::ostream &err);

} // namespace cli
