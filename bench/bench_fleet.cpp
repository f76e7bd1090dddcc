// Programming a batch: one parameter file written into module after module and read back to
// verify, each module a fresh simulator paced at 9600 baud on its own pseudo-terminal. Reports
// seconds per module against the line's minimum for identify + SET + READ: every byte at 10
// bits / 9600 baud plus the 100 ms of quiet after each reply that ends a received chunk.
//
// Two ways: the session in this process (what the window and nmct-cli share), and nmct-cli
// started once per module as a script does, so the second includes the program's start.
// Then the batch: one nmct-cli run writing 1, 2, 4 and 8 modules on as many ports at once,
// each with its backup first, against one module's time.
//
//     bench_fleet [modules] [rounds]

#include "bench/BenchSupport.h"

#include "protocol/ParamFile.h"
#include "session/ModuleSession.h"
#include "tools/modsim/ModuleSimulator.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

namespace {

using nmct::modsim::ModuleSimulator;

constexpr double BitsPerByte = 10; // start, 8 data, stop
constexpr double Baud = 9600;
constexpr double QuietSeconds = 0.100;
constexpr int Replies = 3;

// Identify, SET and READ: commands and replies, each reply with its two end bytes.
constexpr std::size_t ToModule = 5 + 306 + 5;
constexpr std::size_t FromModule = (14 + 2) + (2 + 2) + (299 + 2);

double LineSeconds(std::size_t bytes)
{
    return double(bytes) * BitsPerByte / Baud;
}

// The batch's file: the factory settings with every channel moved, so each SET changes the
// module and the read-back has something to check.
std::string BatchFile()
{
    ParamRecord record;
    MakeDefaultParams(record);
    ModuleSettings settings = SettingsFromRecord(record).settings;
    for (ChannelFrequencies &channel : settings.channels) {
        channel.tx[0] = '4';
        channel.tx[1] = '6';
    }
    settings.txTone = 40;
    settings.squelch = "5";
    return WriteParamFile(settings);
}

// Whether the module now holds the settings wanted.
bool Holds(const ModuleSimulator &module, const ModuleSettings &wanted)
{
    ParamRecord stored;
    const nmct::modsim::Record record = module.StoredRecord();
    std::copy(record.begin(), record.end(), stored.bytes.begin());
    const SettingsResult held = SettingsFromRecord(stored);
    return held.Ok() && held.settings == wanted;
}

// Seconds per module, or a negative value when a module did not end up verified.
std::vector<double> Batch(int modules, const std::function<bool(const std::string &)> &program)
{
    std::vector<double> seconds;
    const ModuleSettings wanted = ReadParamFile(BatchFile()).settings;
    for (int i = 0; i < modules; ++i) {
        ModuleSimulator module({});
        const double start = bench::MonotonicSeconds();
        const bool done = program(module.SlavePath());
        const double elapsed = bench::MonotonicSeconds() - start;
        if (!done || !Holds(module, wanted)) {
            std::fprintf(stderr, "module %d was not programmed\n", i + 1);
            std::exit(1);
        }
        seconds.push_back(elapsed);
    }
    return seconds;
}

// What nmct-cli write does, in this process.
bool WriteWithSession(const std::string &file, const std::string &port)
{
    std::ifstream in(file);
    const SettingsResult loaded =
        ReadParamFile(std::string(std::istreambuf_iterator<char>(in), {}));
    ModuleSession session;
    if (!loaded.Ok() || session.Open(port).result != StepResult::Ok ||
        session.Set(SetValuesFromSettings(loaded.settings)) != StepResult::Ok)
        return false;
    const ReadResult read = session.Read();
    const SettingsResult back = SettingsFromRecord(read.record);
    return read.result == StepResult::Ok && back.Ok() &&
           SettingsDifferences(loaded.settings, back.settings).empty();
}

std::string CliPath()
{
    return bench::ExecutableDirectory() + "/../cli/nmct-cli";
}

// Like the session above: no backup, so both ways do the same exchanges.
bool WriteWithCli(const std::string &file, const std::string &port)
{
    bench::ChildProcess cli(CliPath(), {"--no-backup", "--port", port, "write", file});
    return cli.Finish();
}

// Seconds for one nmct-cli run writing `ports` modules at once, backups included.
double BatchRun(int ports, const std::string &file, const std::string &backups)
{
    std::vector<std::unique_ptr<ModuleSimulator>> modules;
    std::vector<std::string> arguments{"--backup-dir", backups};
    for (int i = 0; i < ports; ++i) {
        modules.push_back(std::make_unique<ModuleSimulator>(nmct::modsim::Options{}));
        arguments.insert(arguments.end(), {"--port", modules.back()->SlavePath()});
    }
    arguments.insert(arguments.end(), {"write", file});
    const double start = bench::MonotonicSeconds();
    bench::ChildProcess cli(CliPath(), arguments);
    const bool done = cli.Finish();
    const double elapsed = bench::MonotonicSeconds() - start;
    const ModuleSettings wanted = ReadParamFile(BatchFile()).settings;
    for (const std::unique_ptr<ModuleSimulator> &module : modules) {
        if (!done || !Holds(*module, wanted)) {
            std::fprintf(stderr, "a batch of %d was not programmed:\n%s", ports,
                         cli.Output().c_str());
            std::exit(1);
        }
    }
    return elapsed;
}

void AddRow(bench::Table &table, const std::string &way, const std::vector<double> &seconds)
{
    const bench::Summary summary = bench::Summarise(seconds);
    const double line = LineSeconds(ToModule + FromModule) + Replies * QuietSeconds;
    const double repliesOnly = LineSeconds(FromModule) + Replies * QuietSeconds;
    table.Row({way, bench::Spread(summary, 3), bench::Fixed(line, 3),
               bench::Fixed(summary.median / line, 2), bench::Fixed(repliesOnly, 3),
               bench::Fixed(summary.median / repliesOnly, 2)});
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int modules = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    QTemporaryDir folder;
    const std::string file = folder.filePath("batch.nmct").toStdString();
    std::ofstream(file) << BatchFile();

    bench::Table table("Fleet: write and verify one file, module after module, paced at 9600 baud",
                       {"way", "s per module", "line minimum s", "÷ line minimum",
                        "replies-only minimum s", "÷ replies-only minimum"});
    AddRow(table, "session, in process",
           Batch(modules, [&](const std::string &port) { return WriteWithSession(file, port); }));
    AddRow(table, "nmct-cli write, one run per module",
           Batch(modules, [&](const std::string &port) { return WriteWithCli(file, port); }));
    table.Note(std::to_string(modules) +
               " modules each way, median (min – max); each module a fresh simulator. Per "
               "module: open, identify, SET, READ and the comparison. Line minimum: " +
               std::to_string(ToModule) + " bytes to and " + std::to_string(FromModule) +
               " from the module at 10 bits per byte and 9600 baud, plus 100 ms of quiet per "
               "reply. The simulator paces only its replies, so the replies-only minimum is the "
               "least this set-up allows and the 306-byte SET command costs nothing here that it "
               "costs on a real line.");
    table.Print();

    bench::Table batch("Batch: one nmct-cli write on several ports at once, paced at 9600 baud",
                       {"ports", "s per run", "÷ one port", "s per module"});
    const std::string backups = folder.filePath("backups").toStdString();
    double one = 0;
    for (const int ports : {1, 2, 4, 8}) {
        std::vector<double> seconds;
        for (int round = 0; round < rounds; ++round)
            seconds.push_back(BatchRun(ports, file, backups));
        const bench::Summary summary = bench::Summarise(seconds);
        if (ports == 1)
            one = summary.median;
        batch.Row({std::to_string(ports), bench::Spread(summary, 3),
                   bench::Fixed(summary.median / one, 2), bench::Fixed(summary.median / ports, 3)});
    }
    batch.Note(std::to_string(rounds) +
               " runs per row, median (min – max); fresh simulators each run, each on its own "
               "pseudo-terminal. Per module: open, identify, READ for the backup (saved to a "
               "file), SET, READ and the comparison; the run includes the program's start.");
    batch.Print();
    return 0;
}
