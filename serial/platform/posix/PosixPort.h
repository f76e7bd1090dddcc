#pragma once
// The port on Linux: a terminal device, with overlapped I/O emulated by one driver thread.
//
// An operation first tries to complete at once; otherwise it stays pending in the port's books
// (PendingRecords, shared with the test fake). A pending write is carried on by the driver
// thread, blocked in poll on the device and a wake-up event. A pending read is carried on by
// whoever waits for its record's event (the reader thread): the event's source has the waiter
// watch the device beside its events, read what arrives, keep the read time-outs (the interval
// cutting the stream into chunks, the totals) as its poll time-out, and set the event when the
// read completes, so received bytes reach the reader without a hand-over between threads. With
// nothing pending nobody wakes.
//
// Parts: PosixPort.cpp (the calls of the port), Driver.cpp (the driver thread: reads, writes,
// time-outs, error marks), LineSettings (termios), ModemWatch (carrier and ring), Names (device
// names and the open), Events.cpp (events, waits, priorities).

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <linux/serial.h>
#include <termios.h>

#include "serial/platform/PendingRecords.h"
#include "serial/platform/Port.h"
#include "serial/platform/posix/ModemWatch.h"

namespace port::posix {

class PosixPort final : public EmulatedPort
{
public:
    explicit PosixPort(int fd);
    ~PosixPort() override;
    // 0, or the system's error when the port's own set-up fails.
    int Init();

    bool IsCommHandle() override { return isTty; }
    bool Setup(std::uint32_t, std::uint32_t) override { return isTty; }
    bool Purge(std::uint32_t flags) override;
    bool SetState(const LineState &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    bool SetMask(std::uint32_t mask) override;
    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;
    void Cancel(Overlapped &record) override;

private:
    // Lets the thread waiting for a pending read carry it on.
    class ReadSource final : public EventSource
    {
    public:
        explicit ReadSource(PosixPort &port) : port(port) {}
        bool Watch(NativeHandle &handle, int &timeoutMs) override;
        void Work() override;

    private:
        PosixPort &port;
    };

    enum class Mark
    {
        None,
        SawFF,
        SawFF00
    };

    // Driver.cpp; all run with `mutex` held.
    void PumpRead(Clock::time_point now);
    void PumpWrite(Clock::time_point now);
    std::optional<Clock::time_point> ReadDeadline() const;
    bool ReadReturnsAtOnce() const;
    bool ReadReturnsOnAnyByte() const;
    std::uint32_t Decode(const unsigned char *raw, std::size_t count, char *out,
                         std::uint32_t room);
    std::uint32_t ErrorsFromCounters();
    std::uint32_t ErrorsFromLine() override { return ErrorsFromCounters(); }
    void RaiseEvents(std::uint32_t events);
    void NoteGone();
    static int TimeoutMs(std::optional<Clock::time_point> deadline, Clock::time_point now);
    void DriverLoop();
    void DetachReadSource();

    void Wake() { wake->Set(); }

    int fd;
    bool isTty;
    termios saved{};

    std::uint32_t commMask = 0;
    std::uint32_t pendingEvents = 0;
    bool gone = false;
    Mark mark = Mark::None;
    std::optional<char> held; // decoded, waiting for room in the next read
    bool countersSupported = true;
    serial_icounter_struct counters{};

    ReadSource readSource{*this};
    Overlapped *sourced = nullptr; // the record whose event has readSource
    std::unique_ptr<Event> wake;
    std::atomic<bool> stopping{false};
    std::thread driver;
    ModemWatch modemWatch;
};

// Milliseconds from a time-out's arithmetic, saturated: a total beyond any real wait (a
// multiplier of MAXDWORD, say) waits as good as forever instead of overflowing into the past.
Clock::duration Milliseconds(std::uint64_t ms);

} // namespace port::posix
