#include "link/UComm.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cstring>

#include "serial/Comm.h"

namespace {

// Clears a flag on every way out of a scope, exceptions included.
class FlagGuard
{
public:
    explicit FlagGuard(bool &flag) : flag(flag) { flag = true; }
    ~FlagGuard() { flag = false; }
    FlagGuard(const FlagGuard &) = delete;
    FlagGuard &operator=(const FlagGuard &) = delete;

private:
    bool &flag;
};

} // namespace

TKVComm::TKVComm() : comm(std::make_unique<TComm>())
{
    comm->SetBaudRate(9600);
    comm->SetByteSize(TByteSize::_8);
    comm->SetStopBits(TStopBits::_1);
    comm->SetInputLen(InputLen);
    comm->SetOnReceiveData([this](TComm *sender, const char *buffer, std::uint16_t length) {
        CommReceiveData(sender, buffer, length);
    });
}

TKVComm::~TKVComm()
{
    if (comm->PortOpen())
        comm->StopPort();
}

bool TKVComm::OpenPort(int portNumber)
{
    if (PortIsOpen())
        ClosePort();
    comm->SetCommPort(static_cast<std::uint8_t>(portNumber));
    return StartPort();
}

bool TKVComm::OpenPort(const std::string &portName)
{
    if (PortIsOpen())
        ClosePort();
    comm->SetCommName(portName);
    return StartPort();
}

bool TKVComm::StartPort()
{
    try {
        comm->StartPort();
    } catch (...) {
        return false;
    }
    // Some open failures are reported only through the component's error text; a port that is
    // not open afterwards is a failed open, whatever was raised.
    return PortIsOpen();
}

const port::OpenFailure &TKVComm::LastOpenFailure() const
{
    return comm->LastOpenFailure();
}

void TKVComm::SetOnHandlerError(std::function<void(const std::exception &)> handler)
{
    comm->SetOnHandlerError(std::move(handler));
}

void TKVComm::ClosePort()
{
    if (PortIsOpen())
        comm->StopPort();
}

bool TKVComm::PortIsOpen() const
{
    return comm->PortOpen();
}

bool TKVComm::SendCommand(const std::string &text)
{
    if (busy)
        return false;
    FlagGuard busyWhileWaiting(busy);
    received = false;
    replyLength = 0;

    // Chunks the reader posted before this point were read before the command went out; the
    // component's events arrive in posting order, so they are all handled before the fence.
    fencePassed = false;
    const unsigned thisCommand = ++command;
    QMetaObject::invokeMethod(
        &fence,
        [this, thisCommand] {
            if (thisCommand == command)
                fencePassed = true;
        },
        Qt::QueuedConnection);

    // Traced only when handed to the port: a refused output (a full queue) never went out.
    if (comm->SendOutput(text) && trace)
        trace(true, text);
    // On a closed port nothing was sent, so nothing can answer: a chunk read before the port
    // was closed may still be delivered during this wait, and it is no reply.
    const bool sent = PortIsOpen();
    for (int check = 0; check < replyChecks; ++check) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (received && sent)
            return true;
        QThread::msleep(CheckIntervalMs);
    }
    return false;
}

void TKVComm::SetReplyWait(int milliseconds)
{
    replyChecks = std::max(1, (milliseconds + CheckIntervalMs - 1) / CheckIntervalMs);
}

void TKVComm::GetReplyText(std::string &text) const
{
    if (HasReply())
        text.assign(replyBuffer.data(), static_cast<std::size_t>(replyLength));
}

void TKVComm::GetReplyRecord(ParamRecord &record) const
{
    if (!HasReply()) {
        record.bytes.fill('\0');
        return;
    }
    // A reply can be longer than the record (up to InputLen - 2 bytes); the surplus is dropped.
    const auto length =
        std::min<std::size_t>(static_cast<std::size_t>(replyLength), ParamRecord::Size);
    std::memcpy(record.bytes.data(), replyBuffer.data(), length);
}

void TKVComm::CommReceiveData(TComm *, const char *buffer, std::uint16_t bufferLength)
{
    if (trace)
        trace(false, std::string_view(buffer, bufferLength));
    if (!fencePassed)
        return;
    // The last two bytes of every chunk are the module's line end, whatever they are. A chunk
    // of a single byte leaves nothing: an empty reply.
    const std::size_t length =
        std::min<std::size_t>(bufferLength >= 2 ? bufferLength - 2u : 0u, replyBuffer.size());
    std::memcpy(replyBuffer.data(), buffer, length);
    replyLength = static_cast<int>(length);
    replyBytes = bufferLength;
    received = true;
}
