#pragma once
// The port on Linux: a terminal device, with overlapped I/O emulated by one driver thread.
//
// An operation first tries to complete at once; otherwise it stays pending in the port's books
// (PendingRecords, shared with the test fake) and the driver, blocked in poll on the device and
// a wake-up event, carries it on and signals the record's event when it completes. The read
// time-outs (the interval cutting the stream into chunks, the totals) are the driver's poll
// time-out while a read is pending; with nothing pending the driver sleeps in poll.
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

#include "../PendingRecords.h"
#include "../Port.h"
#include "ModemWatch.h"

namespace port::posix {

class PosixPort final : public Port
{
public:
    explicit PosixPort(int fd);
    ~PosixPort() override;
    bool Init();

    bool IsCommHandle() override { return isTty; }
    bool Setup(std::uint32_t, std::uint32_t) override { return isTty; }
    bool Purge(std::uint32_t flags) override;
    bool GetState(LineState &value) override;
    bool SetState(const LineState &value) override;
    bool GetTimeouts(Timeouts &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    bool SetMask(std::uint32_t mask) override;
    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;
    IoResult GetResult(Overlapped &record, bool wait) override;
    IoResult ClearError(std::uint32_t &errors) override;
    void Cancel(Overlapped &record) override;

private:
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
    std::uint32_t Decode(const unsigned char *raw, std::size_t count, char *out);
    std::uint32_t ErrorsFromCounters();
    void RaiseEvents(std::uint32_t events);
    void NoteGone();
    int NextTimeoutMs(Clock::time_point now) const;
    void DriverLoop();

    void Wake() { wake->Set(); }

    int fd;
    bool isTty;
    termios saved{};

    std::mutex mutex;
    LineState state;
    Timeouts timeouts;
    std::uint32_t commMask = 0;
    std::uint32_t errors = 0;
    std::uint32_t pendingEvents = 0;
    bool gone = false;
    PendingRecords pending{*this};
    Mark mark = Mark::None;
    bool countersSupported = true;
    serial_icounter_struct counters{};

    std::unique_ptr<Event> wake;
    std::atomic<bool> stopping{false};
    std::thread driver;
    ModemWatch modemWatch;
};

// Milliseconds from a time-out's arithmetic, saturated: a total beyond any real wait (a
// multiplier of MAXDWORD, say) waits as good as forever instead of overflowing into the past.
Clock::duration Milliseconds(std::uint64_t ms);

} // namespace port::posix
