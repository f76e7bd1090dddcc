#pragma once
// The port layer: the few platform services the serial threads and component need, in the
// shape of overlapped serial I/O. Manual-reset events and the writer's queue are waitable;
// WaitAny gives the lowest signalled index, so a stop event placed first always wins. A read,
// write or line-event wait either completes at once or is pending on its record's event.
//
// One implementation per platform (posix/, or port_win32.cpp and win32/), chosen by the build;
// FakePort.h scripts a port for tests. Nothing in this header depends on the platform.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/SerialPorts.h"

namespace port {

// A descriptor or handle the platform can wait on.
using NativeHandle = std::intptr_t;

// Error codes of I/O results, with the values the threads were designed around.
enum ErrorCode : std::uint32_t
{
    kErrorSuccess = 0,
    kErrorInvalidHandle = 6,
    kErrorGenFailure = 31,
    kErrorNotSupported = 50, // a line-event wait on a device that has no line events
    kErrorOperationAborted = 995,
    kErrorIoIncomplete = 996,
    kErrorIoPending = 997,
};

// Line events selected with SetMask and reported by WaitEvent.
constexpr std::uint32_t kEvRlsd = 0x20; // carrier detect changed
constexpr std::uint32_t kEvErr = 0x80;  // line error
constexpr std::uint32_t kEvRing = 0x100;

// Line error flags given by ClearError.
constexpr std::uint32_t kCeRxOver = 0x1;
constexpr std::uint32_t kCeOverrun = 0x2;
constexpr std::uint32_t kCeRxParity = 0x4;
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

// What the Linux port does with settings termios has no place for:
// - DTR handshake, RTS while transmitting (toggle), DSR flow control and DSR sensitivity:
//   refused; SetState fails and the state in force stays.
// - Speed 0 (a hang-up on a terminal) and a speed the driver does not take: refused the same way.
// - RTS handshake is hardware flow both ways, as CTS flow is.
// - Xon/Xoff limits: kept but without effect; the kernel sends Xoff and Xon at its own levels.
// - TxContinueOnXoff: without effect; the kernel always goes on sending after its own Xoff.
// - Parity checking off with a parity set: the line still checks; the byte is delivered as
//   received and no error is reported, which is what a caller with checking off expects. The
//   error character replaces a bad byte only with checking on.
// - 1.5 stop bits are sent as 2.
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
};

struct Timeouts
{
    std::uint32_t ReadIntervalTimeout = 0;
    std::uint32_t ReadTotalTimeoutMultiplier = 0;
    std::uint32_t ReadTotalTimeoutConstant = 0;
    std::uint32_t WriteTotalTimeoutMultiplier = 0;
    std::uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const Timeouts &) const = default;
};

// Work a waiter does itself while it waits for an event, where a port emulates overlapped I/O
// without a thread of its own; defined by the platform that has one.
class EventSource;

class Waitable
{
public:
    virtual ~Waitable() = default;
    virtual NativeHandle WaitHandle() const = 0;
    virtual bool IsSet() const = 0;
    virtual EventSource *Source() const { return nullptr; }
};

// Manual-reset event: stays signalled until reset, so every waiter sees it. Set and Reset of one
// event come from one thread at a time (or under one lock), so the event can skip a call that
// would change nothing.
class Event final : public Waitable
{
public:
    // Null when the platform refuses to create one.
    static std::unique_ptr<Event> Create(bool signalled);
    ~Event() override;
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    void Set();
    void Reset();
    bool IsSet() const override;
    NativeHandle WaitHandle() const override { return handle; }
    EventSource *Source() const override { return source; }
    // Set by a port while an operation on the event's record needs a waiter's help.
    void SetSource(EventSource *value) { source = value; }

private:
    explicit Event(NativeHandle h, bool signalled = false) : handle(h), signalled(signalled) {}
    NativeHandle handle;
    std::atomic<bool> signalled; // as last set or reset
    std::atomic<EventSource *> source{nullptr};
};

constexpr int kWaitFailed = -1;

// Blocks without time-out until one of the objects is signalled; gives the lowest signalled
// index, or kWaitFailed. Meanwhile it does the work of the events' sources.
int WaitAny(std::initializer_list<const Waitable *> objects);

class Port;

// The record of one overlapped operation. The port fills Status and Transferred and sets the
// event when the operation completes. Destroying a record cancels what is pending on it.
struct Overlapped
{
    Overlapped() = default;
    ~Overlapped();
    Overlapped(const Overlapped &) = delete;
    Overlapped &operator=(const Overlapped &) = delete;

    std::unique_ptr<Event> event;
    std::uint32_t Status = kErrorSuccess;
    std::uint32_t Transferred = 0;
    // The port that may still hold the record; null once it cannot. Cleared by whichever thread
    // completes the record, as its last touch, and read without the port's lock by the record's
    // destructor.
    std::atomic<Port *> UsedOn{nullptr};
};

// Result of an I/O call: kErrorSuccess with a count, kErrorIoPending, or a failure.
struct IoResult
{
    std::uint32_t Error = kErrorSuccess;
    std::uint32_t Count = 0;
    bool Ok() const { return Error == kErrorSuccess; }
};

// One open serial port. Reads, writes and line-event waits may run on different threads at
// once; the other calls come from the owner's thread.
class Port
{
public:
    virtual ~Port() = default;

    virtual bool IsCommHandle() = 0;
    virtual bool Setup(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool Purge(std::uint32_t flags) = 0;
    virtual bool GetState(LineState &state) = 0;
    virtual bool SetState(const LineState &state) = 0;
    virtual bool GetTimeouts(Timeouts &timeouts) = 0;
    virtual bool SetTimeouts(const Timeouts &timeouts) = 0;
    virtual bool SetMask(std::uint32_t mask) = 0;

    virtual IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) = 0;
    virtual IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) = 0;
    virtual IoResult Write(const char *data, std::uint32_t size, Overlapped &record) = 0;
    virtual IoResult GetResult(Overlapped &record, bool wait) = 0;
    virtual IoResult ClearError(std::uint32_t &errors) = 0;

    // Abandons whatever is pending on the record; its buffer is not touched afterwards.
    virtual void Cancel(Overlapped &record) = 0;
};

// Opens "\\.\" + name exclusively. Null when the device cannot be opened; then `failure`, if
// given, says why. On success it holds only the device opened.
std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure = nullptr);

enum class ThreadPriority
{
    Normal,
    AboveNormal,
    Highest
};

// A thread created without running; Start runs Execute. Derived classes call Join in their
// own destructor, so the body never outlives the object it runs on.
class Thread
{
public:
    Thread() = default;
    virtual ~Thread();
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    void SetPriority(ThreadPriority priority);
    bool Start();
    // True once the body has ended (false if it has not ended within the time-out).
    bool WaitFor(std::uint32_t milliseconds);
    void Terminate() { terminated = true; }
    bool Terminated() const { return terminated; }

protected:
    virtual void Execute() = 0;
    void Join();

private:
    void Run();

    std::thread thread;
    ThreadPriority priority = ThreadPriority::Normal;
    std::atomic<bool> terminated{false};
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool ended = false;
};

// Raises the calling thread's scheduling priority as far as the platform lets it.
void ApplyPriorityToCurrentThread(ThreadPriority priority);

struct ThreadMessage
{
    std::uint32_t Id = 0;
    std::uint32_t WParam = 0;
    std::unique_ptr<char[]> Block;
};

// The writer's message queue: the one structure shared under a lock. Its handle is signalled
// while messages wait. After Close it refuses posts and has freed what was queued.
class ThreadQueue final : public Waitable
{
public:
    static constexpr std::size_t kCapacity = 10000;

    ThreadQueue(); // throws std::runtime_error when its event cannot be created
    bool Post(ThreadMessage message);
    bool Take(ThreadMessage &message);
    void Close();
    NativeHandle WaitHandle() const override { return ready->WaitHandle(); }
    bool IsSet() const override { return ready->IsSet(); }

private:
    std::mutex mutex;
    std::deque<ThreadMessage> messages;
    bool closed = false;
    std::unique_ptr<Event> ready;
};

struct Notification
{
    std::uint32_t Id = 0;
    std::uint32_t WParam = 0;
    std::uint32_t LParam = 0;
    std::unique_ptr<char[]> Block; // owned by whoever holds the notification
};

// Where the threads post what they have to report. Posting never waits for the receiver;
// a refused notification is freed with its block.
class NotifyTarget
{
public:
    virtual ~NotifyTarget() = default;
    virtual bool Post(Notification notification) = 0;
};

} // namespace port
