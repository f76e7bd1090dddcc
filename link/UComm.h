#pragma once
// TKVComm: a blocking request/response service over the event-driven serial component.
//
// The module session owns exactly one TKVComm for its whole life (the window's session, or each
// of nmct-cli's ports' sessions); the TKVComm owns its TComm. Everything here runs on the
// thread that made it (for the window, the GUI thread): SendCommand waits for the reply by polling,
// and while it waits it lets Qt process all pending events. That processing is what delivers
// the reply (TComm raises OnReceiveData from posted events), and it also runs the user's clicks
// and the presence timer, so re-entry is normal here: Busy() is the only guard against it.

#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/ParamRecord.h"
#include "serial/SerialPorts.h"

class TComm;

class TKVComm
{
public:
    // The reply wait: this many checks, CheckIntervalMs apart, about half a second.
    static constexpr int ReplyChecks = 51;
    static constexpr int CheckIntervalMs = 10;
    static constexpr std::uint16_t InputLen = 340;

    TKVComm();
    ~TKVComm();
    TKVComm(const TKVComm &) = delete;
    TKVComm &operator=(const TKVComm &) = delete;

    // True only when the port is open afterwards; the component's error text is not shown.
    bool OpenPort(int portNumber);
    // The same for a port name: "COM3", or a device path such as "/dev/ttyUSB0".
    bool OpenPort(const std::string &portName);
    void ClosePort();
    bool PortIsOpen() const;

    // Sends the text and waits about half a second for a reply; true if one arrived.
    // Returns false at once, sending nothing, while another exchange is running.
    bool SendCommand(const std::string &text);
    // A longer (or shorter) wait for slow modules and slow links: `milliseconds` rounded up to
    // whole checks, at least one. The window keeps ReplyChecks.
    void SetReplyWait(int milliseconds);
    bool Busy() const { return busy; }

    // The last reply, without its last two bytes. Both leave their argument as it was (text)
    // or zero-filled (record) when no reply or an empty one arrived.
    void GetReplyText(std::string &text) const;
    void GetReplyRecord(ParamRecord &record) const;
    // How many bytes the last reply came in, its end bytes included; 0 when none arrived.
    std::size_t ReplyBytes() const { return received ? replyBytes : 0; }

    // The component's OnReceiveData handler. While a command's fence has not passed, the
    // chunk was read from the line before the command was handed over: no reply, dropped.
    void CommReceiveData(TComm *sender, const char *buffer, std::uint16_t bufferLength);

    TComm &Comm() { return *comm; }
    // Why the last OpenPort failed, in the system's terms.
    const port::OpenFailure &LastOpenFailure() const;
    // Runs when a handler of the component's events throws (on the GUI thread).
    void SetOnHandlerError(std::function<void(const std::exception &)> handler);

    // Sees every command as it is handed to the port (sent true) and every chunk received,
    // fenced or not; for a trace of the line.
    using Trace = std::function<void(bool sent, std::string_view bytes)>;
    void SetTrace(Trace hook) { trace = std::move(hook); }

private:
    bool StartPort();
    bool HasReply() const { return received && replyLength != 0; }

    std::unique_ptr<TComm> comm;
    // Receives the fence posted behind the chunks already waiting when a command starts.
    QObject fence;
    unsigned command = 0;
    int replyChecks = ReplyChecks;
    bool fencePassed = true;
    bool busy = false;
    bool received = false;
    std::array<char, 342> replyBuffer{};
    int replyLength = 0;
    std::size_t replyBytes = 0;
    Trace trace;
};
