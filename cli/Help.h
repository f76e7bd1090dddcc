#pragma once
// nmct-cli --help: the commands, the options, backups, files, what a module holds after a
// change, and the exit statuses.

#include <string>

namespace cli {

std::string HelpText();

} // namespace cli
