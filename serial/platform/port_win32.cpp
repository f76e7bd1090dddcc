// The port on Windows: the system's own serial calls and overlapped I/O. The reader keeps a
// read and a line-event wait pending at once and waits for either, for the stop event and for
// its wake-up (a new event mask); the writer waits for its write or the stop event. An
// operation abandoned on a stop is cancelled and waited for before the call returns, so the
// system never writes into memory its caller has let go.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX // the C++ library may have defined it already
#define NOMINMAX
#endif
#include <windows.h>

#include <utility>
#include <vector>

#include "serial/platform/Port.h"

namespace port {

namespace {

const char *const kDevicePrefix = "\\\\.\\";

// Virtual and emulated ports answer a line-event wait as an unknown or unsupported function.
bool NoLineEvents(const Result &r)
{
    return r.kind == Result::Failed &&
           (r.value == ERROR_NOT_SUPPORTED || r.value == ERROR_INVALID_FUNCTION);
}

LineState StateFromDcb(const DCB &dcb)
{
    LineState s;
    s.BaudRate = dcb.BaudRate;
    const std::pair<bool, std::uint32_t> bits[] = {
        {dcb.fBinary != 0, kFlagBinary},
        {dcb.fParity != 0, kFlagParity},
        {dcb.fOutxCtsFlow != 0, kFlagOutxCtsFlow},
        {dcb.fOutxDsrFlow != 0, kFlagOutxDsrFlow},
        {dcb.fDsrSensitivity != 0, kFlagDsrSensitivity},
        {dcb.fTXContinueOnXoff != 0, kFlagTxContinueOnXoff},
        {dcb.fOutX != 0, kFlagOutX},
        {dcb.fInX != 0, kFlagInX},
        {dcb.fErrorChar != 0, kFlagErrorChar},
        {dcb.fNull != 0, kFlagNull},
    };
    s.Flags = 0;
    for (const auto &[on, bit] : bits)
        if (on)
            s.Flags |= bit;
    s.Flags |= (dcb.fDtrControl & kControlMask) << kFlagDtrShift;
    s.Flags |= (dcb.fRtsControl & kControlMask) << kFlagRtsShift;
    s.XonLim = dcb.XonLim;
    s.XoffLim = dcb.XoffLim;
    s.ByteSize = dcb.ByteSize;
    s.Parity = dcb.Parity;
    s.StopBits = dcb.StopBits;
    s.XonChar = dcb.XonChar;
    s.XoffChar = dcb.XoffChar;
    s.ErrorChar = dcb.ErrorChar;
    s.EofChar = dcb.EofChar;
    s.EvtChar = dcb.EvtChar;
    return s;
}

// Every flag bit is written, so a flag the state does not set (abort on error included) ends
// up cleared; the reserved words keep what the port gave.
void StateToDcb(const LineState &s, DCB &dcb)
{
    const auto flag = [&s](std::uint32_t bit) -> DWORD { return (s.Flags & bit) != 0 ? 1 : 0; };
    dcb.BaudRate = s.BaudRate;
    dcb.fBinary = flag(kFlagBinary);
    dcb.fParity = flag(kFlagParity);
    dcb.fOutxCtsFlow = flag(kFlagOutxCtsFlow);
    dcb.fOutxDsrFlow = flag(kFlagOutxDsrFlow);
    dcb.fDtrControl = (s.Flags >> kFlagDtrShift) & kControlMask;
    dcb.fDsrSensitivity = flag(kFlagDsrSensitivity);
    dcb.fTXContinueOnXoff = flag(kFlagTxContinueOnXoff);
    dcb.fOutX = flag(kFlagOutX);
    dcb.fInX = flag(kFlagInX);
    dcb.fErrorChar = flag(kFlagErrorChar);
    dcb.fNull = flag(kFlagNull);
    dcb.fRtsControl = (s.Flags >> kFlagRtsShift) & kControlMask;
    dcb.fAbortOnError = 0;
    dcb.fDummy2 = 0;
    dcb.XonLim = s.XonLim;
    dcb.XoffLim = s.XoffLim;
    dcb.ByteSize = s.ByteSize;
    dcb.Parity = s.Parity;
    dcb.StopBits = s.StopBits;
    dcb.XonChar = s.XonChar;
    dcb.XoffChar = s.XoffChar;
    dcb.ErrorChar = s.ErrorChar;
    dcb.EofChar = s.EofChar;
    dcb.EvtChar = s.EvtChar;
}

// One overlapped operation of the port's own, at a fixed address while the port lives.
struct Operation
{
    OVERLAPPED overlapped{};
    bool pending = false;
};

class Win32Port final : public Port
{
public:
    explicit Win32Port(HANDLE h);
    ~Win32Port() override;
    bool Ready() const { return stopEvent && readerWake && writerWake && Events(); }

    bool IsCommHandle() override { return ::GetFileType(handle) == FILE_TYPE_CHAR; }
    bool Setup(std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return ::SetupComm(handle, inQueue, outQueue) != FALSE;
    }
    bool Purge(std::uint32_t flags) override { return ::PurgeComm(handle, flags) != FALSE; }
    bool GetState(LineState &state) override;
    bool SetState(const LineState &state) override;
    bool GetTimeouts(Timeouts &timeouts) override;
    bool SetTimeouts(const Timeouts &timeouts) override;
    void SetEventMask(std::uint32_t mask) override;
    void Stop() override;
    void WakeWriter() override { ::SetEvent(writerWake); }
    Result Next(char *buffer, std::uint32_t size) override;
    bool ClearError(std::uint32_t &errors) override;
    void EndReader() override;
    Result Write(const char *data, std::uint32_t size) override;
    Result WaitForWriterWork() override;

private:
    bool Events() const
    {
        return read.overlapped.hEvent && wait.overlapped.hEvent && write.overlapped.hEvent;
    }
    // Result of the call that started `op`, or of its completion (`done`, `count`). The count
    // is taken by reference: it is read only once the call that fills it has run.
    Result Finished(Operation &op, BOOL done, const DWORD &count);
    void Cancel(Operation &op);

    HANDLE handle;
    HANDLE stopEvent;  // manual reset: every wait sees it once set
    HANDLE readerWake; // auto reset: the event mask changed
    HANDLE writerWake; // auto reset: a block was queued
    std::atomic<std::uint32_t> wantedMask{0};
    // The reader's own.
    Operation read, wait;
    DWORD waitBits = 0;     // filled by the system for a line-event wait
    DWORD maskInForce = 0;  // as last given to SetCommMask
    bool lineEvents = true; // false once the device said it has none
    // The writer's own.
    Operation write;
};

HANDLE NewEvent(bool manualReset)
{
    return ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

Win32Port::Win32Port(HANDLE h)
    : handle(h), stopEvent(NewEvent(true)), readerWake(NewEvent(false)), writerWake(NewEvent(false))
{
    for (Operation *op : {&read, &wait, &write})
        op->overlapped.hEvent = NewEvent(true);
}

Win32Port::~Win32Port()
{
    for (Operation *op : {&read, &wait, &write})
        Cancel(*op);
    ::CloseHandle(handle);
    for (HANDLE h : {stopEvent, readerWake, writerWake, read.overlapped.hEvent,
                     wait.overlapped.hEvent, write.overlapped.hEvent})
        if (h)
            ::CloseHandle(h);
}

Result Win32Port::Finished(Operation &op, BOOL done, const DWORD &count)
{
    const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
    op.pending = error == ERROR_IO_PENDING;
    if (op.pending)
        return {Result::Bytes};
    // A read or write that ran into its time-out has completed with what it moved (the system
    // reports that as a time-out status).
    if (error == ERROR_TIMEOUT && &op != &wait)
        return {Result::Bytes, static_cast<std::uint32_t>(op.overlapped.InternalHigh)};
    if (error != ERROR_SUCCESS)
        return {Result::Failed, error};
    return &op == &wait ? Result{Result::Events, waitBits} : Result{Result::Bytes, count};
}

void Win32Port::Cancel(Operation &op)
{
    if (!op.pending)
        return;
    ::CancelIoEx(handle, &op.overlapped);
    DWORD count = 0;
    ::GetOverlappedResult(handle, &op.overlapped, &count, TRUE); // it has let go of the buffer
    op.pending = false;
}

bool Win32Port::GetState(LineState &state)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(handle, &dcb))
        return false;
    state = StateFromDcb(dcb);
    return true;
}

bool Win32Port::SetState(const LineState &state)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle, &dcb);
    StateToDcb(state, dcb);
    return ::SetCommState(handle, &dcb) != FALSE;
}

bool Win32Port::GetTimeouts(Timeouts &value)
{
    COMMTIMEOUTS t{};
    if (!::GetCommTimeouts(handle, &t))
        return false;
    value = {t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
             t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    return true;
}

bool Win32Port::SetTimeouts(const Timeouts &value)
{
    COMMTIMEOUTS t{};
    ::GetCommTimeouts(handle, &t);
    t.ReadIntervalTimeout = value.ReadIntervalTimeout;
    t.ReadTotalTimeoutMultiplier = value.ReadTotalTimeoutMultiplier;
    t.ReadTotalTimeoutConstant = value.ReadTotalTimeoutConstant;
    t.WriteTotalTimeoutMultiplier = value.WriteTotalTimeoutMultiplier;
    t.WriteTotalTimeoutConstant = value.WriteTotalTimeoutConstant;
    return ::SetCommTimeouts(handle, &t) != FALSE;
}

// The reader gives the mask to the system itself, between its waits.
void Win32Port::SetEventMask(std::uint32_t mask)
{
    wantedMask = mask;
    ::SetEvent(readerWake);
}

void Win32Port::Stop()
{
    stopped = true;
    ::SetEvent(stopEvent);
}

Result Win32Port::Next(char *buffer, std::uint32_t size)
{
    for (;;) {
        if (stopped)
            return {Result::Stopped};
        const DWORD mask = lineEvents ? wantedMask.load() : 0;
        if (mask != maskInForce) {
            ::SetCommMask(handle, mask); // a wait pending completes with no bits
            maskInForce = mask;
        }
        if (!wait.pending && mask != 0) {
            waitBits = 0;
            const Result r =
                Finished(wait, ::WaitCommEvent(handle, &waitBits, &wait.overlapped), 0);
            lineEvents = !NoLineEvents(r);
            if (lineEvents && r.kind != Result::Bytes && (r.kind != Result::Events || r.value != 0))
                return r;
            if (lineEvents && !wait.pending)
                continue; // ended at once with no bits (a new mask): wait again
        }
        if (!read.pending) {
            DWORD count = 0;
            const Result r =
                Finished(read, ::ReadFile(handle, buffer, size, &count, &read.overlapped), count);
            if (!read.pending)
                return r;
        }
        // The stop first, so that it wins; a line event before data, as the system orders them.
        HANDLE handles[4] = {stopEvent, readerWake, wait.overlapped.hEvent, read.overlapped.hEvent};
        DWORD count = 4;
        if (!wait.pending) {
            handles[2] = read.overlapped.hEvent;
            count = 3;
        }
        const DWORD woken =
            ::WaitForMultipleObjects(count, handles, FALSE, INFINITE) - WAIT_OBJECT_0;
        if (woken < 2)
            continue;
        if (woken >= count)
            return {Result::Failed, ::GetLastError()};
        Operation &op = handles[woken] == read.overlapped.hEvent ? read : wait;
        DWORD moved = 0;
        const Result r =
            Finished(op, ::GetOverlappedResult(handle, &op.overlapped, &moved, FALSE), moved);
        if (&op == &wait && NoLineEvents(r))
            lineEvents = false;
        else if (&op == &read || r.kind != Result::Events || r.value != 0)
            return r;
    }
}

bool Win32Port::ClearError(std::uint32_t &errors)
{
    DWORD flags = 0;
    if (!::ClearCommError(handle, &flags, nullptr))
        return false;
    errors = flags;
    return true;
}

void Win32Port::EndReader()
{
    Cancel(read);
    Cancel(wait);
    ::PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR);
}

Result Win32Port::Write(const char *data, std::uint32_t size)
{
    if (stopped)
        return {Result::Stopped};
    DWORD count = 0;
    Result r = Finished(write, ::WriteFile(handle, data, size, &count, &write.overlapped), count);
    if (!write.pending)
        return r;
    const HANDLE handles[] = {stopEvent, write.overlapped.hEvent};
    const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1)
        return Finished(write, ::GetOverlappedResult(handle, &write.overlapped, &count, FALSE),
                        count);
    const DWORD error = ::GetLastError();
    Cancel(write);
    return woken == WAIT_OBJECT_0 ? Result{Result::Stopped} : Result{Result::Failed, error};
}

Result Win32Port::WaitForWriterWork()
{
    const HANDLE handles[] = {stopEvent, writerWake};
    const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1)
        return {Result::Bytes};
    return woken == WAIT_OBJECT_0 ? Result{Result::Stopped}
                                  : Result{Result::Failed, ::GetLastError()};
}

OpenFailureKind KindOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return OpenFailureKind::NoSuchDevice;
    case ERROR_ACCESS_DENIED:
        return OpenFailureKind::AccessDenied; // also what an open held by another program gives
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenFailureKind::Busy;
    default:
        return OpenFailureKind::Other;
    }
}

std::string SystemText(DWORD error)
{
    char text[512] = {};
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, text, sizeof text, nullptr);
    std::string s(text, n);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s.empty() ? "error " + std::to_string(error) : s;
}

} // namespace

// The system knows its ports by name already.
std::string PlatformDeviceName(const std::string &name)
{
    return name;
}

std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure)
{
    if (failure != nullptr)
        *failure = {};
    const std::string prefix = kDevicePrefix;
    std::string name = deviceName;
    if (name.rfind(prefix, 0) == 0)
        name.erase(0, prefix.size());
    if (IsNetworkDevice(name)) {
        if (failure != nullptr)
            *failure = {OpenFailureKind::Other, name,
                        "network ports are not built into the Windows version"};
        return nullptr;
    }
    const std::string resolved = ResolveDevice(name);
    // A resolver may give a full device path of its own.
    const std::string path = resolved.rfind("\\\\", 0) == 0 ? resolved : prefix + resolved;
    const HANDLE h =
        resolved.empty()
            ? INVALID_HANDLE_VALUE
            : ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    DWORD error = resolved.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError();
    std::unique_ptr<Win32Port> port;
    if (h != INVALID_HANDLE_VALUE) {
        port = std::make_unique<Win32Port>(h);
        if (!port->Ready()) {
            // A later call may have cleared the failed one's code: the port is not open all the
            // same.
            error = ::GetLastError();
            error = error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY;
            port.reset();
        }
    }
    if (failure != nullptr)
        *failure = {port ? OpenFailureKind::None : KindOf(error), path,
                    port ? "" : SystemText(error)};
    return port;
}

void ApplyPriorityToCurrentThread(ThreadPriority priority)
{
    const int level = priority == ThreadPriority::Highest       ? THREAD_PRIORITY_HIGHEST
                      : priority == ThreadPriority::AboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL
                                                                : THREAD_PRIORITY_NORMAL;
    ::SetThreadPriority(::GetCurrentThread(), level);
}

} // namespace port
