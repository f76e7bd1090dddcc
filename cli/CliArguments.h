#pragma once
// nmct-cli's command line: options (before the command, or anywhere before "--"), the command
// and its operands, checked whole before anything is opened, so a mistake costs nothing.

#include <string>
#include <vector>

#include "cli/Exit.h"

namespace cli {

struct Arguments
{
    bool help = false;
    bool version = false;
    std::vector<std::string> ports; // in the order given, none repeated
    bool verify = true;
    bool json = false;
    bool trace = false;
    bool backup = true;
    std::string backupDir; // empty: the state folder's
    std::string command;
    std::vector<std::string> operands;
};

// `environmentPort` ($NMCT_PORT, may be null) stands in when no --port is given. Arguments are
// the system's bytes and stay so: a path that is not UTF-8 still names the user's file. Throws
// Failure with status BadArguments.
Arguments ParseArguments(const std::vector<std::string> &arguments, const char *environmentPort);

// The commands that talk to a module, and so take one or several ports.
bool TalksToModule(const std::string &command);
// The commands that send what changes the module: settings, factory settings or volume.
bool ChangesModule(const std::string &command);
// The commands that save the module's settings before they change them.
bool BacksUpFirst(const std::string &command);

} // namespace cli
