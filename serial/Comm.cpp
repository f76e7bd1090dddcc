#include "serial/Comm.h"

#include <QCoreApplication>
#include <QEvent>
#include <QtDebug>

#include <cstring>
#include <new>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

#include "serial/CommThreads.h"

namespace {

constexpr std::uint32_t kDriverQueueSize = 4096;
const char *const kDevicePrefix = "\\\\.\\";
const char *const kLineStateError = "Error setting serial port state";

const QEvent::Type kNotificationEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Qt's event queue hands the event over under a lock ThreadSanitizer cannot see inside the
// (uninstrumented) Qt library; these make that hand-over visible to it.
#if defined(__SANITIZE_THREAD__)
void HandOver(const void *object)
{
    __tsan_release(const_cast<void *>(object));
}
void TakeOver(const void *object)
{
    __tsan_acquire(const_cast<void *>(object));
}
#else
void HandOver(const void *) {}
void TakeOver(const void *) {}
#endif

// A notification in transit; if it is never delivered its block goes with it.
class NotificationEvent final : public QEvent
{
public:
    explicit NotificationEvent(Notification n)
        : QEvent(kNotificationEvent), notification(std::move(n))
    {}
    ~NotificationEvent() override { TakeOver(this); }
    Notification notification;
};

// The port is stopped. A thread that has not ended in time gets its termination request,
// which it looks at beside the stop, and as long again; one that still runs is left to end on
// its own, with what it holds, and false tells the caller to close the open's gate.
template <typename Thread> bool StopThread(std::unique_ptr<Thread> &thread, std::uint32_t waitMs)
{
    if (!thread->WaitFor(waitMs)) {
        thread->Terminate();
        if (!thread->WaitFor(waitMs)) {
            qCritical("A serial port thread did not end; it is left to end on its own");
            TThread::Abandon(std::move(thread));
            return false;
        }
    }
    thread.reset();
    return true;
}

} // namespace

// The hidden notification object: lives on the component's thread; the threads post to it.
class TComm::Notifier final : public QObject, public NotifyTarget
{
public:
    explicit Notifier(TComm *owner) : QObject(owner), owner(owner) {}

    bool Post(Notification notification) override
    {
        auto *event = new NotificationEvent(std::move(notification));
        HandOver(event);
        QCoreApplication::postEvent(this, event);
        return true;
    }

protected:
    bool event(QEvent *e) override
    {
        TakeOver(e);
        if (e->type() != kNotificationEvent)
            return QObject::event(e);
        auto &notification = static_cast<NotificationEvent *>(e)->notification;
        try {
            owner->Dispatch(notification);
        } catch (const std::exception &error) {
            ReportHandlerError(error);
        } catch (...) {
            ReportHandlerError(std::runtime_error("unknown exception in a serial event handler"));
        }
        notification.Block.reset();
        return true;
    }

private:
    void ReportHandlerError(const std::exception &error)
    {
        if (owner->onHandlerError) {
            try {
                owner->onHandlerError(error);
                return;
            } catch (...) {
            }
        }
        qCritical("Serial event handler failed: %s", error.what());
    }

    TComm *owner;
};

TComm::TComm(QObject *owner)
    : QObject(owner), notifier(new Notifier(this)),
      sendIdle(std::make_shared<std::atomic<bool>>(true))
{}

TComm::~TComm()
{
    if (PortOpen())
        StopPort();
    delete notifier; // drops notifications still queued, with their blocks
}

void TComm::SetPortOpen(bool open)
{
    if (open)
        StartPort();
    else
        StopPort();
}

void TComm::SetCommPort(std::uint8_t port)
{
    if (port == 0 || port == commPort)
        return;
    commPort = port;
    commName = "COM" + std::to_string(port);
}

bool TComm::SendOutput(const std::string &text)
{
    output = text;
    if (output.size() > UINT16_MAX)
        return false;
    return SendData(output.data(), static_cast<std::uint16_t>(output.size()));
}

void TComm::SetOnModemStateChange(TModemStateChangeEvent handler)
{
    onModemStateChange = std::move(handler);
    if (PortOpen())
        portHandle->SetEventMask(EventMask());
}

// Line errors always; the modem lines cost a look every few milliseconds, so only on demand.
std::uint32_t TComm::EventMask() const
{
    return port::kEvErr | (onModemStateChange ? port::kEvRlsd | port::kEvRing : 0);
}

void TComm::SetInputLen(std::uint16_t length)
{
    if (length == 0)
        inputLen = inBufferSize;
    else if (length <= inBufferSize)
        inputLen = length;
}

void TComm::SetInBufferSize(std::uint16_t size)
{
    inBufferSize = size == 0 ? 1 : size;
    // A read must never ask for more than the buffer holds.
    if (inputLen > inBufferSize)
        inputLen = inBufferSize;
}

void TComm::SetTimeout(std::uint32_t &field, std::uint32_t value)
{
    if (field == value)
        return;
    field = value;
    if (PortOpen())
        ApplyTimeouts();
}

// The five fields are all the port keeps, so there is nothing of its own to read first.
void TComm::ApplyTimeouts()
{
    portHandle->SetTimeouts(timeouts);
}

void TComm::RefuseLineState()
{
    throw ECommsError(kLineStateError);
}

// False when the port refuses the state; it keeps the one in force.
bool TComm::ApplyLineState()
{
    port::LineState s;
    portHandle->GetState(s); // keeps the fields not set here
    s.BaudRate = baudRate;
    std::uint32_t flags = port::kFlagBinary;
    const std::pair<bool, std::uint32_t> bits[] = {
        {parityCheck, port::kFlagParity},
        {outxCtsFlow, port::kFlagOutxCtsFlow},
        {outxDsrFlow, port::kFlagOutxDsrFlow},
        {dsrSensitivity, port::kFlagDsrSensitivity},
        {txContinueOnXoff, port::kFlagTxContinueOnXoff},
        {outxXonXoffFlow, port::kFlagOutX},
        {inxXonXoffFlow, port::kFlagInX},
        {replaceWhenParityError, port::kFlagErrorChar},
        {ignoreNullChar, port::kFlagNull},
    };
    for (const auto &[on, bit] : bits)
        if (on)
            flags |= bit;
    static constexpr std::uint32_t kDtrCodes[] = {1, 0, 2}; // enable, disable, handshake
    static constexpr std::uint32_t kRtsCodes[] = {1, 0, 2, 3};
    flags |= kDtrCodes[static_cast<int>(dtrControl)] << port::kFlagDtrShift;
    flags |= kRtsCodes[static_cast<int>(rtsControl)] << port::kFlagRtsShift;
    s.Flags = flags;
    s.XonLim = xonLimit;
    s.XoffLim = xoffLimit;
    s.ByteSize = static_cast<std::uint8_t>(static_cast<int>(byteSize) + 5);
    s.Parity = static_cast<std::uint8_t>(parity);
    s.StopBits = static_cast<std::uint8_t>(stopBits);
    s.XonChar = xonChar;
    s.XoffChar = xoffChar;
    s.ErrorChar = replacedChar;
    return portHandle->SetState(s);
}

void TComm::ClosePortHandle()
{
    readThread.reset();
    writeThread.reset();
    notifications.reset();
    portHandle.reset();
}

void TComm::StartPort()
{
    portOpenError.clear();
    if (PortOpen()) {
        portOpenError = "This serial port already opened";
        return;
    }
    auto handle = port::OpenDevice(kDevicePrefix + commName, &lastOpenFailure);
    if (!handle) {
        portOpenError = "Error opening serial port";
        throw ECommsError(portOpenError);
    }
    if (!handle->IsCommHandle()) {
        lastOpenFailure.kind = port::OpenFailureKind::NotSerialDevice; // the device opened
        lastOpenFailure.systemText = "not a serial device";
        portOpenError = "File handle is not a comm handle ";
        return;
    }
    if (!handle->Setup(kDriverQueueSize, kDriverQueueSize)) {
        portOpenError = "Cannot setup comm buffer";
        throw ECommsError(portOpenError);
    }
    portHandle = std::move(handle);
    portHandle->Purge(port::kPurgeTxAbort | port::kPurgeRxAbort | port::kPurgeTxClear |
                      port::kPurgeRxClear);
    sendIdle = std::make_shared<std::atomic<bool>>(true);
    ApplyTimeouts();
    if (!ApplyLineState()) {
        portHandle.reset();
        lastOpenFailure.kind = port::OpenFailureKind::Other; // the device opened
        lastOpenFailure.systemText = "the device refused the line settings";
        portOpenError = kLineStateError;
        RefuseLineState();
    }
    portHandle->SetEventMask(EventMask());

    // From here on what an earlier open posted is not raised.
    notifications.reset(new (std::nothrow) NotificationGate(*notifier, ++openCount));
    if (!notifications) {
        ClosePortHandle();
        portOpenError = "Unable to create event";
        return;
    }
    try {
        readThread = std::make_unique<TReadThread>();
    } catch (const std::exception &) {
        ClosePortHandle();
        portOpenError = "Unable to create read thread";
        return;
    }
    readThread->PortHandle = portHandle;
    readThread->Notifications = notifications;
    readThread->ReadSize = inputLen;
    readThread->BufferSize = inBufferSize;
    readThread->SetPriority(port::ThreadPriority::Highest);
    try {
        writeThread = std::make_unique<TWriteThread>();
    } catch (const std::exception &) {
        portHandle->Stop();
        portHandle->Purge(port::kPurgeRxAbort | port::kPurgeRxClear);
        ClosePortHandle();
        portOpenError = "Unable to create write thread";
        return;
    }
    writeThread->PortHandle = portHandle;
    writeThread->Notifications = notifications;
    writeThread->SendIdleRef = sendIdle;
    writeThread->SetPriority(port::ThreadPriority::AboveNormal);

    // The system may refuse a thread only here; undo the open rather than stay half open.
    const bool readerStarted = readThread->Start();
    if (!readerStarted || !writeThread->Start()) {
        portHandle->Stop();
        portHandle->Purge(port::kPurgeTxAbort | port::kPurgeRxAbort | port::kPurgeTxClear |
                          port::kPurgeRxClear);
        ClosePortHandle();
        portOpenError =
            readerStarted ? "Unable to create write thread" : "Unable to create read thread";
    }
}

void TComm::StopPort()
{
    portOpenError.clear();
    if (!PortOpen())
        return;
    bool ended = true;
    if (readThread) {
        portHandle->Stop();
        portHandle->Purge(port::kPurgeRxAbort | port::kPurgeRxClear);
        ended = StopThread(readThread, threadStopWaitMs);
    }
    if (writeThread) {
        portHandle->Stop();
        portHandle->Purge(port::kPurgeTxAbort | port::kPurgeTxClear);
        *sendIdle = true;
        ended = StopThread(writeThread, threadStopWaitMs) && ended;
    }
    // A thread left running keeps what it shares with the component; what it posts from now on
    // is dropped, and the port goes when it ends.
    if (!ended)
        notifications->Close();
    notifications.reset();
    portHandle.reset();
}

bool TComm::SendData(const char *data, std::uint16_t length)
{
    if (!writeThread || length == 0)
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[length + 1]());
    if (!block)
        return false;
    std::memcpy(block.get(), data, length);
    // Cleared before the hand-over, so the writer's "idle" after this block is the last word.
    const bool wasIdle = sendIdle->exchange(false);
    if (!writeThread->PostRequestWrite(std::move(block), length)) {
        *sendIdle = wasIdle;
        return false;
    }
    return true;
}

void TComm::Dispatch(Notification &n)
{
    if (n.Open != openCount)
        return; // from an open a later one has replaced
    switch (n.Id) {
    case kNotifyReceiveData:
        if (onReceiveData && n.Block)
            onReceiveData(this, n.Block.get(), static_cast<std::uint16_t>(n.WParam & 0xFFFF));
        break;
    case kNotifyReceiveError:
        if (onReceiveError)
            onReceiveError(this, n.LParam);
        break;
    case kNotifyRequestHangup:
        if (onRequestHangup)
            onRequestHangup(this);
        break;
    case kNotifyModemStateChange:
        if (onModemStateChange)
            onModemStateChange(this, n.LParam);
        break;
    case kNotifySendDataEmpty:
        if (onSendDataEmpty)
            onSendDataEmpty(this);
        break;
    default:
        break;
    }
}
