#pragma once
// A scripted port for tests: it produces what a pseudo-terminal cannot (line errors, modem
// events, I/O errors, a read that completes with 0 bytes, short or stuck writes) and records
// what the threads did to it. It keeps its pending operations in the same books as the Linux
// port, so a stuck write holds the caller's data and reads it until it completes or is
// cancelled. Script calls may come from any thread.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/PendingRecords.h"
#include "serial/platform/Port.h"

namespace port {

class FakePort final : public EmulatedPort
{
public:
    FakePort() = default;
    ~FakePort() override;

    // What the next reads give: bytes, a completion with 0 bytes, or a failure.
    void PushData(const std::string &bytes);
    void PushEmptyRead();
    // A line event, with the error flags ClearError will give for it.
    void PushLineEvent(std::uint32_t events, std::uint32_t errorFlags = 0);
    // Pending and later I/O calls fail with this error.
    void FailIo(std::uint32_t error);
    // The pending and later line-event waits fail with this error; reads and writes go on.
    void FailEventWaits(std::uint32_t error);
    // The pending and later reads fail with this error; the rest goes on.
    void FailReads(std::uint32_t error);
    // Writes stay pending until drained or cancelled, or complete at most `bytes` at a time
    // (0: all).
    void SetWritesStuck(bool stuck);
    void SetWriteChunk(std::uint32_t bytes);
    // The line takes up to `bytes` of the pending write; it completes once all are taken.
    void DrainWrite(std::uint32_t bytes);

    bool ReadPending() const;
    bool EventPending() const;
    bool WritePending() const;
    std::string Written() const;
    std::uint32_t Mask() const;
    std::vector<std::uint32_t> Purges() const;

    bool IsCommHandle() override { return true; }
    bool Setup(std::uint32_t, std::uint32_t) override { return true; }
    bool Purge(std::uint32_t flags) override;
    bool SetState(const LineState &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    bool SetMask(std::uint32_t mask) override;
    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;

private:
    struct ReadOutcome
    {
        std::string bytes; // empty: completes with 0 bytes
    };
    struct LineEvent
    {
        std::uint32_t events;
        std::uint32_t errors;
    };

    std::uint32_t Fill(const std::string &bytes);
    void Raise(const LineEvent &e);

    std::deque<ReadOutcome> reads;
    std::deque<LineEvent> events;
    std::uint32_t failure = kErrorSuccess;
    std::uint32_t eventFailure = kErrorSuccess;
    std::uint32_t readFailure = kErrorSuccess;
    bool writesStuck = false;
    std::uint32_t writeChunk = 0;
    std::string written;
    std::uint32_t mask = 0;
    std::vector<std::uint32_t> purges;
};

} // namespace port
