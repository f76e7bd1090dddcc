#pragma once
// A scripted port for tests: it produces what a pseudo-terminal cannot (line errors, modem
// events, I/O errors, a read that ends with 0 bytes, short or stuck writes) and records what the
// threads did to it. A stuck write reads the caller's data until it is drained, or, once
// stopped or failed, one last time before it lets go, as a device does. Script calls may come
// from any thread.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "serial/platform/Port.h"

namespace port {

class FakePort final : public Port
{
public:
    // What the next reads give: bytes (what does not fit waits for the next read), a read
    // that ends with 0 bytes, a line event with the error flags ClearError then gives.
    void PushData(const std::string &bytes);
    void PushEmptyRead() { PushData(std::string()); }
    void PushLineEvent(std::uint32_t events, std::uint32_t errorFlags = 0);
    // Reads, line-event waits and writes, under way and later, fail with this error.
    void FailIo(std::uint32_t error);
    // Writes stay pending until drained, or complete at most `bytes` at a time (0: all).
    void SetWritesStuck(bool stuck);
    void SetWriteChunk(std::uint32_t bytes);
    // The line takes up to `bytes` of the pending write; it completes once all are taken.
    void DrainWrite(std::uint32_t bytes);

    bool ReaderWaiting() const;
    bool WritePending() const;
    std::string Written() const;
    std::uint32_t Mask() const;
    std::vector<std::uint32_t> Purges() const;

    bool IsCommHandle() override { return true; }
    bool Setup(std::uint32_t, std::uint32_t) override { return true; }
    bool Purge(std::uint32_t flags) override;
    bool GetState(LineState &value) override;
    bool SetState(const LineState &value) override;
    bool GetTimeouts(Timeouts &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    void SetEventMask(std::uint32_t value) override;
    void Stop() override;
    void WakeWriter() override;
    Result Next(char *buffer, std::uint32_t size) override;
    bool ClearError(std::uint32_t &flags) override;
    void EndReader() override { Purge(kPurgeRxAbort | kPurgeRxClear); }
    Result Write(const char *data, std::uint32_t size) override;
    Result WaitForWriterWork() override;

private:
    struct LineEvent
    {
        std::uint32_t events, errors;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> reads; // an empty one ends with 0 bytes
    std::deque<LineEvent> events;
    std::uint32_t failure = 0;
    std::uint32_t errors = 0;
    std::uint32_t mask = 0;
    LineState state;
    Timeouts timeouts;
    bool readerWaiting = false;
    int writerWakes = 0;
    bool writesStuck = false;
    std::uint32_t writeChunk = 0;
    const char *pendingData = nullptr; // the stuck write's, read until it lets go
    std::uint32_t pendingSize = 0;
    std::uint32_t pendingDone = 0;
    std::string written;
    std::vector<std::uint32_t> purges;
};

} // namespace port
