#include "session/ModuleSession.h"

#include <QThread>
#include <QTimer>

#include "link/UComm.h"
#include "session/PortMap.h"

namespace {

// The window waits as long between opening the port and the first command.
constexpr unsigned long SettleMs = 10;
constexpr int WatchIntervalMs = 2000;

} // namespace

ModuleSession::ModuleSession(QObject *parent)
    : QObject(parent), link(std::make_unique<TKVComm>()), Timer1(new QTimer(this))
{
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(WatchIntervalMs);
    connect(Timer1, &QTimer::timeout, this, &ModuleSession::Timer1Timer);
}

ModuleSession::~ModuleSession() = default;

void ModuleSession::SetOnHandlerError(std::function<void(const std::exception &)> handler)
{
    link->SetOnHandlerError(std::move(handler));
}

void ModuleSession::SetReplyWait(int milliseconds)
{
    link->SetReplyWait(milliseconds);
}

void ModuleSession::SetTrace(Trace hook)
{
    link->SetTrace(std::move(hook));
}

// ---- Steps ---------------------------------------------------------------------------------

bool ModuleSession::OpenPort(const std::string &portName)
{
    openedDevice.clear();
    const PortMap map = LoadPortMap();
    const PortRoute route = RoutePort(portName, map);
    if (route.via == PortRoute::Via::BrokenMap) {
        if (PortIsOpen())
            Close();
        openFailure = {port::OpenFailureKind::BadPortMap, route.target, map.errors.front()};
        return false;
    }
    openedDevice = route.target;
    // The system's own names are the serial layer's to resolve, as it always does.
    if (link->OpenPort(route.via == PortRoute::Via::Platform ? portName : route.target))
        return true;
    openFailure = link->LastOpenFailure();
    return false;
}

OpenResult ModuleSession::Open(const std::string &portName)
{
    OpenResult open;
    if (Busy()) {
        open.result = StepResult::Busy;
        return open;
    }
    const bool opened = OpenPort(portName);
    open.device = openedDevice;
    if (!opened) {
        open.result = StepResult::NoPort;
        open.failure = openFailure;
        return open;
    }
    QThread::msleep(SettleMs);
    static_cast<IdentifyResult &>(open) = Identify();
    return open;
}

void ModuleSession::Close()
{
    link->ClosePort();
}

bool ModuleSession::PortIsOpen() const
{
    return link->PortIsOpen();
}

bool ModuleSession::Busy() const
{
    return link->Busy();
}

IdentifyResult ModuleSession::Identify()
{
    IdentifyResult identify;
    identify.result = Exchange(std::string(Command::Identify));
    if (identify.result == StepResult::Ok) {
        std::string reply;
        link->GetReplyText(reply);
        identify.identity = SplitIdentifyReply(reply);
    }
    return identify;
}

ReadResult ModuleSession::Read()
{
    ReadResult read;
    read.result = Exchange(std::string(Command::ReadParams));
    if (read.result == StepResult::Ok) {
        link->GetReplyRecord(read.record);
        read.received = link->ReplyBytes();
    }
    return read;
}

StepResult ModuleSession::Set(const SetCommandValues &values)
{
    return ExchangeExpectingOk(BuildSetCommandText(values));
}

StepResult ModuleSession::RestoreDefaults()
{
    return ExchangeExpectingOk(std::string(Command::RestoreDefaults));
}

StepResult ModuleSession::SetVolume(const std::string &volumeText)
{
    return ExchangeExpectingOk(BuildVolumeCommand(volumeText));
}

StepResult ModuleSession::Exchange(const std::string &command)
{
    if (link->Busy())
        return StepResult::Busy;
    return link->SendCommand(command) ? StepResult::Ok : StepResult::NoReply;
}

StepResult ModuleSession::ExchangeExpectingOk(const std::string &command)
{
    const StepResult result = Exchange(command);
    if (result != StepResult::Ok)
        return result;
    std::string reply;
    link->GetReplyText(reply);
    return IsOkReply(reply) ? StepResult::Ok : StepResult::Refused;
}

// ---- The connection's life -------------------------------------------------------------------

ConnectionView ModuleSession::View() const
{
    return {PortIsOpen(), deviceFound, deviceFound && PortIsOpen(), identity};
}

ModuleSession::Click ModuleSession::OpenOrCloseClicked(const std::string &portName)
{
    const Operation operation(*this);
    if (PortIsOpen()) {
        // Closed at once, the operation's outcome would show over the idle window.
        if (Busy()) {
            closePending = true;
            return Click::CloseLater;
        }
        const bool found = deviceFound;
        DisconnectPort();
        if (!found)
            return Click::Closed;
        Timer1->stop(); // OPEN starts it afresh
        // The port is closed by now: this waits out the link's full time and ends in "not found".
        DetectDevice();
        return Click::ClosedAfterFound;
    }

    if (Busy())
        return Click::Busy;
    if (!OpenPort(portName)) {
        deviceFound = false;
        emit ViewChanged();
        return Click::OpenFailed;
    }
    emit ViewChanged(); // the open port shows at once: the identify may take half a second
    QThread::msleep(SettleMs);
    DetectDevice();
    if (closing)
        return Click::WindowClosed;
    if (!deviceFound)
        return Click::NotFound;
    // Watched before the window's READ, so a READ that fails leaves the module watched all the
    // same; ticks during the READ find the link busy and return.
    Timer1->start();
    return Click::Found;
}

void ModuleSession::Timer1Timer()
{
    const Operation operation(*this);
    if (!PortIsOpen() || Busy())
        return;
    // The watch goes on running; its later ticks end above while the port is closed.
    if (DetectDevice())
        DisconnectPort();
}

bool ModuleSession::DetectDevice()
{
    const IdentifyResult found = Identify();
    const bool foundBefore = deviceFound;
    deviceFound = found.result == StepResult::Ok;
    if (deviceFound)
        identity = found.identity;
    emit ViewChanged();
    return foundBefore && !deviceFound && PortIsOpen();
}

void ModuleSession::DisconnectPort()
{
    if (Busy())
        return;
    link->ClosePort();
    emit ViewChanged();
}

bool ModuleSession::WindowClosed()
{
    if (operationsRunning == 0)
        return false;
    closing = true;
    Timer1->stop();
    return true;
}

ModuleSession::Operation::Operation(ModuleSession &session) : session(session)
{
    ++session.operationsRunning;
}

ModuleSession::Operation::~Operation()
{
    session.OperationEnded();
}

void ModuleSession::OperationEnded()
{
    if (--operationsRunning > 0)
        return;
    // From the event loop: the operation's callers unwind first.
    if (closing) {
        QTimer::singleShot(0, this, &ModuleSession::QuitDue);
    } else if (closePending) {
        QTimer::singleShot(0, this, [this] {
            // The watch may have closed the port meanwhile.
            const bool due = closePending && PortIsOpen();
            closePending = false;
            if (due)
                emit CloseDue();
        });
    }
}

const char *Describe(StepResult result)
{
    switch (result) {
    case StepResult::Ok:
        return "done";
    case StepResult::Busy:
        return "another exchange with the module is running";
    case StepResult::NoPort:
        return "the port cannot be opened (no such device, or another program uses it)";
    case StepResult::NoReply:
        return "the module did not answer";
    case StepResult::Refused:
        return "the module's reply was not OK";
    }
    return "unknown";
}
