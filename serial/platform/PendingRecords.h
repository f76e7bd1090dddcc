#pragma once
// What a port has pending on its callers' records: at most one read, one write and one
// line-event wait, and the port that keeps such books (EmulatedPort). The Linux port and the
// test fake both are one, so the fake cannot drift from the rules the threads rely on:
// - a pending write holds its caller's data and reads from it until it completes or is
//   cancelled, so a block released too early is read after it was freed;
// - a record completed or cancelled is not touched again, and forgets the port (UsedOn) and
//   any source of work on its event;
// - records that outlive the port forget it.
// Not locked: the port calls it under its own lock.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "serial/platform/Port.h"

namespace port {

using Clock = std::chrono::steady_clock;

struct PendingRead
{
    Overlapped *record = nullptr;
    char *buffer = nullptr;
    std::uint32_t size = 0;
    std::uint32_t done = 0;
    Clock::time_point start, last;
};

struct PendingWrite
{
    Overlapped *record = nullptr;
    const char *data = nullptr;
    std::uint32_t size = 0;
    std::uint32_t done = 0;
    std::optional<Clock::time_point> deadline;
};

struct PendingEvent
{
    Overlapped *record = nullptr;
    std::uint32_t *mask = nullptr;
};

class PendingRecords
{
public:
    explicit PendingRecords(Port &owner) : owner(owner) {}
    ~PendingRecords() { FinishAll(kErrorOperationAborted); }
    PendingRecords(const PendingRecords &) = delete;
    PendingRecords &operator=(const PendingRecords &) = delete;

    void BeginRead(Overlapped &record, char *buffer, std::uint32_t size);
    void BeginWrite(Overlapped &record, const char *data, std::uint32_t size);
    void BeginEvent(Overlapped &record, std::uint32_t &mask);
    // The operation begun on the record stays pending: its event is reset until it completes,
    // and `source`, if any, is the work its waiter does meanwhile. An operation that completes
    // within its call leaves the event signalled, as it was.
    static void Pend(Overlapped &record, EventSource *source = nullptr);

    // Each completes what is pending of its kind, if anything: a read or write with what it
    // moved so far, an event wait with the events (given to the caller only on success).
    void FinishRead(std::uint32_t status);
    void FinishWrite(std::uint32_t status);
    void FinishEvent(std::uint32_t status, std::uint32_t events = 0);
    void FinishAll(std::uint32_t status);

    // Abandons what is pending on the record; afterwards the port has let go of its buffer.
    void Cancel(Overlapped &record);

    static void Complete(Overlapped &record, std::uint32_t status, std::uint32_t count);

    PendingRead read;
    PendingWrite write;
    PendingEvent event;

private:
    void Begin(Overlapped &record);

    Port &owner;
};

// A port that emulates the overlapped calls over its books, under one lock: what the Linux
// port and the fake have in common. The line state and time-outs are kept as set; reading them
// succeeds on a serial device only.
class EmulatedPort : public Port
{
public:
    bool GetState(LineState &value) override;
    bool GetTimeouts(Timeouts &value) override;
    IoResult GetResult(Overlapped &record, bool wait) override;
    IoResult ClearError(std::uint32_t &flags) override;
    // Once this returns the port has let go of the record's buffer.
    void Cancel(Overlapped &record) override;

protected:
    // Carries on what is pending on the record without waiting; with `mutex` held.
    virtual void Progress(Overlapped &) {}
    // Errors the line reports elsewhere than in `errors`; with `mutex` held.
    virtual std::uint32_t ErrorsFromLine() { return 0; }
    // Ends the pending read or write that the purge flags abort; with `mutex` held.
    void AbortPurged(std::uint32_t flags);

    mutable std::mutex mutex;
    LineState state;
    Timeouts timeouts;
    std::uint32_t errors = 0; // line errors not yet given to ClearError
    // Last: destroyed first after the port's own members, it completes what is pending.
    PendingRecords pending{*this};
};

} // namespace port
