#pragma once
// nmct-cli --help: the commands and options from their tables, then what holds for all of them
// (backups, files, what a module holds after a change, exit statuses).

#include <string>

namespace cli {

std::string HelpText();

} // namespace cli
