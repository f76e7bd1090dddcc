// nmct-cli's argument parser on arbitrary command lines: what a script or a mistyped shell line
// gives it. The oracle: it either refuses with the bad-arguments status and a message, or
// returns a command it knows with operands that are exactly arguments it was given (byte for
// byte, so a file name that is not UTF-8 still names the user's file), ports that are too but for
// the blanks around them (a copy and paste brings those along), no port twice,
// a port for every command that talks to a module, and a volume from 0 to 4.
//
// Input: the arguments, separated by zero bytes.

#include "fuzz/FuzzSupport.h"

#include "cli/CliArguments.h"
#include "cli/CommandTable.h"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

bool Given(const std::vector<std::string> &arguments, const std::string &value)
{
    // An option's value may come joined to it: "--port=X", "-pX".
    for (const std::string &argument : arguments)
        if (argument == value ||
            (argument.size() > value.size() &&
             argument.compare(argument.size() - value.size(), value.size(), value) == 0))
            return true;
    return false;
}

std::string Trimmed(std::string text)
{
    const char *const blanks = " \t\r\n\v\f";
    text.erase(text.find_last_not_of(blanks) + 1);
    text.erase(0, text.find_first_not_of(blanks));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> arguments;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        arguments.push_back(current);

    cli::Arguments parsed;
    try {
        parsed = cli::ParseArguments(arguments, nullptr);
    } catch (const cli::Failure &failure) {
        FUZZ_CHECK(failure.status == cli::BadArguments && !failure.message.empty());
        return 0;
    }
    if (parsed.help || parsed.version)
        return 0;
    static const std::set<std::string> commands{"ports",      "detect",    "read",   "write",
                                                "verify",     "default",   "volume", "check",
                                                "export-csv", "import-csv"};
    FUZZ_CHECK(commands.count(parsed.command) == 1);
    FUZZ_CHECK(Given(arguments, parsed.command));
    for (const std::string &operand : parsed.operands)
        FUZZ_CHECK(Given(arguments, operand));
    std::vector<std::string> trimmed;
    for (const std::string &argument : arguments)
        trimmed.push_back(Trimmed(argument));
    for (const std::string &port : parsed.ports)
        FUZZ_CHECK(!port.empty() && Given(trimmed, port));
    FUZZ_CHECK(std::set<std::string>(parsed.ports.begin(), parsed.ports.end()).size() ==
               parsed.ports.size());
    FUZZ_CHECK(!cli::FindCommand(parsed.command)->Has(cli::TalksToModule) || !parsed.ports.empty());
    if (parsed.command == "volume")
        FUZZ_CHECK(parsed.operands.size() == 1 && parsed.operands[0].size() == 1 &&
                   parsed.operands[0][0] >= '0' && parsed.operands[0][0] <= '4');
    FUZZ_CHECK(parsed.verify || parsed.command == "write");
    return 0;
}
