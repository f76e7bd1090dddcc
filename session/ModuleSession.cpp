#include "session/ModuleSession.h"

#include <QThread>

#include "link/UComm.h"
#include "serial/Comm.h"

namespace {

// The window waits as long between opening the port and the first command.
constexpr unsigned long SettleMs = 10;

} // namespace

ModuleSession::ModuleSession() : link(std::make_unique<TKVComm>()) {}

ModuleSession::~ModuleSession() = default;

void ModuleSession::SetOnHandlerError(std::function<void(const std::exception &)> handler)
{
    link->Comm().SetOnHandlerError(std::move(handler));
}

void ModuleSession::SetTrace(Trace hook)
{
    link->SetTrace(std::move(hook));
}

bool ModuleSession::OpenPort(const std::string &portName)
{
    return link->OpenPort(portName);
}

OpenResult ModuleSession::Open(const std::string &portName, const std::function<void()> &portOpen)
{
    OpenResult open;
    if (Busy()) {
        open.result = StepResult::Busy;
        return open;
    }
    if (!OpenPort(portName)) {
        connection.OpenFailed();
        open.result = StepResult::NoPort;
        open.failure = link->Comm().LastOpenFailure();
        return open;
    }
    connection.OpenSucceeded();
    if (portOpen)
        portOpen();
    QThread::msleep(SettleMs);
    static_cast<IdentifyResult &>(open) = AskIdentity();
    connection.OpenIdentified(open.result == StepResult::Ok);
    return open;
}

void ModuleSession::Close()
{
    link->ClosePort();
    connection.PortClosed();
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
    IdentifyResult identify = AskIdentity();
    identify.lost = connection.Identified(identify.result == StepResult::Ok);
    return identify;
}

IdentifyResult ModuleSession::AskIdentity()
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
