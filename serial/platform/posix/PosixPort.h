#pragma once
// The port on Linux: a terminal device, non-blocking, with overlapped I/O emulated without a
// thread of its own.
//
// An operation first tries to complete at once; otherwise it stays pending in the port's books
// (PendingRecords, shared with the test fake) and the thread that waits for its record's event
// carries it on: the event's source has the waiter watch the device beside its events and do
// the work when the device is ready or a time-out is due. The reader's wait carries the read
// (the interval time-out cutting the stream into chunks, the totals) and, on a device with
// modem lines, looks at the modem counters every kModemLookMs while a line-event wait is
// pending; the writer's wait carries its write. GetResult without waiting carries the record's
// operation on as well. With nothing pending nobody wakes, and no lock is held across a call
// that may take long (the line settings, a flush).
//
// Parts: PosixPort.cpp (the calls of the port), Driver.cpp (carrying reads and writes on,
// time-outs, error marks, modem lines), LineSettings (termios), Names (device names and the
// open), Events.cpp (events, waits, priorities).

#include <poll.h>

#include <linux/serial.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "serial/platform/PendingRecords.h"
#include "serial/platform/Port.h"
#include "serial/platform/posix/LineSettings.h"

namespace port {

// Work a waiter does itself while it waits for an event (see PosixPort).
class EventSource
{
public:
    virtual ~EventSource() = default;
    // Adds what to watch besides the events, and lowers `timeoutMs` (-1: none) to when the
    // source must look again.
    virtual void Watch(std::vector<pollfd> &fds, int &timeoutMs) = 0;
    // Something watched is ready (`hungUp`: the device reported a hang-up or an error) or the
    // time is up: carry the work on; an operation that completes sets its event.
    virtual void Work(bool hungUp) = 0;
};

} // namespace port

namespace port::posix {

class PosixPort final : public EmulatedPort
{
public:
    static constexpr int kModemLookMs = 50;

    explicit PosixPort(int fd);
    ~PosixPort() override;
    // 0, or the system's error when the port's own set-up fails.
    int Init();

    bool IsCommHandle() override { return isTty; }
    bool Setup(std::uint32_t, std::uint32_t) override { return isTty; }
    bool Purge(std::uint32_t flags) override;
    bool GetState(LineState &value) override;
    bool SetState(const LineState &value) override;
    bool SetTimeouts(const Timeouts &value) override;
    bool SetMask(std::uint32_t mask) override;
    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;

protected:
    void Progress(Overlapped &record) override;
    std::uint32_t ErrorsFromLine() override { return ErrorsFromCounters(); }

private:
    // The reader's side (a read, line events) or the writer's.
    class Side final : public EventSource
    {
    public:
        Side(PosixPort &port, bool writer) : port(port), writer(writer) {}
        void Watch(std::vector<pollfd> &fds, int &timeoutMs) override;
        void Work(bool hungUp) override;

    private:
        PosixPort &port;
        bool writer;
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
    void LookAtModemLines(Clock::time_point now);
    std::optional<Clock::time_point> ReadDeadline() const;
    bool ReadReturnsAtOnce() const;
    bool ReadReturnsOnAnyByte() const;
    std::uint32_t Decode(const unsigned char *raw, std::size_t count, char *out,
                         std::uint32_t room);
    std::uint32_t ErrorsFromCounters();
    void RaiseEvents(std::uint32_t events);
    void NoteGone();
    // Marks are needed where errors come from nowhere else, and for the bytes a parity check
    // replaces; a pseudo-terminal has no line to err.
    bool MarkingFor(const LineState &value) const
    {
        return !isPty && (!countersSupported || (value.Flags & kFlagParity));
    }
    static int TimeoutMs(std::optional<Clock::time_point> deadline, Clock::time_point now);

    int fd;
    bool isTty;
    termios saved{};

    std::uint32_t commMask = 0;
    std::uint32_t pendingEvents = 0;
    bool gone = false;
    Mark mark = Mark::None;
    std::string carry;              // decoded, waiting for room in the next read
    std::size_t carried = 0;        // how much of it a read has taken
    bool isPty = false;             // set once, at the open
    bool countersSupported = false; // likewise
    serial_icounter_struct counters{};
    bool modemWatched = false; // asked for, and the device has modem lines
    ModemCounts modemLast;
    Clock::time_point nextModemLook;

    Side readerSide{*this, false};
    Side writerSide{*this, true};
    std::unique_ptr<Event> wake; // a pending read's time-outs changed
};

// Milliseconds from a time-out's arithmetic, saturated: a total beyond any real wait (a
// multiplier of MAXDWORD, say) waits as good as forever instead of overflowing into the past.
Clock::duration Milliseconds(std::uint64_t ms);

} // namespace port::posix
