// The simulator's thread: one poll loop that reads the line, frames commands, lets the module
// answer, queues the reply as the faults shape it, and closes the line when asked or lost.

#include "tools/modsim/SimulatorThread.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <string_view>
#include <system_error>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace nmct::modsim {

namespace {

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a,
                                          std::optional<Clock::time_point> b)
{
    if (a && b) {
        return std::min(*a, *b);
    }
    return a ? a : b;
}

// A hang-up discards what the tool has not read yet, so a module that vanishes after answering
// waits a moment after its reply's last byte.
constexpr std::chrono::milliseconds kVanishGrace{200};

} // namespace

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

} // namespace nmct::modsim
