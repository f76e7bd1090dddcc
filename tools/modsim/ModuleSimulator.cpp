// The public face: each member takes the lock and reads or changes the state the thread owns;
// constructing starts the thread and destroying stops it.

#include "tools/modsim/ModuleSimulator.h"

#include "tools/modsim/SimulatorThread.h"

#include <array>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace nmct::modsim {

ModuleSimulator::Impl::Impl(Options opts)
    : options(std::move(opts)),
      line(options.device.empty() ? OpenPseudoTerminal() : OpenSerialDevice(options.device)),
      module(options.identity), faults(options.faults)
{
    if (!options.link.empty()) {
        link = SymLink(options.link, line.path);
    }
    std::array<int, 2> pipeEnds{};
    if (::pipe2(pipeEnds.data(), O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create the wake pipe");
    }
    wakeRead.Reset(pipeEnds[0]);
    wakeWrite.Reset(pipeEnds[1]);
    if (faults.vanishAfter == 0u) {
        CloseLine("vanished at start");
    }
    thread = std::thread(&Impl::Run, this);
}

ModuleSimulator::Impl::~Impl()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    Wake();
    thread.join();
}

ModuleSimulator::ModuleSimulator(Options options)
    : impl_(std::make_unique<Impl>(std::move(options)))
{}

ModuleSimulator::~ModuleSimulator() = default;

std::string ModuleSimulator::SlavePath() const
{
    return impl_->line.path; // fixed at construction
}

std::string ModuleSimulator::LinkPath() const
{
    return impl_->link.Path(); // fixed at construction
}

void ModuleSimulator::SetFaults(const Faults &faults)
{
    std::unique_lock lock(impl_->mutex);
    impl_->faults = faults;
    impl_->commandCount = 0;
    if (faults.vanishAfter == 0u) {
        impl_->VanishAndWait(lock);
    }
    impl_->Wake();
}

Faults ModuleSimulator::CurrentFaults() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->faults;
}

std::vector<std::string> ModuleSimulator::ReceivedCommands() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->commands;
}

void ModuleSimulator::ClearReceivedCommands()
{
    std::lock_guard lock(impl_->mutex);
    impl_->commands.clear();
}

bool ModuleSimulator::WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->commands.size() >= count; });
}

Record ModuleSimulator::StoredRecord() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->module.StoredRecord();
}

void ModuleSimulator::SetRecord(const Record &record)
{
    std::lock_guard lock(impl_->mutex);
    impl_->module.SetRecord(record);
}

std::string ModuleSimulator::Volume() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->module.Volume();
}

void ModuleSimulator::Vanish()
{
    std::unique_lock lock(impl_->mutex);
    impl_->VanishAndWait(lock);
}

bool ModuleSimulator::Vanished() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->vanished;
}

} // namespace nmct::modsim
