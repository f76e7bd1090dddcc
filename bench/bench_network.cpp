// Modules on other machines, here through ser2net on loopback: a READ through its RFC 2217 and
// raw accepters (and RFC 2217 with its chardelay off) against the same READ on the module's own
// pseudo-terminal, the module paced at 9600 baud; then one nmct-cli run reading one and four
// modules through ser2net at once, against one module on its own line.
//
//     bench_network [repetitions] [rounds]

#include "bench/BenchSupport.h"

#include "session/ModuleSession.h"
#include "tests/support/Ser2net.h"
#include "tools/modsim/ModuleSimulator.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using nmct::modsim::ModuleSimulator;

[[noreturn]] void Fail(const std::string &why)
{
    std::fprintf(stderr, "bench_network: %s\n", why.c_str());
    std::exit(1);
}

struct Way
{
    std::string name;
    std::unique_ptr<ModuleSimulator> module;
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<ModuleSession> session;
    std::vector<double> seconds;
};

// Seconds for one nmct-cli read of every module, each on its own port.
double BatchRun(int ports, bool network, const std::string &folder)
{
    std::vector<std::unique_ptr<ModuleSimulator>> modules;
    std::vector<Ser2netLine> lines;
    for (int i = 0; i < ports; ++i) {
        modules.push_back(std::make_unique<ModuleSimulator>(nmct::modsim::Options{}));
        lines.push_back({modules.back()->SlavePath(), true});
    }
    std::unique_ptr<Ser2net> server;
    if (network) {
        server = std::make_unique<Ser2net>(lines);
        if (!server->Started())
            Fail("ser2net did not start: " + server->Log());
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < ports; ++i)
        arguments.insert(arguments.end(),
                         {"--port", network ? server->Url(i) : modules[i]->SlavePath()});
    arguments.insert(arguments.end(), {"read", folder});
    const double start = bench::MonotonicSeconds();
    bench::ChildProcess cli(bench::ExecutableDirectory() + "/../cli/nmct-cli", arguments);
    if (!cli.Finish())
        Fail("a batch of " + std::to_string(ports) + " was not read:\n" + cli.Output());
    return bench::MonotonicSeconds() - start;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!Ser2net::Installed())
        Fail(Ser2net::Missing);

    std::vector<Way> ways;
    for (const char *name : {"module's own line", "ser2net, RFC 2217", "ser2net, raw",
                             "ser2net, RFC 2217, chardelay: false"}) {
        Way way{name, std::make_unique<ModuleSimulator>(nmct::modsim::Options{}), {}, {}, {}};
        std::string port = way.module->SlavePath();
        if (ways.size() > 0) {
            way.server = std::make_unique<Ser2net>(std::vector<Ser2netLine>{
                {way.module->SlavePath(), ways.size() != 2, "9600n81", 0, ways.size() != 3}});
            if (!way.server->Started())
                Fail("ser2net did not start: " + way.server->Log());
            port = way.server->Url(0);
        }
        way.session = std::make_unique<ModuleSession>();
        if (way.session->Open(port).result != StepResult::Ok)
            Fail("no module at " + port);
        ways.push_back(std::move(way));
    }
    // In turn, so that whatever else the machine does falls on every way alike.
    for (int i = 0; i < repetitions; ++i) {
        for (Way &way : ways) {
            const double start = bench::MonotonicSeconds();
            const ReadResult read = way.session->Read();
            way.seconds.push_back(bench::MonotonicSeconds() - start);
            if (read.result != StepResult::Ok || read.received != 301)
                Fail("a READ through " + way.name + " failed");
        }
    }
    bench::Table table("READ through ser2net on loopback, module paced at 9600 baud",
                       {"way", "ms per READ", "÷ module's own line"});
    const double local = bench::Summarise(ways.front().seconds).median;
    for (const Way &way : ways) {
        std::vector<double> ms;
        for (const double s : way.seconds)
            ms.push_back(s * 1000);
        const bench::Summary summary = bench::Summarise(ms);
        table.Row(
            {way.name, bench::Spread(summary, 1), bench::Fixed(summary.median / 1000 / local, 3)});
    }
    table.Note(std::to_string(repetitions) +
               " READs each, the ways in turn, median (min – max); each way its own simulator, "
               "opened once through the session (as the window and nmct-cli do). A READ runs "
               "from the command to the reply in hand: 5 bytes to the module, 301 back paced at "
               "9600 baud (313.5 ms), and the 100 ms of quiet that ends the reply. ser2net holds "
               "the bytes it reads back a moment to send them together (its chardelay option, on "
               "unless the connection's options turn it off); the last row turns it off.");
    table.Print();
    ways.clear();

    QTemporaryDir folder;
    bench::Table batch("Batch: one nmct-cli read of modules through ser2net at once",
                       {"ports", "s per run", "÷ one network port"});
    struct Row
    {
        int ports;
        bool network;
        const char *name;
    };
    double one = 0;
    for (const Row &row :
         {Row{1, false, "1, the module's own line"}, Row{1, true, "1 through ser2net, RFC 2217"},
          Row{4, true, "4 through ser2net, RFC 2217"}}) {
        std::vector<double> seconds;
        for (int round = 0; round < rounds; ++round)
            seconds.push_back(
                BatchRun(row.ports, row.network,
                         folder.filePath(QString("%1-%2").arg(row.name).arg(round)).toStdString()));
        const bench::Summary summary = bench::Summarise(seconds);
        if (row.network && row.ports == 1)
            one = summary.median;
        batch.Row({row.name, bench::Spread(summary, 3),
                   one > 0 ? bench::Fixed(summary.median / one, 2) : ""});
    }
    batch.Note(std::to_string(rounds) +
               " runs per row, median (min – max); fresh simulators (paced at 9600 baud) and a "
               "fresh ser2net each run, one accepter per module. Per module: open (the RFC 2217 "
               "options, line settings and purge answered), identify, READ, the file saved; the "
               "run includes the program's start.");
    batch.Print();
    return 0;
}
