#include "cli/CliArguments.h"

#include "cli/CommandTable.h"
#include "protocol/ParamText.h"
#include "session/Latin1.h"

#include <QCommandLineParser>

#include <algorithm>
#include <charconv>

namespace cli {

namespace {

using Values = std::vector<std::string>;

// A name as typed, without the blanks a copy and paste brings along.
std::string Trimmed(const std::string &name)
{
    const char *const blanks = " \t\r\n\v\f";
    const std::size_t first = name.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(blanks) - first + 1);
}

void TakePorts(Arguments &parsed, const Values &values)
{
    for (const std::string &value : values) {
        const std::string name = Trimmed(value);
        if (name.empty())
            Refuse("--port needs a port name, e.g. --port COM3");
        if (std::find(parsed.ports.begin(), parsed.ports.end(), name) != parsed.ports.end())
            Refuse("port '" + name + "' is given twice");
        parsed.ports.push_back(name);
    }
}

constexpr int LongestReplyWaitMs = 60000;

void TakeReplyWait(Arguments &parsed, const Values &values)
{
    const std::string &text = values.back();
    int wait = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wait);
    if (error != std::errc() || end != text.data() + text.size() || wait < 10 ||
        wait > LongestReplyWaitMs)
        Refuse("--reply-wait must be 10 to " + std::to_string(LongestReplyWaitMs) +
               " milliseconds, not " + paramtext::Quoted(text));
    parsed.replyWaitMs = wait;
}

void TakeBackupDir(Arguments &parsed, const Values &values)
{
    parsed.backupDir = values.back();
    if (parsed.backupDir.empty())
        Refuse("--backup-dir needs a folder");
}

QString NameOf(const Option &option)
{
    return QString::fromLatin1(option.name);
}

Values ValuesOf(const QCommandLineParser &parser, const Option &option)
{
    Values values;
    for (const QString &value : parser.values(NameOf(option)))
        values.push_back(Latin1Bytes(value));
    return values;
}

// The command word among arguments the parser refused: the first that is neither an option nor
// an option's value.
const Command *CommandAmong(const Values &arguments)
{
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--")
            return i + 1 < arguments.size() ? FindCommand(arguments[i + 1]) : nullptr;
        if (argument.empty() || argument[0] != '-')
            return FindCommand(argument);
        for (const Option &option : Options())
            if (option.value && argument.find('=') == std::string::npos &&
                (argument == std::string("--") + option.name ||
                 (option.letter && argument == std::string("-") + option.letter)))
                ++i; // its value follows
    }
    return nullptr;
}

// Why the parser stopped, as a refusal.
[[noreturn]] void RefuseParse(const QCommandLineParser &parser, const Values &arguments)
{
    // No option is a number: "-1" is the operand of a command that takes a number, out of range.
    const Command *command = CommandAmong(arguments);
    if (command && command->Has(NumberOperand) && command->check)
        for (const std::string &argument : arguments)
            if (argument.size() > 1 && argument[0] == '-' && paramtext::IsDigit(argument[1])) {
                Arguments operand;
                operand.command = command->name;
                operand.operands = {argument};
                command->check(operand);
            }
    std::string error = Latin1Bytes(parser.errorText());
    if (!error.empty() && error.back() == '.')
        error.pop_back();
    Refuse(error + " (see --help)");
}

} // namespace

const std::vector<Option> &Options()
{
    static const std::vector<Option> options{
        {.letter = "p",
         .name = "port",
         .value = "PORT",
         .help = "COMn (as the window names ports) or a device path such as /dev/ttyUSB0; "
                 "default: $NMCT_PORT. Repeat it to run {talkers} on every port at once: one "
                 "result line per port, in the order given",
         .take = TakePorts},
        {.name = "no-verify",
         .help = "with {with}: do not read back",
         .goesWith = ReadsBack,
         .refusal = "--no-verify goes with {with} only",
         .take = [](Arguments &parsed, const Values &) { parsed.verify = false; }},
        {.name = "backup-dir",
         .value = "DIR",
         .help = "with {with}: keep the backup in DIR instead of $XDG_STATE_HOME/nmct/backups "
                 "(~/.local/state/nmct/backups)",
         .goesWith = BacksUpFirst,
         .refusal = "--no-backup and --backup-dir go with {with} only",
         .take = TakeBackupDir},
        {.name = "no-backup",
         .help = "with {with}: no backup",
         .goesWith = BacksUpFirst,
         .refusal = "--no-backup and --backup-dir go with {with} only",
         .take = [](Arguments &parsed, const Values &) { parsed.backup = false; }},
        {.name = "json",
         .help = "one JSON document on standard output instead of text, for ports and the "
                 "commands that talk to a module: {\"command\", \"status\", \"message\" (when it "
                 "failed before any port), \"ports\": [{\"port\", \"device\", \"model\", "
                 "\"version\", \"outcome\" (ok, file error, no module, differs, failed), "
                 "\"status\", \"change\" (nothing sent, not acknowledged, acknowledged, "
                 "confirmed), \"message\", \"backup\", \"file\", \"differences\": [{\"setting\", "
                 "\"file\", \"module\"}]}]}; ports lists \"ports\" and \"adapters\"",
         .goesWith = PrintsJson,
         .refusal = "--json goes with ports and the commands that talk to a module",
         .take = [](Arguments &parsed, const Values &) { parsed.json = true; }},
        {.name = "reply-wait",
         .value = "MS",
         .help = "how long each command waits for the module's reply, in milliseconds (10 to "
                 "60000; default 510, as the window waits), for slow modules and slow links",
         .goesWith = TalksToModule,
         .refusal = "--reply-wait goes with the commands that talk to a module",
         .take = TakeReplyWait},
        {.name = "trace",
         .help = "every byte sent (>) and received (<) on standard error, with the seconds since "
                 "start, the port, hex and printable text",
         .take = [](Arguments &parsed, const Values &) { parsed.trace = true; }},
        {.letter = "h",
         .name = "help",
         .help = "this text",
         .take = [](Arguments &parsed, const Values &) { parsed.help = true; },
         .alone = true},
        {.name = "version",
         .help = "the program's version",
         .take = [](Arguments &parsed, const Values &) { parsed.version = true; },
         .alone = true},
    };
    return options;
}

std::string OptionText(const Option &option, const char *text)
{
    std::string filled = text;
    const auto fill = [&filled](const std::string &mark, const std::string &names) {
        for (std::size_t at = filled.find(mark); at != std::string::npos; at = filled.find(mark))
            filled.replace(at, mark.size(), names);
    };
    fill("{with}", CommandNames(option.goesWith, "and"));
    fill("{talkers}", CommandNames(TalksToModule, "or"));
    return filled;
}

Arguments ParseArguments(const std::vector<std::string> &arguments, const char *environmentPort)
{
    QCommandLineParser parser;
    for (const Option &option : Options()) {
        QStringList names{NameOf(option)};
        if (option.letter)
            names.prepend(QString::fromLatin1(option.letter));
        parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(option.value)));
    }
    QStringList list{"nmct-cli"};
    for (const std::string &argument : arguments)
        list << Latin1Text(argument);
    if (!parser.parse(list))
        RefuseParse(parser, arguments);

    Arguments parsed;
    bool alone = false;
    for (const Option &option : Options()) {
        if (option.alone && parser.isSet(NameOf(option))) {
            option.take(parsed, {});
            alone = true;
        }
    }
    if (alone)
        return parsed;
    for (const Option &option : Options())
        if (parser.isSet(NameOf(option)))
            option.take(parsed, ValuesOf(parser, option));
    if (parsed.ports.empty() && environmentPort && !Trimmed(environmentPort).empty())
        parsed.ports.push_back(Trimmed(environmentPort));

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        Refuse("no command given (see --help)");
    parsed.command = Latin1Bytes(positional.first());
    for (qsizetype i = 1; i < positional.size(); ++i)
        parsed.operands.push_back(Latin1Bytes(positional[i]));

    const Command *command = FindCommand(parsed.command);
    if (!command)
        Refuse("unknown command '" + parsed.command + "' (see --help)");
    if (parsed.operands.size() < command->least || parsed.operands.size() > command->most)
        Refuse("usage: nmct-cli [OPTIONS] " + std::string(command->usage));
    for (const Option &option : Options())
        if (option.goesWith && !command->Has(option.goesWith) && parser.isSet(NameOf(option)))
            Refuse(OptionText(option, option.refusal));
    if (!parsed.backup && !parsed.backupDir.empty())
        Refuse("--no-backup and --backup-dir exclude each other");
    if (command->check)
        command->check(parsed);
    if (command->Has(TalksToModule) && parsed.ports.empty())
        Refuse("no port given: use --port COMn or --port /dev/..., or set NMCT_PORT");
    return parsed;
}

} // namespace cli
