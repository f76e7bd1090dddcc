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
    int replyWaitMs = 0;   // 0: the window's wait
    std::string command;
    std::vector<std::string> operands;
};

// One option, one entry: its names, its help, the commands it goes with and what it sets.
struct Option
{
    const char *letter = nullptr; // "p", or none
    const char *name = nullptr;
    const char *value = nullptr; // "PORT", or none for a flag
    // For --help, which wraps it. In this and the refusal, "{with}" stands for the commands the
    // option goes with ("write and default"), "{talkers}" for those that talk to a module.
    const char *help = nullptr;
    unsigned goesWith = 0;         // a CommandFlag; 0: every command
    const char *refusal = nullptr; // when given with a command that lacks the flag
    // Stores what was given (each value, in order; none for a flag), or refuses it.
    void (*take)(Arguments &, const std::vector<std::string> &values) = nullptr;
    bool alone = false; // nothing else is looked at: --help, --version
};

const std::vector<Option> &Options();
// The option's text with its "{with}" and "{talkers}" filled in.
std::string OptionText(const Option &option, const char *text);

// `environmentPort` ($NMCT_PORT, may be null) stands in when no --port is given. Arguments are
// the system's bytes and stay so: a path that is not UTF-8 still names the user's file. Throws
// Failure with status BadArguments.
Arguments ParseArguments(const std::vector<std::string> &arguments, const char *environmentPort);

} // namespace cli
