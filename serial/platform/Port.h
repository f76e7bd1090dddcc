#pragma once
// The port layer: one open serial port at the level of what the reader and writer threads do,
// each system in its own calls, chosen by the build (port_posix.cpp: one non-blocking
// descriptor and poll; port_win32.cpp: overlapped I/O), and beside the Linux one a port that
// ser2net serves over the network (port_network.cpp); FakePort.h scripts one for tests.
//
// Who calls what: the owner's thread opens, sets up, purges and stops the port; the reader
// alone calls Next, ClearError and EndReader; the writer alone Write and WaitForWriterWork.
// Stop ends every wait of both threads, the ones under way and every later one. No call holds
// a lock across a system call. Nothing in this header depends on the platform.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/SerialPorts.h"

namespace port {

// Error codes the threads tell apart.
constexpr std::uint32_t kErrorInvalidHandle = 6; // the port is gone: end without a word
constexpr std::uint32_t kErrorGenFailure = 31;   // the device failed or went away

// Line events the reader asks for and Next reports.
constexpr std::uint32_t kEvRlsd = 0x20; // carrier detect changed
constexpr std::uint32_t kEvErr = 0x80;  // line error
constexpr std::uint32_t kEvRing = 0x100;

// Line error flags given by ClearError (the Linux port knows these two).
constexpr std::uint32_t kCeFrame = 0x8;
constexpr std::uint32_t kCeBreak = 0x10;

// Purge flags.
constexpr std::uint32_t kPurgeTxAbort = 0x1;
constexpr std::uint32_t kPurgeRxAbort = 0x2;
constexpr std::uint32_t kPurgeTxClear = 0x4;
constexpr std::uint32_t kPurgeRxClear = 0x8;

constexpr std::uint32_t kMaxDword = 0xFFFFFFFF;

// Line state flags word (bit values as in the device control block).
constexpr std::uint32_t kFlagBinary = 0x1;
constexpr std::uint32_t kFlagParity = 0x2;
constexpr std::uint32_t kFlagOutxCtsFlow = 0x4;
constexpr std::uint32_t kFlagOutxDsrFlow = 0x8;
constexpr std::uint32_t kFlagDtrShift = 4; // 2 bits: 0 off, 1 on, 2 handshake
constexpr std::uint32_t kFlagDsrSensitivity = 0x40;
constexpr std::uint32_t kFlagTxContinueOnXoff = 0x80;
constexpr std::uint32_t kFlagOutX = 0x100;
constexpr std::uint32_t kFlagInX = 0x200;
constexpr std::uint32_t kFlagErrorChar = 0x400;
constexpr std::uint32_t kFlagNull = 0x800;
constexpr std::uint32_t kFlagRtsShift = 12; // 2 bits: 0 off, 1 on, 2 handshake, 3 toggle
constexpr std::uint32_t kControlMask = 0x3;

struct LineState
{
    std::uint32_t BaudRate = 9600;
    std::uint32_t Flags = kFlagBinary;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 8;
    std::uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 17;
    char XoffChar = 19;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const LineState &) const = default;
    // DTR's or RTS's control, by kFlagDtrShift or kFlagRtsShift.
    std::uint32_t Control(std::uint32_t shift) const { return (Flags >> shift) & kControlMask; }
};

// When a read ends: it ends full, or on the total time-out (multiplier × bytes asked +
// constant, from its start), or once the line has been quiet for the interval after the last
// byte received. Interval and multiplier kMaxDword with a constant end a read as soon as it
// has anything; so do interval kMaxDword and zero totals, which on Windows also end a read
// that has nothing at once (Linux waits for a byte rather than have the reader spin).
struct Timeouts
{
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const Timeouts &) const = default;
};

// How a wait of a thread ended.
struct Result
{
    enum Kind
    {
        Bytes,   // read or written: `value` bytes (a read that ran out of time may have none)
        Events,  // line events: `value` holds their bits
        Stopped, // the port was stopped
        Failed,  // `value` is the system's error
    };
    Kind kind = Stopped;
    std::uint32_t value = 0;
};

// One open serial port.
class Port
{
public:
    virtual ~Port() = default;

    virtual bool IsCommHandle() = 0;
    virtual bool Setup(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool Purge(std::uint32_t flags) = 0;
    // The state the device holds; SetState refuses a state it cannot take whole.
    virtual bool GetState(LineState &state) = 0;
    virtual bool SetState(const LineState &state) = 0;
    virtual bool GetTimeouts(Timeouts &timeouts) = 0;
    virtual bool SetTimeouts(const Timeouts &timeouts) = 0; // reaches a read under way
    // The line events Next reports; modem lines are looked at only while they are asked for.
    virtual void SetEventMask(std::uint32_t mask) = 0;
    // The close event: set once, seen by every wait of both threads from then on.
    virtual void Stop() = 0;
    bool Stopped() const { return stopped; }
    // Ends the writer's WaitForWriterWork (a block was queued); from any thread.
    virtual void WakeWriter() = 0;

    // Reader: waits for its next thing, a read into `buffer` (at most `size` bytes, ended by the
    // time-outs) or a line event asked for. A read under way when an event comes goes on into
    // the same buffer at the next call; the port lets go of it only in EndReader, which also
    // empties the input side.
    virtual Result Next(char *buffer, std::uint32_t size) = 0;
    virtual bool ClearError(std::uint32_t &errors) = 0; // gives and clears the line errors
    virtual void EndReader() = 0;

    // Writer: writes by the write time-outs (Bytes: how many went), and has let go of `data`
    // when it returns. WaitForWriterWork gives Bytes once woken.
    virtual Result Write(const char *data, std::uint32_t size) = 0;
    virtual Result WaitForWriterWork() = 0;

protected:
    std::atomic<bool> stopped{false};
};

// Opens "\\.\" + name exclusively, the implementation picked by the name's form: a network
// port for rfc2217://HOST:PORT and tcp://HOST:PORT (ser2net's accepters; not on Windows), else a
// serial device. Null when it cannot; then `failure`, if given, says why.
std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure = nullptr);

enum class ThreadPriority
{
    Normal = 0,
    AboveNormal = 1,
    Highest = 2
};

// Raises the calling thread's priority by the value's steps, as far as the platform lets it.
void ApplyPriorityToCurrentThread(ThreadPriority priority);

} // namespace port
