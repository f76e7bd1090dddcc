#pragma once
// The user's files as nmct-cli reads and writes them: parameter files checked whole before
// anything is sent, outputs written whole or not at all, "-" for standard input or output.

#include <iosfwd>
#include <string>
#include <vector>

#include "protocol/ParamFile.h"

namespace cli {

// The file's text, or a FileError failure; "-" reads standard input.
std::string LoadText(const std::string &path);
// The settings, or a FileError failure that lists every error and says what that stopped.
ModuleSettings Checked(const std::string &path, const SettingsResult &result,
                       const char *consequence = ", so nothing was sent or changed");
ModuleSettings LoadFile(const std::string &path);
// Standard output ("-", /dev/stdout) goes to `out`, with everything else the command prints.
void SaveFile(const std::string &path, const std::string &text, std::ostream &out);

// An output that is also an input would be read and destroyed by the same run.
void RefuseOverwrite(const std::string &output, const std::string &input, const char *what);

// A name part made of letters, digits, '.' and '-' only: "/dev/ttyUSB0" gives "dev-ttyUSB0".
std::string FileNamePart(const std::string &text);
// Each port its own file (its read, or its backup): two ports whose names come to the same
// file would lose one module's.
void RefuseSharedFileNames(const std::vector<std::string> &ports);

} // namespace cli
