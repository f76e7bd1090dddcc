#include "serial/platform/FakePort.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace port {

void FakePort::PushData(const std::string &bytes)
{
    std::lock_guard lock(mutex);
    reads.push_back(bytes);
    changed.notify_all();
}

void FakePort::PushLineEvent(std::uint32_t lineEvents, std::uint32_t errorFlags)
{
    std::lock_guard lock(mutex);
    events.push_back({lineEvents, errorFlags});
    changed.notify_all();
}

void FakePort::FailIo(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    failure = error;
    changed.notify_all();
}

void FakePort::SetWritesStuck(bool stuck)
{
    std::lock_guard lock(mutex);
    writesStuck = stuck;
}

void FakePort::SetWriteChunk(std::uint32_t bytes)
{
    std::lock_guard lock(mutex);
    writeChunk = bytes;
}

void FakePort::DrainWrite(std::uint32_t bytes)
{
    std::lock_guard lock(mutex);
    if (pendingData == nullptr) // no write pending, or it has let go of its data
        return;
    const std::uint32_t taken = std::min(bytes, pendingSize - pendingDone);
    written.append(pendingData + pendingDone, taken);
    pendingDone += taken;
    changed.notify_all();
}

bool FakePort::ReaderWaiting() const
{
    std::lock_guard lock(mutex);
    return readerWaiting;
}

bool FakePort::WritePending() const
{
    std::lock_guard lock(mutex);
    return pendingData != nullptr;
}

std::string FakePort::Written() const
{
    std::lock_guard lock(mutex);
    return written;
}

std::uint32_t FakePort::Mask() const
{
    std::lock_guard lock(mutex);
    return mask;
}

std::vector<std::uint32_t> FakePort::Purges() const
{
    std::lock_guard lock(mutex);
    return purges;
}

bool FakePort::Purge(std::uint32_t flags)
{
    std::lock_guard lock(mutex);
    purges.push_back(flags);
    if (flags & kPurgeRxClear)
        reads.clear();
    return true;
}

bool FakePort::GetState(LineState &value)
{
    std::lock_guard lock(mutex);
    value = state;
    return true;
}

bool FakePort::SetState(const LineState &value)
{
    std::lock_guard lock(mutex);
    state = value;
    return true;
}

bool FakePort::GetTimeouts(Timeouts &value)
{
    std::lock_guard lock(mutex);
    value = timeouts;
    return true;
}

bool FakePort::SetTimeouts(const Timeouts &value)
{
    std::lock_guard lock(mutex);
    timeouts = value;
    return true;
}

void FakePort::SetEventMask(std::uint32_t value)
{
    std::lock_guard lock(mutex);
    mask = value;
}

void FakePort::Stop()
{
    std::lock_guard lock(mutex);
    stopped = true;
    changed.notify_all();
}

void FakePort::WakeWriter()
{
    std::lock_guard lock(mutex);
    ++writerWakes;
    changed.notify_all();
}

Result FakePort::Next(char *buffer, std::uint32_t size)
{
    std::unique_lock lock(mutex);
    readerWaiting = true;
    changed.wait(lock,
                 [this] { return stopped || failure != 0 || !events.empty() || !reads.empty(); });
    readerWaiting = false;
    if (stopped)
        return {Result::Stopped};
    if (failure != 0)
        return {Result::Failed, failure};
    if (!events.empty()) {
        const LineEvent e = events.front();
        events.pop_front();
        errors |= e.errors;
        return {Result::Events, e.events & mask};
    }
    std::string &bytes = reads.front();
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), size));
    std::memcpy(buffer, bytes.data(), count);
    bytes.erase(0, count);
    if (bytes.empty() || count == 0)
        reads.pop_front();
    return {Result::Bytes, count};
}

bool FakePort::ClearError(std::uint32_t &flags)
{
    std::lock_guard lock(mutex);
    flags = std::exchange(errors, 0);
    return failure == 0;
}

Result FakePort::Write(const char *data, std::uint32_t size)
{
    std::unique_lock lock(mutex);
    if (!writesStuck && failure == 0 && !stopped) {
        const std::uint32_t count = writeChunk != 0 ? std::min(size, writeChunk) : size;
        written.append(data, count);
        return {Result::Bytes, count};
    }
    pendingData = data;
    pendingSize = size;
    pendingDone = 0;
    changed.wait(lock, [this] { return stopped || failure != 0 || pendingDone == pendingSize; });
    // A device reads a pending write's data until the moment it lets go.
    volatile char seen = 0;
    for (std::uint32_t i = pendingDone; i < pendingSize; ++i)
        seen = static_cast<char>(seen ^ pendingData[i]);
    pendingData = nullptr;
    if (pendingDone == pendingSize)
        return {Result::Bytes, size};
    return stopped ? Result{Result::Stopped} : Result{Result::Failed, failure};
}

// A wait for the writer's wake-up, not an I/O call: it fails with nothing the script does.
Result FakePort::WaitForWriterWork()
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return stopped || writerWakes > 0; });
    writerWakes = 0;
    return stopped ? Result{Result::Stopped} : Result{Result::Bytes};
}

} // namespace port
