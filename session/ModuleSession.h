#pragma once
// ModuleSession: the one door to a module. It owns the link (and through it the serial
// component), opens a port by the name a user gives and says why it could not, does the steps
// a user takes — identify, read the record, set it, restore the defaults, set the volume,
// close — and keeps the connection's state (ConnectionState). The window and the command line
// call these steps and show the results their own way, so no step shows anything.
//
// The link's re-entry rule holds here too: while an exchange runs (the link processes events
// while it waits, so a click or a timer tick can call in), every step refuses at once with
// Busy and sends nothing.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/Commands.h"
#include "protocol/ParamRecord.h"
#include "serial/SerialPorts.h"
#include "session/ConnectionState.h"

class TKVComm;

enum class StepResult
{
    Ok,
    Busy,    // another exchange is running; nothing was sent
    NoPort,  // the port could not be opened
    NoReply, // nothing came back in time (or the port is closed)
    Refused, // a reply came, but not "OK"
};

struct IdentifyResult
{
    StepResult result = StepResult::NoReply;
    IdentifyReply identity;
    bool lost = false; // a module that was found answers no more: its port is to be closed
};

struct OpenResult : IdentifyResult
{
    port::OpenFailure failure; // why, when the result is NoPort
};

struct ReadResult
{
    StepResult result = StepResult::NoReply;
    // The reply as the link gives it: a short reply leaves zero bytes behind it.
    ParamRecord record;
    std::size_t received = 0; // the reply's bytes as they came, its end bytes included
};

class ModuleSession
{
public:
    ModuleSession();
    ~ModuleSession();
    ModuleSession(const ModuleSession &) = delete;
    ModuleSession &operator=(const ModuleSession &) = delete;

    // Opens the port named as a user names it: "COM3", or a device path such as
    // "/dev/ttyUSB0". True only if it is open afterwards. A port already open is closed first.
    bool OpenPort(const std::string &portName);
    // OPEN as the user means it: the port, a moment for the line to settle, then identify.
    // `portOpen` runs as soon as the port is open, before the pause (the window shows the open
    // port there, as the identify may take half a second).
    OpenResult Open(const std::string &portName, const std::function<void()> &portOpen = {});
    void Close();
    bool PortIsOpen() const;
    bool Busy() const;

    // Any reply at all identifies the module.
    IdentifyResult Identify();
    ReadResult Read();
    StepResult Set(const SetCommandValues &values);
    StepResult RestoreDefaults();
    StepResult SetVolume(const std::string &volumeText);

    // Where the connection stands; the session moves it on OPEN, identify and close, the front
    // end on its clicks and operations.
    ConnectionState &Connection() { return connection; }
    const ConnectionState &Connection() const { return connection; }

    // Runs when a handler of the serial component's events throws (on the GUI thread).
    void SetOnHandlerError(std::function<void(const std::exception &)> handler);

    // Every byte handed to the port (sent) and received, as it passes the link; for a trace.
    using Trace = std::function<void(bool sent, std::string_view bytes)>;
    void SetTrace(Trace hook);

    // The link, for tests and benchmarks that watch or feed its traffic.
    TKVComm &Link() { return *link; }

private:
    IdentifyResult AskIdentity();
    StepResult Exchange(const std::string &command);
    StepResult ExchangeExpectingOk(const std::string &command);

    std::unique_ptr<TKVComm> link;
    ConnectionState connection;
};

// A short phrase for messages: "the module did not answer".
const char *Describe(StepResult result);
