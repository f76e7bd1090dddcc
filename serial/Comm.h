#pragma once
// TComm: the serial port component.
//
// Owns, from each open to the following close, the port (whose stop is the close event) and
// the reader and writer threads (CommThreads.h); owns its notification object for its whole
// life. The threads share the port, the open's notification gate and the idle flag with it, so
// a thread a stop has to leave running keeps them. All public calls and all five events belong
// to the thread that constructed it: the threads post notifications to the notification
// object, and the events are raised from that thread's event loop in posting order, never from
// inside a call of this class, and never for an open that a later one has replaced. A setter of
// a line setting or time-out re-applies the whole group to an open port when the value
// changes.

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "serial/platform/Port.h"

class TComm;
class NotificationGate;
struct Notification;
class TReadThread;
class TWriteThread;

enum class TParity
{
    None,
    Odd,
    Even,
    Mark,
    Space
};
enum class TStopBits
{
    _1,
    _1_5,
    _2
};
enum class TByteSize
{
    _5,
    _6,
    _7,
    _8
};
enum class TDtrControl
{
    DtrEnable,
    DtrDisable,
    DtrHandshake
};
enum class TRtsControl
{
    RtsEnable,
    RtsDisable,
    RtsHandshake,
    RtsTransmissionAvailable
};

using TReceiveDataEvent =
    std::function<void(TComm *sender, const char *buffer, std::uint16_t bufferLength)>;
using TReceiveErrorEvent = std::function<void(TComm *sender, std::uint32_t eventMask)>;
using TModemStateChangeEvent = std::function<void(TComm *sender, std::uint32_t modemEvent)>;
using TSendDataEmptyEvent = std::function<void(TComm *sender)>;
using TNotifyEvent = std::function<void(TComm *sender)>;
using THandlerErrorEvent = std::function<void(const std::exception &error)>;

class ECommsError : public std::runtime_error
{
public:
    using runtime_error::runtime_error;
};

class TComm : public QObject
{
    Q_OBJECT

public:
    explicit TComm(QObject *owner = nullptr);
    ~TComm() override; // stops an open port first

    bool PortOpen() const { return portHandle != nullptr; }
    void SetPortOpen(bool open);
    std::uint8_t CommPort() const { return commPort; }
    void SetCommPort(std::uint8_t port);
    const std::string &PortOpenError() const { return portOpenError; }
    // The system's reason when the last StartPort could not open the device; cleared by an open
    // that succeeds.
    const port::OpenFailure &LastOpenFailure() const { return lastOpenFailure; }
    const std::string &Output() const { return output; }
    // Stores the text as Output, then sends it; false when nothing was sent (port closed, empty
    // text, or longer than the 65,535 bytes one hand-over carries: refused whole, never cut).
    bool SendOutput(const std::string &text);
    std::uint16_t InputLen() const { return inputLen; }
    void SetInputLen(std::uint16_t length);
    std::uint16_t InBufferSize() const { return inBufferSize; }
    void SetInBufferSize(std::uint16_t size);
    const std::string &CommName() const { return commName; }
    void SetCommName(const std::string &name) { commName = name; }

    // Line settings.
    std::uint32_t BaudRate() const { return baudRate; }
    void SetBaudRate(std::uint32_t v) { SetLine(baudRate, v); }
    bool ParityCheck() const { return parityCheck; }
    void SetParityCheck(bool v) { SetLine(parityCheck, v); }
    bool Outx_CtsFlow() const { return outxCtsFlow; }
    void SetOutx_CtsFlow(bool v) { SetLine(outxCtsFlow, v); }
    bool Outx_DsrFlow() const { return outxDsrFlow; }
    void SetOutx_DsrFlow(bool v) { SetLine(outxDsrFlow, v); }
    TDtrControl DtrControl() const { return dtrControl; }
    void SetDtrControl(TDtrControl v) { SetLine(dtrControl, v); }
    bool DsrSensitivity() const { return dsrSensitivity; }
    void SetDsrSensitivity(bool v) { SetLine(dsrSensitivity, v); }
    bool TxContinueOnXoff() const { return txContinueOnXoff; }
    void SetTxContinueOnXoff(bool v) { SetLine(txContinueOnXoff, v); }
    bool Outx_XonXoffFlow() const { return outxXonXoffFlow; }
    void SetOutx_XonXoffFlow(bool v) { SetLine(outxXonXoffFlow, v); }
    bool Inx_XonXoffFlow() const { return inxXonXoffFlow; }
    void SetInx_XonXoffFlow(bool v) { SetLine(inxXonXoffFlow, v); }
    bool ReplaceWhenParityError() const { return replaceWhenParityError; }
    void SetReplaceWhenParityError(bool v) { SetLine(replaceWhenParityError, v); }
    bool IgnoreNullChar() const { return ignoreNullChar; }
    void SetIgnoreNullChar(bool v) { SetLine(ignoreNullChar, v); }
    TRtsControl RtsControl() const { return rtsControl; }
    void SetRtsControl(TRtsControl v) { SetLine(rtsControl, v); }
    std::uint16_t XonLimit() const { return xonLimit; }
    void SetXonLimit(std::uint16_t v) { SetLine(xonLimit, v); }
    std::uint16_t XoffLimit() const { return xoffLimit; }
    void SetXoffLimit(std::uint16_t v) { SetLine(xoffLimit, v); }
    TByteSize ByteSize() const { return byteSize; }
    void SetByteSize(TByteSize v) { SetLine(byteSize, v); }
    TParity Parity() const { return parity; }
    void SetParity(TParity v) { SetLine(parity, v); }
    TStopBits StopBits() const { return stopBits; }
    void SetStopBits(TStopBits v) { SetLine(stopBits, v); }
    char XonChar() const { return xonChar; }
    void SetXonChar(char v) { SetLine(xonChar, v); }
    char XoffChar() const { return xoffChar; }
    void SetXoffChar(char v) { SetLine(xoffChar, v); }
    char ReplacedChar() const { return replacedChar; }
    void SetReplacedChar(char v) { SetLine(replacedChar, v); }

    // Time-outs, in milliseconds.
    std::uint32_t ReadIntervalTimeout() const { return timeouts.ReadIntervalTimeout; }
    void SetReadIntervalTimeout(std::uint32_t v) { SetTimeout(timeouts.ReadIntervalTimeout, v); }
    std::uint32_t ReadTotalTimeoutMultiplier() const { return timeouts.ReadTotalTimeoutMultiplier; }
    void SetReadTotalTimeoutMultiplier(std::uint32_t v)
    {
        SetTimeout(timeouts.ReadTotalTimeoutMultiplier, v);
    }
    std::uint32_t ReadTotalTimeoutConstant() const { return timeouts.ReadTotalTimeoutConstant; }
    void SetReadTotalTimeoutConstant(std::uint32_t v)
    {
        SetTimeout(timeouts.ReadTotalTimeoutConstant, v);
    }
    std::uint32_t WriteTotalTimeoutMultiplier() const
    {
        return timeouts.WriteTotalTimeoutMultiplier;
    }
    void SetWriteTotalTimeoutMultiplier(std::uint32_t v)
    {
        SetTimeout(timeouts.WriteTotalTimeoutMultiplier, v);
    }
    std::uint32_t WriteTotalTimeoutConstant() const { return timeouts.WriteTotalTimeoutConstant; }
    void SetWriteTotalTimeoutConstant(std::uint32_t v)
    {
        SetTimeout(timeouts.WriteTotalTimeoutConstant, v);
    }

    // Events, raised on the constructing thread only.
    void SetOnReceiveData(TReceiveDataEvent handler) { onReceiveData = std::move(handler); }
    void SetOnReceiveError(TReceiveErrorEvent handler) { onReceiveError = std::move(handler); }
    // The modem lines are watched only while this handler is set.
    void SetOnModemStateChange(TModemStateChangeEvent handler);
    void SetOnRequestHangup(TNotifyEvent handler) { onRequestHangup = std::move(handler); }
    void SetOnSendDataEmpty(TSendDataEmptyEvent handler) { onSendDataEmpty = std::move(handler); }
    // What happens to an exception thrown by an event handler; it never reaches Qt. The
    // default reports it with qCritical.
    void SetOnHandlerError(THandlerErrorEvent handler) { onHandlerError = std::move(handler); }

    // Throws ECommsError when the device cannot be opened or set up, or refuses the line
    // settings; other failures only set PortOpenError.
    void StartPort();
    void StopPort();
    bool SendData(const char *data, std::uint16_t length);

private:
    class Notifier;
    friend class Notifier;
    friend struct TCommSeams; // tests shorten the stop's bound

    // A setting the open line cannot take raises ECommsError and is not kept.
    template <typename T> void SetLine(T &field, T value)
    {
        if (field == value)
            return;
        const T previous = field;
        field = value;
        if (PortOpen() && !ApplyLineState()) {
            field = previous;
            RefuseLineState();
        }
    }
    [[noreturn]] static void RefuseLineState();
    void SetTimeout(std::uint32_t &field, std::uint32_t value);
    bool ApplyLineState();
    void ApplyTimeouts();
    std::uint32_t EventMask() const;
    void ClosePortHandle();
    void Dispatch(Notification &notification);

    std::unique_ptr<TReadThread> readThread;
    std::unique_ptr<TWriteThread> writeThread;
    std::shared_ptr<port::Port> portHandle;
    Notifier *notifier;                              // child object, lives as long as the component
    std::shared_ptr<NotificationGate> notifications; // the open's threads post through it
    std::shared_ptr<std::atomic<bool>> sendIdle;     // each open's own
    std::uint32_t openCount = 0;                     // marks each open's notifications
    std::uint32_t threadStopWaitMs = 10000;

    std::uint8_t commPort = 1;
    std::string portOpenError;
    port::OpenFailure lastOpenFailure;
    std::string output;
    std::uint16_t inBufferSize = 2048;
    std::uint16_t inputLen = 1;
    std::string commName = "COM1";
    std::uint32_t baudRate = 9600;
    bool parityCheck = false;
    bool outxCtsFlow = false;
    bool outxDsrFlow = false;
    TDtrControl dtrControl = TDtrControl::DtrDisable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool outxXonXoffFlow = false;
    bool inxXonXoffFlow = false;
    bool replaceWhenParityError = false;
    bool ignoreNullChar = false;
    TRtsControl rtsControl = TRtsControl::RtsDisable;
    std::uint16_t xonLimit = 500;
    std::uint16_t xoffLimit = 500;
    TByteSize byteSize = TByteSize::_8;
    TParity parity = TParity::None;
    TStopBits stopBits = TStopBits::_1;
    char xonChar = 17;
    char xoffChar = 19;
    char replacedChar = 0;
    port::Timeouts timeouts{100, 0, 0, 0, 0};

    TReceiveDataEvent onReceiveData;
    TNotifyEvent onRequestHangup;
    TReceiveErrorEvent onReceiveError;
    TModemStateChangeEvent onModemStateChange;
    TSendDataEmptyEvent onSendDataEmpty;
    THandlerErrorEvent onHandlerError;
};
