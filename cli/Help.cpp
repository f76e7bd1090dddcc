#include "cli/Help.h"

#include <sstream>

#include "cli/CliArguments.h"
#include "cli/CommandTable.h"

namespace cli {

namespace {

constexpr std::size_t Column = 18; // where an entry's text starts
constexpr std::size_t Width = 80;

const char *const Intro = R"(Usage: nmct-cli [OPTIONS] COMMAND [ARGUMENTS]

Reads, writes and checks radio modules on serial ports, as the window does, and
keeps their settings in parameter files (plain text; see "read").

Commands:
)";

const char *const OptionsIntro = R"(
Options (before the command, taken after it too; "--" ends them: check -- -x.nmct):
)";

const char *const Closing = R"(
The backup is the module's settings as "read" saves them, in a file named after
the port, model, version and time (UTC); its path is printed. Writing it back
restores the module. A backup that cannot be saved stops the write: nothing is
sent.

FILE "-" is standard input or output. Nothing is sent from a file with an
error: every line is checked first. A file is replaced only by a complete new
one; a device or FIFO named as FILE (/dev/stdout, a pipe) is written directly.
In a CSV table a decimal comma is taken where it cannot be a separator:
"460,125" quoted, or unquoted when ';' separates the fields.

Every command that talks to a module identifies it first and goes on only when
it answers with a module's model and version. write, default and volume end by
saying what the module now holds: "nothing was sent", "sent, not acknowledged"
(its settings or volume are unknown), "written and acknowledged, not read
back", or done ("written and verified", "defaults restored", "volume set to N").

Exit status: 0 done, 2 bad arguments, 3 file error, 4 no module on the port,
5 the module differs from the file, 6 the module did not complete the command,
7 the module was changed as asked but standard output could not be written
(what changed is then on standard error). 3 also when a file is too large (over
1 MiB) or a backup cannot be written (nothing was sent); 4 also when something
answers but not as a module (nothing more was sent); 5 after write: the module
took the settings but holds others; 6 after write, default or volume: the
message says whether anything was sent and what to do. With several ports: the
highest status of any port.

Example, a batch of modules on four adapters:
  nmct-cli -p COM3 read site.nmct                        # the module you set up
  nmct-cli -p COM3 -p COM4 -p COM5 -p COM6 write site.nmct   # the others
)";

// "  read [FILE]     read the module's ...", the text wrapped under itself.
std::string Entry(const std::string &usage, const std::string &text)
{
    const std::string indent(Column, ' ');
    std::string entry;
    std::string line = "  " + usage;
    if (line.size() < Column) {
        line.resize(Column, ' ');
    } else {
        entry = line + "\n";
        line = indent;
    }
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (line.size() > Column && line.size() + 1 + word.size() > Width) {
            entry += line + "\n";
            line = indent;
        }
        if (line.size() > Column)
            line += ' ';
        line += word;
    }
    return entry + line + "\n";
}

// "-p, --port PORT"
std::string Usage(const Option &option)
{
    std::string usage = option.letter ? std::string("-") + option.letter + ", " : "";
    usage += std::string("--") + option.name;
    if (option.value)
        usage += std::string(" ") + option.value;
    return usage;
}

} // namespace

std::string HelpText()
{
    std::string help = Intro;
    for (const Command &command : Commands())
        help += Entry(command.usage, command.help);
    help += OptionsIntro;
    for (const Option &option : Options())
        help += Entry(Usage(option), OptionText(option, option.help));
    return help + Closing;
}

} // namespace cli
