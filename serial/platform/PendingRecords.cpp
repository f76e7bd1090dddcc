#include "serial/platform/PendingRecords.h"

#include <algorithm>

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

PendingRecords::~PendingRecords()
{
    FinishAll(kErrorOperationAborted);
    for (Overlapped *r : used)
        r->UsedOn = nullptr;
}

void PendingRecords::Complete(Overlapped &record, std::uint32_t status, std::uint32_t count)
{
    record.Status = status;
    record.Transferred = count;
    record.event->Set();
}

void PendingRecords::Track(Overlapped &record)
{
    if (record.UsedOn != &owner) {
        record.UsedOn = &owner;
        used.push_back(&record);
    }
}

void PendingRecords::Begin(Overlapped &record)
{
    Track(record);
    record.Status = kErrorIoPending;
    record.Transferred = 0;
    record.event->Reset();
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
    if (record.UsedOn == &owner) {
        record.UsedOn = nullptr;
        used.erase(std::remove(used.begin(), used.end(), &record), used.end());
    }
}

} // namespace port
