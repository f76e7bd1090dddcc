// The port layer on Windows: the Win32 serial, event and wait calls themselves.
//
// Each Overlapped record the threads use gets a native OVERLAPPED of the port's own, kept at a
// fixed address from the first call on the record until the record goes, so that the system
// can complete into it; the record's event is the OVERLAPPED's event. A record is cancelled and
// waited for before its native part is freed, so the system never writes into freed memory.
#include "serial/platform/win32/Win32.h"

#include <map>
#include <utility>
#include <vector>

namespace port {

namespace {

const char *const kDevicePrefix = "\\\\.\\";

// The line-event wait of a device that has no line events to give: virtual and emulated ports
// answer the request as an unknown or unsupported function.
bool MeansNotSupported(DWORD error)
{
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
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

class Win32Port final : public Port
{
public:
    explicit Win32Port(HANDLE h) : handle(h) {}
    ~Win32Port() override;

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
    bool SetMask(std::uint32_t mask) override { return ::SetCommMask(handle, mask) != FALSE; }

    IoResult WaitEvent(std::uint32_t &mask, Overlapped &record) override;
    IoResult Read(char *buffer, std::uint32_t size, Overlapped &record) override;
    IoResult Write(const char *data, std::uint32_t size, Overlapped &record) override;
    IoResult GetResult(Overlapped &record, bool wait) override;
    IoResult ClearError(std::uint32_t &errors) override;
    void Cancel(Overlapped &record) override;

private:
    enum class Kind
    {
        Event,
        Read,
        Write
    };
    // The native side of one record.
    struct Operation
    {
        OVERLAPPED overlapped{};
        Kind kind = Kind::Read;
        bool issued = false; // the system may still complete into `overlapped`
        DWORD eventMask = 0; // filled by the system for a line-event wait
        std::uint32_t *maskOut = nullptr;
    };

    Operation &Begin(Overlapped &record, Kind kind);
    IoResult Issued(Overlapped &record, Operation &op, BOOL done, DWORD count);
    IoResult Finished(Overlapped &record, Operation &op, std::uint32_t error, DWORD count);
    void Abandon(Operation &op);

    HANDLE handle;
    std::mutex mutex; // guards `operations`; each record is used by one thread at a time
    std::map<Overlapped *, std::unique_ptr<Operation>> operations;
};

Win32Port::~Win32Port()
{
    std::lock_guard lock(mutex);
    for (auto &[record, op] : operations) {
        Abandon(*op);
        record->UsedOn = nullptr; // a record outliving the port must not call back into it
    }
    operations.clear();
    ::CloseHandle(handle);
}

Win32Port::Operation &Win32Port::Begin(Overlapped &record, Kind kind)
{
    std::lock_guard lock(mutex);
    auto &slot = operations[&record];
    if (!slot)
        slot = std::make_unique<Operation>();
    record.UsedOn = this;
    record.Status = kErrorIoPending;
    record.Transferred = 0;
    Operation &op = *slot;
    op.overlapped = OVERLAPPED{};
    op.overlapped.hEvent = Native(record.event->WaitHandle());
    op.kind = kind;
    op.issued = false;
    op.maskOut = nullptr;
    return op;
}

// Result of the call that started an operation.
IoResult Win32Port::Issued(Overlapped &record, Operation &op, BOOL done, DWORD count)
{
    if (done) {
        op.issued = true;
        return Finished(record, op, kErrorSuccess, count);
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        op.issued = true;
        return {kErrorIoPending, 0};
    }
    return Finished(record, op, error, 0);
}

// A read or write that ran into its time-out has completed with what it moved (the system
// reports that as a time-out status); a line-event wait the device cannot do says so in one
// way whatever the driver answered.
IoResult Win32Port::Finished(Overlapped &record, Operation &op, std::uint32_t error, DWORD count)
{
    if (error == ERROR_TIMEOUT && op.kind != Kind::Event) {
        error = kErrorSuccess;
        count = static_cast<DWORD>(op.overlapped.InternalHigh);
    }
    if (op.kind == Kind::Event && MeansNotSupported(error))
        error = kErrorNotSupported;
    if (error == kErrorSuccess && op.kind == Kind::Event && op.maskOut != nullptr)
        *op.maskOut = op.eventMask;
    record.Status = error;
    record.Transferred = count;
    return {error, error == kErrorSuccess ? static_cast<std::uint32_t>(count) : 0};
}

void Win32Port::Abandon(Operation &op)
{
    if (!op.issued)
        return;
    ::CancelIoEx(handle, &op.overlapped);
    DWORD count = 0;
    ::GetOverlappedResult(handle, &op.overlapped, &count, TRUE); // it has let go of the buffer
    op.issued = false;
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

IoResult Win32Port::WaitEvent(std::uint32_t &mask, Overlapped &record)
{
    Operation &op = Begin(record, Kind::Event);
    op.eventMask = 0;
    op.maskOut = &mask;
    const BOOL done = ::WaitCommEvent(handle, &op.eventMask, &op.overlapped);
    return Issued(record, op, done, 0);
}

IoResult Win32Port::Read(char *buffer, std::uint32_t size, Overlapped &record)
{
    Operation &op = Begin(record, Kind::Read);
    DWORD count = 0;
    const BOOL done = ::ReadFile(handle, buffer, size, &count, &op.overlapped);
    return Issued(record, op, done, count);
}

IoResult Win32Port::Write(const char *data, std::uint32_t size, Overlapped &record)
{
    Operation &op = Begin(record, Kind::Write);
    DWORD count = 0;
    const BOOL done = ::WriteFile(handle, data, size, &count, &op.overlapped);
    return Issued(record, op, done, count);
}

IoResult Win32Port::GetResult(Overlapped &record, bool wait)
{
    Operation *op = nullptr;
    {
        std::lock_guard lock(mutex);
        const auto found = operations.find(&record);
        if (found != operations.end())
            op = found->second.get();
    }
    if (op == nullptr || !op->issued)
        return {record.Status, record.Transferred};
    DWORD count = 0;
    if (::GetOverlappedResult(handle, &op->overlapped, &count, wait ? TRUE : FALSE))
        return Finished(record, *op, kErrorSuccess, count);
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_INCOMPLETE)
        return {kErrorIoIncomplete, 0};
    return Finished(record, *op, error, count);
}

IoResult Win32Port::ClearError(std::uint32_t &errors)
{
    DWORD flags = 0;
    if (!::ClearCommError(handle, &flags, nullptr))
        return {static_cast<std::uint32_t>(::GetLastError()), 0};
    errors = flags;
    return {kErrorSuccess, 0};
}

void Win32Port::Cancel(Overlapped &record)
{
    std::unique_ptr<Operation> op;
    {
        std::lock_guard lock(mutex);
        const auto found = operations.find(&record);
        if (found == operations.end())
            return;
        op = std::move(found->second);
        operations.erase(found);
    }
    Abandon(*op);
    record.Status = kErrorOperationAborted;
}

} // namespace

// The system knows its ports by name already.
std::string PlatformDeviceName(const std::string &name)
{
    return name;
}

// Device Manager, not a folder, lists the adapters here.
std::vector<SerialAdapter> ListSerialAdapters(const std::string &)
{
    return {};
}

namespace {

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

std::unique_ptr<Port> OpenDevice(const std::string &deviceName, OpenFailure *failure)
{
    if (failure != nullptr)
        *failure = {};
    const std::string prefix = kDevicePrefix;
    std::string name = deviceName;
    if (name.rfind(prefix, 0) == 0)
        name.erase(0, prefix.size());
    const std::string resolved = ResolveDevice(name);
    // A resolver may give a full device path of its own.
    const std::string path = resolved.rfind("\\\\", 0) == 0 ? resolved : prefix + resolved;
    const HANDLE h =
        resolved.empty()
            ? INVALID_HANDLE_VALUE
            : ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = resolved.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError();
        if (failure != nullptr)
            *failure = {KindOf(error), path, SystemText(error)};
        return nullptr;
    }
    if (failure != nullptr)
        failure->device = path;
    return std::make_unique<Win32Port>(h);
}

} // namespace port
