#include "cli/BatchRunner.h"

#include <QThread>

#include <memory>
#include <optional>
#include <sstream>

#include "cli/Backup.h"
#include "cli/CliArguments.h"
#include "cli/CommandTable.h"
#include "cli/Files.h"
#include "cli/ModuleCommands.h"
#include "cli/Tracer.h"
#include "protocol/TextFile.h"
#include "serial/SerialPorts.h"
#include "session/PortMap.h"

namespace cli {

namespace {

// One port, start to end; runs on the thread that will process the link's events.
PortResult RunOnPort(const Job &job, const std::string &port)
{
    const bool changes = job.command.Has(ChangesModule);
    PortResult result;
    result.port = port;
    if (changes)
        result.done = NothingSent;
    std::ostringstream out;
    try {
        ModuleCommands module(job, result);
        if (job.arguments.replyWaitMs > 0)
            module.Session().SetReplyWait(job.arguments.replyWaitMs);
        if (job.tracer)
            module.Session().SetTrace([&job, &port](bool sent, std::string_view bytes) {
                job.tracer->Line(port, sent, bytes);
            });
        (module.*job.command.onPort)(out);
    } catch (const Failure &failure) {
        result.status = failure.status;
        result.message = failure.message;
    } catch (const std::exception &error) {
        result.status = OperationFailed;
        result.message = port + ": " + error.what();
    }
    if (changes) {
        if (result.status != Success && result.change == Change::NothingSent)
            result.message += std::string("; ") + NothingSent;
        out << result.done << "\n";
    }
    result.printed = out.str();
    return result;
}

// One session per thread: the link waits for its replies by processing the events of the
// thread it was made on, so each port gets a thread that makes its own session.
std::vector<PortResult> RunOnPorts(const Job &job)
{
    const std::vector<std::string> &ports = job.arguments.ports;
    std::vector<PortResult> results(ports.size());
    // What a port reports whose thread never ran.
    for (std::size_t i = 0; i < ports.size(); ++i) {
        results[i].port = ports[i];
        results[i].status = OperationFailed;
        results[i].message = ports[i] + ": no thread could be started for this port";
    }
    if (ports.size() == 1) {
        results[0] = RunOnPort(job, ports[0]);
        return results;
    }
    std::vector<std::unique_ptr<QThread>> threads;
    for (std::size_t i = 0; i < ports.size(); ++i)
        threads.emplace_back(QThread::create(
            [&job, &results, &ports, i] { results[i] = RunOnPort(job, ports[i]); }));
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->start();
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();
    return results;
}

// Two names of one device in one batch would open it twice, and one would find it busy. A COM
// name behind a map that cannot be read leads nowhere, and its port says so.
void RefuseSameDevice(const std::vector<std::string> &ports)
{
    const PortMap map = LoadPortMap();
    std::vector<std::optional<std::string>> devices;
    for (const std::string &port : ports) {
        const PortRoute route = RoutePort(port, map);
        devices.push_back(route.via == PortRoute::Via::BrokenMap
                              ? std::nullopt
                              : std::optional<std::string>(route.target));
    }
    for (std::size_t i = 0; i < ports.size(); ++i)
        for (std::size_t j = 0; j < i; ++j)
            if (devices[i] && devices[j] &&
                (devices[i] == devices[j] || SameFile(*devices[i], *devices[j])))
                throw Failure(BadArguments, ports[j] + " and " + ports[i] +
                                                " are the same device; give each port once");
}

} // namespace

int RunOnModules(const Command &command, const Arguments &arguments, std::ostream &out,
                 std::ostream &err, Changed &changed)
{
    Job job{arguments, command, std::nullopt, {}, nullptr};
    // Every file is checked whole, and the backup's place made, before any port is touched.
    RefuseSameDevice(arguments.ports);
    if (command.prepare)
        command.prepare(job);
    if (command.Has(BacksUpFirst) && arguments.backup)
        job.backupDir = MakeBackupFolder(arguments);
    if (job.Batch() && !job.backupDir.empty())
        RefuseSharedFileNames(arguments.ports);
    std::optional<Tracer> tracer;
    if (arguments.trace)
        job.tracer = &tracer.emplace(err);

    return ReportResults(arguments.command, RunOnPorts(job), arguments.json, out, err, changed);
}

} // namespace cli
