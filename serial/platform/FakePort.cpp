#include "serial/platform/FakePort.h"

#include <algorithm>
#include <cstring>

namespace port {

FakePort::~FakePort() = default;

// Copies what fits into the pending read; the rest waits for the next read.
std::uint32_t FakePort::Fill(const std::string &bytes)
{
    const auto count =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), pending.read.size));
    std::memcpy(pending.read.buffer, bytes.data(), count);
    if (count < bytes.size())
        reads.push_front({bytes.substr(count)});
    return count;
}

void FakePort::PushData(const std::string &bytes)
{
    std::lock_guard lock(mutex);
    if (pending.read.record != nullptr) {
        pending.read.done = bytes.empty() ? 0 : Fill(bytes);
        pending.FinishRead(kErrorSuccess);
    } else {
        reads.push_back({bytes});
    }
}

void FakePort::PushEmptyRead()
{
    PushData(std::string());
}

void FakePort::Raise(const LineEvent &e)
{
    errors |= e.errors;
    pending.FinishEvent(kErrorSuccess, e.events & mask);
}

void FakePort::PushLineEvent(std::uint32_t lineEvents, std::uint32_t errorFlags)
{
    std::lock_guard lock(mutex);
    if (pending.event.record != nullptr)
        Raise({lineEvents, errorFlags});
    else
        events.push_back({lineEvents, errorFlags});
}

void FakePort::FailIo(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    failure = error;
    pending.FinishAll(error);
}

void FakePort::FailEventWaits(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    eventFailure = error;
    pending.FinishEvent(error);
}

void FakePort::FailReads(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    readFailure = error;
    pending.FinishRead(error);
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
    PendingWrite &w = pending.write;
    if (w.record == nullptr)
        return;
    const std::uint32_t taken = std::min(bytes, w.size - w.done);
    written.append(w.data + w.done, taken);
    w.done += taken;
    if (w.done == w.size)
        pending.FinishWrite(kErrorSuccess);
}

bool FakePort::ReadPending() const
{
    std::lock_guard lock(mutex);
    return pending.read.record != nullptr;
}

bool FakePort::EventPending() const
{
    std::lock_guard lock(mutex);
    return pending.event.record != nullptr;
}

bool FakePort::WritePending() const
{
    std::lock_guard lock(mutex);
    return pending.write.record != nullptr;
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
    AbortPurged(flags);
    if (flags & kPurgeRxClear)
        reads.clear();
    return true;
}

bool FakePort::SetState(const LineState &value)
{
    std::lock_guard lock(mutex);
    state = value;
    return true;
}

bool FakePort::SetTimeouts(const Timeouts &value)
{
    std::lock_guard lock(mutex);
    timeouts = value;
    return true;
}

bool FakePort::SetMask(std::uint32_t value)
{
    std::lock_guard lock(mutex);
    mask = value;
    return true;
}

IoResult FakePort::WaitEvent(std::uint32_t &result, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (failure != kErrorSuccess)
        return {failure, 0};
    if (eventFailure != kErrorSuccess)
        return {eventFailure, 0};
    pending.BeginEvent(record, result);
    if (!events.empty()) {
        Raise(events.front());
        events.pop_front();
        return {kErrorSuccess, 0};
    }
    PendingRecords::Pend(record);
    return {kErrorIoPending, 0};
}

IoResult FakePort::Read(char *buffer, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (failure != kErrorSuccess)
        return {failure, 0};
    if (readFailure != kErrorSuccess)
        return {readFailure, 0};
    pending.BeginRead(record, buffer, size);
    if (reads.empty()) {
        PendingRecords::Pend(record);
        return {kErrorIoPending, 0};
    }
    const std::string bytes = std::move(reads.front().bytes);
    reads.pop_front();
    pending.read.done = bytes.empty() ? 0 : Fill(bytes);
    pending.FinishRead(kErrorSuccess);
    return {kErrorSuccess, record.Transferred};
}

IoResult FakePort::Write(const char *data, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (failure != kErrorSuccess)
        return {failure, 0};
    pending.BeginWrite(record, data, size);
    if (writesStuck) {
        PendingRecords::Pend(record);
        return {kErrorIoPending, 0};
    }
    const std::uint32_t count = writeChunk != 0 ? std::min(size, writeChunk) : size;
    written.append(data, count);
    pending.write.done = count;
    pending.write.size = count; // a short write is complete with what it took
    pending.FinishWrite(kErrorSuccess);
    return {kErrorSuccess, count};
}

} // namespace port
