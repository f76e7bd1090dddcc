#include "serial/platform/PendingRecords.h"

namespace port {

namespace {

// A device reads a pending write's data until the moment it lets go; so does this.
void LastLookAt(const PendingWrite &write)
{
    volatile char seen = 0;
    for (std::uint32_t i = write.done; i < write.size; ++i)
        seen = static_cast<char>(seen ^ write.data[i]);
    (void)seen;
}

} // namespace

void PendingRecords::Complete(Overlapped &record, std::uint32_t status, std::uint32_t count)
{
    record.Status = status;
    record.Transferred = count;
    record.event->SetSource(nullptr);
    record.event->Set();
    record.UsedOn = nullptr; // from here on the record's owner may free it
}

void PendingRecords::Begin(Overlapped &record)
{
    record.UsedOn = &owner;
    record.Status = kErrorIoPending;
    record.Transferred = 0;
}

void PendingRecords::Pend(Overlapped &record, EventSource *source)
{
    record.event->Reset();
    record.event->SetSource(source);
}

void PendingRecords::BeginRead(Overlapped &record, char *buffer, std::uint32_t size)
{
    Begin(record);
    const auto now = Clock::now();
    read = {&record, buffer, size, 0, now, now};
}

void PendingRecords::BeginWrite(Overlapped &record, const char *data, std::uint32_t size)
{
    Begin(record);
    write = {&record, data, size, 0, std::nullopt};
}

void PendingRecords::BeginEvent(Overlapped &record, std::uint32_t &mask)
{
    Begin(record);
    event = {&record, &mask};
}

void PendingRecords::FinishRead(std::uint32_t status)
{
    if (read.record == nullptr)
        return;
    Complete(*read.record, status, read.done);
    read.record = nullptr;
}

void PendingRecords::FinishWrite(std::uint32_t status)
{
    if (write.record == nullptr)
        return;
    if (write.done < write.size)
        LastLookAt(write);
    Complete(*write.record, status, write.done);
    write = {};
}

void PendingRecords::FinishEvent(std::uint32_t status, std::uint32_t events)
{
    if (event.record == nullptr)
        return;
    if (status == kErrorSuccess)
        *event.mask = events;
    Complete(*event.record, status, 0);
    event.record = nullptr;
}

void PendingRecords::FinishAll(std::uint32_t status)
{
    FinishRead(status);
    FinishWrite(status);
    FinishEvent(status);
}

void PendingRecords::Cancel(Overlapped &record)
{
    if (read.record == &record)
        FinishRead(kErrorOperationAborted);
    if (write.record == &record)
        FinishWrite(kErrorOperationAborted);
    if (event.record == &record)
        FinishEvent(kErrorOperationAborted);
}

bool EmulatedPort::GetState(LineState &value)
{
    std::lock_guard lock(mutex);
    value = state;
    return IsCommHandle();
}

bool EmulatedPort::GetTimeouts(Timeouts &value)
{
    std::lock_guard lock(mutex);
    value = timeouts;
    return IsCommHandle();
}

IoResult EmulatedPort::GetResult(Overlapped &record, bool wait)
{
    if (wait)
        while (WaitAny({record.event.get()}) != 0) {
        }
    std::lock_guard lock(mutex);
    if (record.Status == kErrorIoPending)
        Progress(record);
    if (record.Status == kErrorIoPending)
        return {kErrorIoIncomplete, 0};
    return {record.Status, record.Transferred};
}

void EmulatedPort::Cancel(Overlapped &record)
{
    std::lock_guard lock(mutex);
    pending.Cancel(record);
}

IoResult EmulatedPort::ClearError(std::uint32_t &flags)
{
    std::lock_guard lock(mutex);
    flags = errors | ErrorsFromLine();
    errors = 0;
    return {kErrorSuccess, 0};
}

void EmulatedPort::AbortPurged(std::uint32_t flags)
{
    if (flags & kPurgeRxAbort)
        pending.FinishRead(kErrorOperationAborted);
    if (flags & kPurgeTxAbort)
        pending.FinishWrite(kErrorOperationAborted);
}

} // namespace port
