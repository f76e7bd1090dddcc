#pragma once
// A command that talks to a module, run on every port given at once: what every port is given
// is readied first, then each port runs on its own thread with its own session, and the
// results are reported in the order the ports were given.

#include <iosfwd>

#include "cli/Report.h"

namespace cli {

struct Arguments;
struct Command;

// Gives the highest status of any port.
int RunOnModules(const Command &command, const Arguments &arguments, std::ostream &out,
                 std::ostream &err, Changed &changed);

} // namespace cli
