#include "tools/modsim/ModuleSimulator.h"

#include "tools/modsim/CommandFramer.h"
#include "tools/modsim/SerialLine.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace nmct::modsim {

namespace {

using Clock = std::chrono::steady_clock;

// 9600 baud, 8N1: ten bit times per byte.
constexpr std::int64_t kBaud = 9600;
constexpr std::int64_t kBitsPerByte = 10;
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

Clock::duration ByteTime(std::size_t count)
{
    return std::chrono::nanoseconds(static_cast<std::int64_t>(count) * kBitsPerByte *
                                    kNanosPerSecond / kBaud);
}

std::size_t BytesSentBy(Clock::duration elapsed)
{
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count();
    return nanos <= 0 ? 0
                      : static_cast<std::size_t>(nanos * kBaud / (kBitsPerByte * kNanosPerSecond));
}

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b)
{
    if (a && b) {
        return std::min(*a, *b);
    }
    return a ? a : b;
}

// One piece of output on its way to the line. It starts no earlier than `notBefore` and no
// earlier than `gap` after the previous piece ended.
struct Pending
{
    std::string bytes;
    Clock::time_point notBefore{};
    Clock::duration gap{};
    bool closeAfter = false;
    bool started = false;
    Clock::time_point start{};
    std::size_t sent = 0;
};

constexpr std::size_t kFloodChunk = 512;

// A hang-up discards what the tool has not read yet, so a module that vanishes after answering
// waits a moment after its reply's last byte.
constexpr std::chrono::milliseconds kVanishGrace{200};

} // namespace

struct ModuleSimulator::Impl
{
    explicit Impl(Options opts);
    ~Impl();
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    void Run();
    void Loop(std::unique_lock<std::mutex> &lock);
    void ReadInput(Clock::time_point now);
    void HandleCommand(std::string unit, Clock::time_point now);
    std::optional<Clock::time_point> PumpOutput(Clock::time_point now);
    bool Flood();
    void CloseLine(const std::string &reason);
    void Wake();
    void DrainWake();
    void VanishAndWait(std::unique_lock<std::mutex> &lock);
    void Log(std::string line);

    const Options options;
    SerialLine line;
    SymLink link;
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    const std::string floodChunk = FloodBytes(kFloodChunk, 7);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Module module;
    Faults faults;
    unsigned commandCount = 0; // recognised commands since the faults were set
    std::vector<std::string> commands;
    CommandFramer framer;
    Clock::time_point lastInput{};
    std::deque<Pending> outbox;
    Clock::time_point lastOutputEnd{};
    bool outputBlocked = false; // the line's buffer is full; wait for POLLOUT
    std::uint32_t noiseSeed = 0;
    bool stopping = false;
    bool vanishRequested = false;
    bool vanished = false;
    std::vector<std::string> logLines;

    std::thread thread; // last: starts once everything above is ready
};

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

void ModuleSimulator::Impl::Run()
{
    std::unique_lock lock(mutex);
    try {
        Loop(lock);
    } catch (const std::exception &error) {
        if (!lock.owns_lock()) {
            lock.lock();
        }
        CloseLine(std::string("simulator failed: ") + error.what());
    }
    const auto lines = std::exchange(logLines, {});
    lock.unlock();
    for (const std::string &text : lines) {
        options.log(text);
    }
}

void ModuleSimulator::Impl::Loop(std::unique_lock<std::mutex> &lock)
{
    while (!stopping) {
        const Clock::time_point now = Clock::now();
        if (vanishRequested && line.fd) {
            CloseLine("vanished on request");
        }

        std::optional<Clock::time_point> wakeAt;
        bool flooding = false;
        if (line.fd && framer.HasPending() && now >= lastInput + options.quietGap) {
            HandleCommand(framer.TakeRest(), now);
        }
        if (line.fd) {
            wakeAt = PumpOutput(now);
        }
        if (line.fd && framer.HasPending()) {
            wakeAt = Earliest(wakeAt, lastInput + options.quietGap);
        }
        if (line.fd && faults.flood && outbox.empty() && !outputBlocked) {
            flooding = Flood();
        }

        std::array<pollfd, 2> fds{{{wakeRead.Get(), POLLIN, 0}, {line.fd.Get(), 0, 0}}};
        fds[1].events = static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0));
        const nfds_t count = line.fd ? 2 : 1;
        timespec timeout{};
        timespec *timeoutPointer = nullptr;
        if (flooding || wakeAt) {
            const auto wait = flooding ? Clock::duration::zero()
                                       : std::max(Clock::duration::zero(), *wakeAt - Clock::now());
            const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            timeout.tv_sec = static_cast<time_t>(nanos / kNanosPerSecond);
            timeout.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
            timeoutPointer = &timeout;
        }

        const auto lines = std::exchange(logLines, {});
        lock.unlock();
        for (const std::string &text : lines) {
            options.log(text);
        }
        const int ready = ::ppoll(fds.data(), count, timeoutPointer, nullptr);
        const int pollError = errno;
        lock.lock();

        if (ready < 0) {
            if (pollError != EINTR) {
                throw std::system_error(pollError, std::generic_category(), "poll");
            }
            continue;
        }
        if (fds[0].revents & POLLIN) {
            DrainWake();
        }
        // Only this thread closes the line, so the descriptor polled is still the line's.
        if (count == 2 && line.fd) {
            if (fds[1].revents & POLLOUT) {
                outputBlocked = false;
            }
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
                ReadInput(Clock::now());
            }
        }
    }
}

void ModuleSimulator::Impl::ReadInput(Clock::time_point now)
{
    std::array<char, 512> buffer{};
    for (;;) {
        const ssize_t n = ::read(line.fd.Get(), buffer.data(), buffer.size());
        if (n > 0) {
            framer.Append(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            lastInput = now;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        CloseLine(n == 0 ? std::string("line hung up")
                         : "line lost: " + std::string(std::strerror(errno)));
        return;
    }
    while (auto command = framer.NextComplete()) {
        HandleCommand(std::move(*command), now);
    }
}

void ModuleSimulator::Impl::HandleCommand(std::string unit, Clock::time_point now)
{
    Log("<- " + Printable(unit));
    commands.push_back(unit);
    changed.notify_all();

    const Command command = ParseCommand(unit);
    std::optional<std::string> text = module.Answer(command);
    if (!text) {
        Log("   unknown, no answer");
        return;
    }
    ++commandCount;

    if (faults.answerLimit && commandCount > *faults.answerLimit) {
        Log("   past the answer limit, no answer");
    } else {
        bool first = true;
        for (OutputPart &part : ShapeReply(faults, command.kind, std::move(*text), ++noiseSeed)) {
            Log("-> " + Printable(part.bytes) +
                (part.wait.count() != 0 ? " (after " + std::to_string(part.wait.count()) + " ms)"
                                        : std::string()));
            Pending pending;
            pending.bytes = std::move(part.bytes);
            if (first) {
                pending.notBefore = now + part.wait;
            } else {
                pending.gap = part.wait;
            }
            first = false;
            outbox.push_back(std::move(pending));
        }
    }

    if (faults.vanishAfter && commandCount == *faults.vanishAfter) {
        Pending closing;
        closing.closeAfter = true;
        closing.notBefore = now;
        closing.gap = kVanishGrace;
        outbox.push_back(std::move(closing));
    }
}

std::optional<Clock::time_point> ModuleSimulator::Impl::PumpOutput(Clock::time_point now)
{
    while (!outbox.empty() && line.fd) {
        Pending &pending = outbox.front();
        if (!pending.started) {
            const Clock::time_point start =
                std::max(pending.notBefore, lastOutputEnd + pending.gap);
            if (now < start) {
                return start;
            }
            pending.started = true;
            pending.start = start;
        }

        // Byte i is on the wire one byte time after byte i-1: it has fully arrived at
        // start + (i+1) byte times, as on a real line.
        const std::size_t due =
            options.pacing ? std::min(pending.bytes.size(), BytesSentBy(now - pending.start))
                           : pending.bytes.size();
        if (due > pending.sent) {
            if (outputBlocked) {
                return std::nullopt;
            }
            const ssize_t n =
                ::write(line.fd.Get(), pending.bytes.data() + pending.sent, due - pending.sent);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    outputBlocked = true;
                    return std::nullopt;
                }
                if (errno == EINTR) {
                    return now;
                }
                CloseLine("write failed: " + std::string(std::strerror(errno)));
                return std::nullopt;
            }
            pending.sent += static_cast<std::size_t>(n);
            if (pending.sent < due) {
                outputBlocked = true;
                return std::nullopt;
            }
        }
        if (pending.sent < pending.bytes.size()) {
            return pending.start + ByteTime(pending.sent + 1);
        }

        lastOutputEnd = now;
        const bool close = pending.closeAfter;
        outbox.pop_front();
        if (close) {
            CloseLine("vanished after " + std::to_string(commandCount) + " commands");
        }
    }
    return std::nullopt;
}

bool ModuleSimulator::Impl::Flood()
{
    const ssize_t n = ::write(line.fd.Get(), floodChunk.data(), floodChunk.size());
    if (n >= 0) {
        return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
        outputBlocked = true;
    } else if (errno != EINTR) {
        CloseLine("write failed: " + std::string(std::strerror(errno)));
    }
    return false;
}

void ModuleSimulator::Impl::CloseLine(const std::string &reason)
{
    // The master first: the tool's side then sees the hang-up at once.
    line.fd.Reset();
    line.keepAlive.Reset();
    outbox.clear();
    framer.Clear();
    outputBlocked = false;
    vanished = true;
    Log("line closed: " + reason);
    changed.notify_all();
}

void ModuleSimulator::Impl::Wake()
{
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite.Get(), &byte, 1);
}

void ModuleSimulator::Impl::DrainWake()
{
    std::array<char, 64> buffer{};
    while (::read(wakeRead.Get(), buffer.data(), buffer.size()) > 0) {
    }
}

void ModuleSimulator::Impl::VanishAndWait(std::unique_lock<std::mutex> &lock)
{
    vanishRequested = true;
    Wake();
    if (std::this_thread::get_id() == thread.get_id()) {
        return; // called from the log callback: the loop closes the line when it resumes
    }
    changed.wait(lock, [&] { return vanished; });
}

void ModuleSimulator::Impl::Log(std::string line)
{
    if (options.log) {
        logLines.push_back(std::move(line));
    }
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
