#pragma once
// ModuleSession: the one door to a module. It owns the link (and through it the serial
// component), opens a port by the name a user gives and says why it could not, and does the
// steps a user takes: identify, read the record, set it, restore the defaults, set the volume,
// close. The window and the command line call these steps and show the results their own way,
// so no step shows anything.
//
// For a window it also owns the connection's life: OPEN/CLOSE as a click means it, the presence
// watch (`Timer1`, identifying every 2 s while connected, closing the port when the module has
// gone), a CLOSE clicked during an operation (carried out once the operation has ended) and the
// window's close during one (the program ends once it has unwound). It holds each fact once and
// says when what a window shows of it changed (`ViewChanged`); a window draws View().
//
// The link's re-entry rule holds here too: while an exchange runs (the link processes events
// while it waits, so a click or a timer tick can call in), every step refuses at once with
// Busy and sends nothing.

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "protocol/Commands.h"
#include "protocol/ParamRecord.h"
#include "serial/SerialPorts.h"

class QTimer;
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
};

struct OpenResult : IdentifyResult
{
    std::string device;        // where the name led: a device path or a network port
    port::OpenFailure failure; // why, when the result is NoPort
};

struct ReadResult
{
    StepResult result = StepResult::NoReply;
    // The reply as the link gives it: a short reply leaves zero bytes behind it.
    ParamRecord record;
    std::size_t received = 0; // the reply's bytes as they came, its end bytes included
};

// What a window shows of the connection.
struct ConnectionView
{
    bool portOpen = false;    // "CLOSE", the light green, the port list locked
    bool deviceFound = false; // the last identify got a reply: "Device Found!"
    bool editing = false;     // the editing groups are enabled: found over an open port
    IdentifyReply identity;   // of the last module found; kept when it goes
};

class ModuleSession : public QObject
{
    Q_OBJECT

public:
    explicit ModuleSession(QObject *parent = nullptr);
    ~ModuleSession() override;
    ModuleSession(const ModuleSession &) = delete;
    ModuleSession &operator=(const ModuleSession &) = delete;

    // ---- Steps -----------------------------------------------------------------------------
    // Opens the port named as a user names it: "COM3" (where the user's port map, /dev/COMn or
    // /dev/ttyS leads it), a device path such as "/dev/ttyUSB0", or a network port. True only if
    // it is open afterwards; else OpenFailure() says why. A port already open is closed first.
    bool OpenPort(const std::string &portName);
    // The port, a moment for the line to settle, then identify.
    OpenResult Open(const std::string &portName);
    void Close();
    bool PortIsOpen() const;
    bool Busy() const;

    // Any reply at all identifies the module.
    IdentifyResult Identify();
    ReadResult Read();
    StepResult Set(const SetCommandValues &values);
    StepResult RestoreDefaults();
    StepResult SetVolume(const std::string &volumeText);

    // How long each step waits for the module's reply; about half a second unless set.
    void SetReplyWait(int milliseconds);

    // Runs when a handler of the serial component's events throws (on the GUI thread).
    void SetOnHandlerError(std::function<void(const std::exception &)> handler);

    // Every byte handed to the port (sent) and received, as it passes the link; for a trace.
    using Trace = std::function<void(bool sent, std::string_view bytes)>;
    void SetTrace(Trace hook);

    // ---- The connection's life, for a window ----------------------------------------------
    ConnectionView View() const;

    // What the OPEN/CLOSE button did, for what the window does next.
    enum class Click
    {
        Busy,             // OPEN while an exchange runs: nothing happened
        OpenFailed,       // the port could not be opened: OpenFailure() says why
        NotFound,         // opened, but nothing answered
        Found,            // opened and identified, the watch started: the window reads it
        CloseLater,       // CLOSE during an exchange: carried out when the operation ends
        Closed,           // the port is closed
        ClosedAfterFound, // closed, the watch stopped, the module no longer shown as found
        WindowClosed,     // the window was closed meanwhile: nothing more starts
    };
    Click OpenOrCloseClicked(const std::string &portName);
    // Why the last OpenPort failed.
    const port::OpenFailure &OpenFailure() const { return openFailure; }

    // Marks an operation that talks to the module (or shows its outcome) for its lifetime.
    // When the outermost ends, a CLOSE clicked meanwhile falls due (CloseDue) and a window
    // closed meanwhile ends the program (QuitDue), both from the event loop.
    class Operation
    {
    public:
        explicit Operation(ModuleSession &session);
        ~Operation();
        Operation(const Operation &) = delete;
        Operation &operator=(const Operation &) = delete;

    private:
        ModuleSession &session;
    };
    bool OperationRunning() const { return operationsRunning > 0; }

    // The window is being closed. True if an operation runs: the watch stops, the operation
    // shows nothing more, and QuitDue follows once it has unwound.
    bool WindowClosed();
    bool Closing() const { return closing; }

signals:
    void ViewChanged();
    void CloseDue();
    void QuitDue();

private:
    friend struct SessionSeam; // tests reach the link through it

    StepResult Exchange(const std::string &command);
    StepResult ExchangeExpectingOk(const std::string &command);

    // The presence watch's tick: identifies over an open port with no exchange running, and
    // closes the port when a module that was found is gone.
    void Timer1Timer();
    // Identifies and shows the outcome; true when a module that was found is gone.
    bool DetectDevice();
    // Closes the port and shows it, unless an exchange is running.
    void DisconnectPort();
    void OperationEnded();

    std::unique_ptr<TKVComm> link;
    QTimer *Timer1; // the presence watch, a child of the session
    bool deviceFound = false;
    IdentifyReply identity;
    port::OpenFailure openFailure;
    std::string openedDevice; // where the last OpenPort's name led
    bool closePending = false;
    bool closing = false;
    int operationsRunning = 0;
};

// A short phrase for messages: "the module did not answer".
const char *Describe(StepResult result);
