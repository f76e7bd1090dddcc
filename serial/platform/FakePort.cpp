#include "FakePort.h"

#include <algorithm>
#include <cstring>

namespace port {

FakePort::~FakePort()
{
    std::lock_guard lock(mutex);
    for (Overlapped *r : {readRecord, eventRecord, writeRecord})
        if (r != nullptr)
            Complete(*r, kErrorOperationAborted, 0);
}

void FakePort::Begin(Overlapped &record)
{
    record.UsedOn = this;
    record.Status = kErrorIoPending;
    record.Transferred = 0;
    record.event->Reset();
}

void FakePort::Complete(Overlapped &record, std::uint32_t status, std::uint32_t count)
{
    record.Status = status;
    record.Transferred = count;
    record.event->Set();
}

// Copies what fits into the pending read; the rest waits for the next read.
std::uint32_t FakePort::Fill(const std::string &bytes)
{
    const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), readSize));
    std::memcpy(readBuffer, bytes.data(), count);
    if (count < bytes.size())
        reads.push_front({bytes.substr(count)});
    return count;
}

void FakePort::PushData(const std::string &bytes)
{
    std::lock_guard lock(mutex);
    if (readRecord != nullptr) {
        const std::uint32_t count = bytes.empty() ? 0 : Fill(bytes);
        Complete(*readRecord, kErrorSuccess, count);
        readRecord = nullptr;
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
    *eventMask = e.events & mask;
    Complete(*eventRecord, kErrorSuccess, 0);
    eventRecord = nullptr;
}

void FakePort::PushLineEvent(std::uint32_t lineEvents, std::uint32_t errorFlags)
{
    std::lock_guard lock(mutex);
    if (eventRecord != nullptr)
        Raise({lineEvents, errorFlags});
    else
        events.push_back({lineEvents, errorFlags});
}

void FakePort::FailIo(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    failure = error;
    for (Overlapped **pending : {&readRecord, &eventRecord, &writeRecord})
        if (*pending != nullptr) {
            Complete(**pending, error, 0);
            *pending = nullptr;
        }
}

void FakePort::FailEventWaits(std::uint32_t error)
{
    std::lock_guard lock(mutex);
    eventFailure = error;
    if (eventRecord != nullptr) {
        Complete(*eventRecord, error, 0);
        eventRecord = nullptr;
    }
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

bool FakePort::ReadPending() const
{
    std::lock_guard lock(mutex);
    return readRecord != nullptr;
}

bool FakePort::EventPending() const
{
    std::lock_guard lock(mutex);
    return eventRecord != nullptr;
}

bool FakePort::WritePending() const
{
    std::lock_guard lock(mutex);
    return writeRecord != nullptr;
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
    if ((flags & kPurgeRxAbort) && readRecord != nullptr) {
        Complete(*readRecord, kErrorOperationAborted, 0);
        readRecord = nullptr;
    }
    if ((flags & kPurgeTxAbort) && writeRecord != nullptr) {
        Complete(*writeRecord, kErrorOperationAborted, 0);
        writeRecord = nullptr;
    }
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
    Begin(record);
    eventRecord = &record;
    eventMask = &result;
    if (!events.empty()) {
        Raise(events.front());
        events.pop_front();
        return {kErrorSuccess, 0};
    }
    return {kErrorIoPending, 0};
}

IoResult FakePort::Read(char *buffer, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (failure != kErrorSuccess)
        return {failure, 0};
    Begin(record);
    readRecord = &record;
    readBuffer = buffer;
    readSize = size;
    if (reads.empty())
        return {kErrorIoPending, 0};
    const std::string bytes = std::move(reads.front().bytes);
    reads.pop_front();
    const std::uint32_t count = bytes.empty() ? 0 : Fill(bytes);
    Complete(record, kErrorSuccess, count);
    readRecord = nullptr;
    return {kErrorSuccess, count};
}

IoResult FakePort::Write(const char *data, std::uint32_t size, Overlapped &record)
{
    std::lock_guard lock(mutex);
    if (failure != kErrorSuccess)
        return {failure, 0};
    Begin(record);
    if (writesStuck) {
        writeRecord = &record;
        return {kErrorIoPending, 0};
    }
    const std::uint32_t count = writeChunk != 0 ? std::min(size, writeChunk) : size;
    written.append(data, count);
    Complete(record, kErrorSuccess, count);
    return {kErrorSuccess, count};
}

IoResult FakePort::GetResult(Overlapped &record, bool wait)
{
    if (wait)
        while (WaitAny({record.event.get()}) != 0) {
        }
    std::lock_guard lock(mutex);
    if (record.Status == kErrorIoPending)
        return {kErrorIoIncomplete, 0};
    return {record.Status, record.Transferred};
}

IoResult FakePort::ClearError(std::uint32_t &flags)
{
    std::lock_guard lock(mutex);
    flags = errors;
    errors = 0;
    return {kErrorSuccess, 0};
}

void FakePort::Cancel(Overlapped &record)
{
    std::lock_guard lock(mutex);
    for (Overlapped **pending : {&readRecord, &eventRecord, &writeRecord})
        if (*pending == &record) {
            Complete(record, kErrorOperationAborted, 0);
            *pending = nullptr;
        }
}

} // namespace port
