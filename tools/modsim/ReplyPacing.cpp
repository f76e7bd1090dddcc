// Replies on their way to the line, written as a 9600 baud 8N1 line would carry them, and the
// flood of line noise. Run on the simulator's thread with the lock held.

#include "tools/modsim/SimulatorThread.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace nmct::modsim {

namespace {

// 9600 baud, 8N1: ten bit times per byte.
constexpr std::int64_t kBaud = 9600;
constexpr std::int64_t kBitsPerByte = 10;

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

} // namespace

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

} // namespace nmct::modsim
