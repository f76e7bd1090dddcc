#pragma once
// nmct-cli's commands, one entry each: its name and operands, its usage and help line, what it
// does, and the flags that say which options go with it. The parser, --help and the run read
// this one table; a command is added by adding its entry, and names are compared only here.

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

namespace cli {

struct Arguments;
struct Job;
class ModuleCommands;

// What a command is; an option goes with the commands that hold its flag.
enum CommandFlag : unsigned
{
    TalksToModule = 1 << 0, // opens each port given and talks to the module there
    ChangesModule = 1 << 1, // sends what changes the module: settings, factory settings, volume
    BacksUpFirst = 1 << 2,  // saves the module's settings before it changes them
    ReadsBack = 1 << 3,     // reads the settings back after it sent them
    PrintsJson = 1 << 4,    // can print its result as one JSON document
    NumberOperand = 1 << 5, // its operand is a number: its check, not the parser, refuses "-1"
};

struct Command
{
    const char *name = nullptr;
    const char *usage = nullptr; // as --help and a usage error show it
    const char *help = nullptr;  // for --help, which wraps it
    std::size_t least = 0;
    std::size_t most = 0; // operands
    unsigned flags = 0;
    // Refuses what the operands cannot be, before anything is opened (may be null).
    void (*check)(const Arguments &) = nullptr;
    // Without a module: runs once and gives the exit status.
    int (*run)(const Arguments &, std::ostream &out) = nullptr;
    // With a module: readies what every port is given before any port opens (may be null),
    // then runs on each port.
    void (*prepare)(Job &) = nullptr;
    void (ModuleCommands::*onPort)(std::ostream &out) = nullptr;

    bool Has(unsigned flag) const { return (flags & flag) != 0; }
};

const std::vector<Command> &Commands();
// The command of that name, or null.
const Command *FindCommand(const std::string &name);
// The names of the commands that hold `flag`, in the table's order: "write and default".
std::string CommandNames(unsigned flag, const char *conjunction);

} // namespace cli
