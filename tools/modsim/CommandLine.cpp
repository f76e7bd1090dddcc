#include "tools/modsim/CommandLine.h"

#include <charconv>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace nmct::modsim {

namespace {

enum class Takes
{
    Nothing,
    Value,         // "--name VALUE" or "--name=VALUE"
    OptionalValue, // "--name" or "--name=VALUE"
};

using Apply = void (*)(CommandLine &, std::optional<std::string_view> value);

struct OptionRule
{
    std::string_view name;
    Takes takes;
    Apply apply;
};

constexpr unsigned kMaxMilliseconds = 600'000;

unsigned ParseNumber(std::string_view name, std::string_view text, unsigned minimum,
                     unsigned maximum)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        throw std::invalid_argument(std::string(name) + ": expected a number from " +
                                    std::to_string(minimum) + " to " + std::to_string(maximum) +
                                    ", got '" + std::string(text) + "'");
    }
    return value;
}

std::chrono::milliseconds Milliseconds(std::string_view name, std::string_view text)
{
    return std::chrono::milliseconds(ParseNumber(name, text, 0, kMaxMilliseconds));
}

void SetReplyFault(CommandLine &line, ReplyFault fault)
{
    if (line.options.faults.reply != ReplyFault::None) {
        throw std::invalid_argument(
            "only one of --silent, --garbage, --short, --late, --split may be given");
    }
    line.options.faults.reply = fault;
}

constexpr OptionRule kOptions[] = {
    {"--help", Takes::Nothing, [](CommandLine &l, auto) { l.help = true; }},
    {"-h", Takes::Nothing, [](CommandLine &l, auto) { l.help = true; }},
    {"--verbose", Takes::Nothing, [](CommandLine &l, auto) { l.verbose = true; }},
    {"--device", Takes::Value, [](CommandLine &l, auto v) { l.options.device = *v; }},
    {"--link", Takes::Value, [](CommandLine &l, auto v) { l.options.link = *v; }},
    {"--no-pacing", Takes::Nothing, [](CommandLine &l, auto) { l.options.pacing = false; }},
    {"--identity", Takes::Value, [](CommandLine &l, auto v) { l.options.identity = *v; }},
    {"--quiet-gap", Takes::Value,
     [](CommandLine &l, auto v) {
         l.options.quietGap = std::chrono::milliseconds(ParseNumber("--quiet-gap", *v, 1, 1000));
     }},
    {"--silent", Takes::Nothing,
     [](CommandLine &l, auto) { SetReplyFault(l, ReplyFault::Silent); }},
    {"--garbage", Takes::Nothing,
     [](CommandLine &l, auto) { SetReplyFault(l, ReplyFault::Garbage); }},
    {"--short", Takes::OptionalValue,
     [](CommandLine &l, auto v) {
         SetReplyFault(l, ReplyFault::Short);
         if (v) {
             l.options.faults.shortLength = ParseNumber("--short", *v, 1, 1000);
         }
     }},
    {"--late", Takes::OptionalValue,
     [](CommandLine &l, auto v) {
         SetReplyFault(l, ReplyFault::Late);
         if (v) {
             l.options.faults.lateDelay = Milliseconds("--late", *v);
         }
     }},
    {"--split", Takes::OptionalValue,
     [](CommandLine &l, auto v) {
         SetReplyFault(l, ReplyFault::Split);
         if (v) {
             l.options.faults.splitGap = Milliseconds("--split", *v);
         }
     }},
    {"--stop-after", Takes::Value,
     [](CommandLine &l, auto v) {
         l.options.faults.answerLimit = ParseNumber("--stop-after", *v, 0, 1'000'000);
     }},
    {"--vanish-after", Takes::Value,
     [](CommandLine &l, auto v) {
         l.options.faults.vanishAfter = ParseNumber("--vanish-after", *v, 1, 1'000'000);
     }},
    {"--bad-tone", Takes::Nothing,
     [](CommandLine &l, auto) { l.options.faults.badToneCode = true; }},
    {"--ok-text", Takes::Value,
     [](CommandLine &l, auto v) { l.options.faults.okText = std::string(*v); }},
    {"--flood", Takes::Nothing, [](CommandLine &l, auto) { l.options.faults.flood = true; }},
};

const OptionRule *FindOption(std::string_view name)
{
    for (const OptionRule &rule : kOptions) {
        if (rule.name == name) {
            return &rule;
        }
    }
    return nullptr;
}

} // namespace

CommandLine ParseCommandLine(const std::vector<std::string> &arguments)
{
    CommandLine line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        const std::size_t equals = argument.find('=');
        const std::string_view name = argument.substr(0, equals);
        std::optional<std::string_view> value;
        if (equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
        }

        const OptionRule *rule = FindOption(name);
        if (rule == nullptr) {
            throw std::invalid_argument("unknown option '" + std::string(argument) + "'");
        }
        if (rule->takes == Takes::Nothing && value) {
            throw std::invalid_argument(std::string(name) + " takes no value");
        }
        if (rule->takes == Takes::Value && !value) {
            if (i + 1 >= arguments.size()) {
                throw std::invalid_argument(std::string(name) + " needs a value");
            }
            value = arguments[++i];
        }
        rule->apply(line, value);
    }
    return line;
}

std::string UsageText()
{
    return R"(Usage: modsim [options]

Plays the radio module on a serial line: answers the identify, read, default, set and volume
commands as the module does, each reply followed by CR LF, and keeps what SET stores.
Prints the line's path (and the link, if any) on one line of standard output, then runs until
interrupted.

Line:
  --device PATH      answer on this serial device instead of a new pseudo-terminal
  --link PATH        make PATH a symbolic link to the line, e.g. /dev/COM1 (removed on exit)
  --no-pacing        write replies at once instead of at 9600 baud 8N1
  --quiet-gap MS     silence that ends a command without terminator (default 20)
  --identity TEXT    the identify reply (default NM450_UHFV2.13)

Faults (at most one of the first five):
  --silent           never reply
  --garbage          reply with line noise of the reply's length
  --short[=N]        reply with the first N characters (default half) and CR LF
  --late[=MS]        reply after MS milliseconds (default 700)
  --split[=MS]       reply in two halves with MS milliseconds between them (default 150)
  --stop-after N     answer the first N commands, then none
  --vanish-after N   close the line after answering N commands
  --bad-tone         read replies carry "abc" as the transmit tone code
  --ok-text TEXT     reply TEXT instead of "OK" to set, default and volume commands
  --flood            write line noise without pause

Other:
  --verbose          log each command and reply on standard error
  -h, --help         show this text
)";
}

} // namespace nmct::modsim
