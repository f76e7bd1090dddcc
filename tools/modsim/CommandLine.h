#pragma once
// The modsim program's command line.

#include "tools/modsim/ModuleSimulator.h"

#include <string>
#include <vector>

namespace nmct::modsim {

struct CommandLine
{
    Options options;
    bool help = false;
    bool verbose = false;
};

// Parses the arguments after the program name. Throws std::invalid_argument with a message
// fit for the user.
CommandLine ParseCommandLine(const std::vector<std::string> &arguments);

std::string UsageText();

} // namespace nmct::modsim
