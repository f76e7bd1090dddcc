// The network port: a serial port that ser2net serves over TCP. One non-blocking socket, which
// each thread uses for what it needs: the reader takes what came, the writer sends its blocks,
// the owner waits for the server's answers (an open's options and line settings, a purge).
// Sends go one at a time and so do receives: a thread takes the turn under the lock, makes its
// one non-blocking call without it, and gives the turn back. What came is decoded under the lock
// (libtelnet is not thread-safe); what a decoding or a request makes to send joins the one queue
// that whoever holds the send turn empties, so the server gets every byte in order. Each thread
// waits in poll on the socket and an eventfd of its own; the time-outs are poll deadlines, as on
// the Linux port. A dropped connection fails the reads and writes, as a device that went away
// does.
#include "serial/platform/port_network.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "serial/platform/ComPortProtocol.h"
#include "serial/platform/PosixWaits.h"

namespace port::network {

namespace {

using posix::After;
using posix::Await;
using posix::Clock;
using posix::Deadline;
using posix::Earlier;
using posix::ReadEnd;
using posix::ReadEnds;
using posix::Ring;
using posix::Woken;

constexpr std::size_t kReceiveChunk = 16384;
constexpr std::size_t kSendChunk = 65536;
// Received and not yet taken: beyond this the socket is left to hold the rest.
constexpr std::size_t kHeldInput = 1 << 20;
// How long an open tries again while the server ends each connection at once, and how often.
constexpr std::chrono::milliseconds kClosedRetry{1000};
constexpr std::chrono::milliseconds kClosedPause{100};

std::mutex waitsMutex;
Waits waitsStore;

Waits CurrentWaits()
{
    std::lock_guard lock(waitsMutex);
    return waitsStore;
}

std::string Seconds(std::chrono::milliseconds wait)
{
    const auto ms = wait.count();
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// What the server is told of a line state.
bool SameOnTheWire(const LineState &a, const LineState &b)
{
    constexpr std::uint32_t kCarried = kFlagOutxCtsFlow | kFlagOutX | kFlagInX |
                                       kControlMask << kFlagDtrShift |
                                       kControlMask << kFlagRtsShift;
    return a.BaudRate == b.BaudRate && a.ByteSize == b.ByteSize && a.Parity == b.Parity &&
           a.StopBits == b.StopBits && (a.Flags & kCarried) == (b.Flags & kCarried);
}

// The server's words before it hung up, as one short line.
std::string Words(const std::string &bytes)
{
    std::string line;
    for (const char c : bytes.substr(0, 200)) {
        const auto u = static_cast<unsigned char>(c);
        const char shown = u < ' ' ? ' ' : u > '~' ? '?' : c;
        if (shown != ' ' || (!line.empty() && line.back() != ' '))
            line += shown;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

// 0, or why the connection could not be made by the deadline.
int Connect(int socket, const addrinfo &address, Clock::time_point deadline)
{
    if (::connect(socket, address.ai_addr, address.ai_addrlen) == 0)
        return 0;
    if (errno != EINPROGRESS && errno != EINTR)
        return errno;
    for (;;) {
        const std::optional<Woken> woken = Await(socket, POLLOUT, -1, deadline); // no bell
        if (!woken)
            return errno;
        if (woken->events != 0)
            break;
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : errno;
}

class NetworkPort final : public Port
{
public:
    NetworkPort(int socket, bool telnet) : sock(socket), protocol(telnet) {}

    ~NetworkPort() override
    {
        for (const int descriptor : {sock, readerBell, writerBell, ownerBell})
            if (descriptor >= 0)
                ::close(descriptor);
    }

    int Init() // 0, or the system's error
    {
        if (!protocol.Usable())
            return ENOMEM;
        for (int *bell : {&readerBell, &writerBell, &ownerBell})
            if ((*bell = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) < 0)
                return errno;
        return 0;
    }

    std::optional<OpenFailure> Negotiate();

    bool IsCommHandle() override { return true; }
    bool Setup(std::uint32_t, std::uint32_t) override { return true; }
    bool Purge(std::uint32_t flags) override;
    bool GetState(LineState &value) override;
    bool SetState(const LineState &value) override;

    bool GetTimeouts(Timeouts &value) override
    {
        std::lock_guard lock(mutex);
        value = timeouts;
        return true;
    }

    // A read under way takes them at once; a write keeps the deadline it started with.
    bool SetTimeouts(const Timeouts &value) override
    {
        {
            std::lock_guard lock(mutex);
            timeouts = value;
        }
        Ring(readerBell);
        return true;
    }

    void SetEventMask(std::uint32_t) override {} // no line events come over the network

    void Stop() override
    {
        stopped = true;
        for (const int bell : {readerBell, writerBell, ownerBell})
            Ring(bell);
    }

    void WakeWriter() override { Ring(writerBell); }
    Result Next(char *buffer, std::uint32_t size) override;

    bool ClearError(std::uint32_t &errors) override
    {
        errors = 0;
        return true;
    }

    void EndReader() override
    {
        std::lock_guard lock(mutex);
        protocol.Data().clear();
        reading = false;
    }

    Result Write(const char *data, std::uint32_t size) override;
    Result WaitForWriterWork() override;

private:
    enum class Intake
    {
        Got,  // bytes came
        None, // nothing now, or the connection is gone
        Busy, // another thread is receiving
        Full, // as much is held as the port keeps
    };
    enum class Turn
    {
        Done,  // nothing is left to send
        Left,  // the socket took no more now, or the connection is gone
        Taken, // another thread is sending, and sends what is queued
    };
    Intake Receive(bool byReader);
    Turn Flush();
    bool AwaitAnswer(const std::function<bool()> &answered);
    OpenFailure Refusal(const std::string &otherwise);
    // Under the lock.
    void QueueOutput() { outgoing += protocol.TakeOutput(); }
    bool Lose(const std::string &why);

    const int sock;
    int readerBell = -1;
    int writerBell = -1;
    int ownerBell = -1;

    std::mutex mutex; // never held across a call
    ComPortProtocol protocol;
    std::string outgoing;
    std::uint64_t sent = 0; // every byte the socket has taken
    bool receiving = false;
    bool sending = false;
    bool lost = false;
    std::string lostWhy;
    Timeouts timeouts;
    LineState state;
    std::optional<LineState> agreed; // what the server last agreed to, as asked

    // The reader's own: the read under way.
    bool reading = false;
    std::uint32_t done = 0;
    Clock::time_point start, last;
};

bool NetworkPort::Lose(const std::string &why)
{
    if (lost)
        return false;
    lost = true;
    lostWhy = why;
    return true;
}

// One receive, decoded; a reply the decoding makes is sent, and the others are told what came.
NetworkPort::Intake NetworkPort::Receive(bool byReader)
{
    {
        std::lock_guard lock(mutex);
        if (lost)
            return Intake::None;
        if (receiving)
            return Intake::Busy;
        if (protocol.Data().size() >= kHeldInput)
            return Intake::Full;
        receiving = true;
    }
    char chunk[kReceiveChunk];
    ssize_t n;
    do
        n = ::recv(sock, chunk, sizeof chunk, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : 0;
    // Acknowledged at once: a server that holds back small writes until the last is
    // acknowledged (Nagle's rule) would otherwise wait for the delayed acknowledgement. Only
    // a hint: a refusal changes nothing but the time.
    const int one = 1;
    if (n > 0)
        (void)::setsockopt(sock, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    bool data = false;
    bool answers = false;
    bool reply = false;
    bool gone = false;
    {
        std::lock_guard lock(mutex);
        receiving = false;
        if (n > 0) {
            const std::size_t held = protocol.Data().size();
            const std::uint64_t before = protocol.Answers();
            protocol.Receive(chunk, static_cast<std::size_t>(n));
            data = protocol.Data().size() != held;
            answers = protocol.Answers() != before;
            reply = protocol.HasOutput();
            if (protocol.Broken())
                gone = Lose(protocol.Fault());
        } else if (n == 0) {
            gone = Lose("the server ended the connection");
        } else if (error != EAGAIN && error != EWOULDBLOCK) {
            gone = Lose(std::strerror(error));
        }
    }
    // What the socket does not take now the writer sends when it can.
    if (reply && Flush() == Turn::Left)
        Ring(writerBell);
    if (gone || (data && !byReader))
        Ring(readerBell);
    if (gone || answers)
        Ring(ownerBell);
    return n > 0 ? Intake::Got : Intake::None;
}

NetworkPort::Turn NetworkPort::Flush()
{
    for (;;) {
        std::string chunk;
        {
            std::lock_guard lock(mutex);
            QueueOutput();
            if (outgoing.empty())
                return Turn::Done;
            if (lost)
                return Turn::Left;
            if (sending)
                return Turn::Taken;
            sending = true;
            chunk.assign(outgoing, 0, kSendChunk);
        }
        ssize_t n;
        do
            n = ::send(sock, chunk.data(), chunk.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        const int error = n < 0 ? errno : 0;
        bool gone = false;
        {
            std::lock_guard lock(mutex);
            sending = false;
            if (n > 0) {
                outgoing.erase(0, static_cast<std::size_t>(n));
                sent += static_cast<std::uint64_t>(n);
            } else if (error != EAGAIN && error != EWOULDBLOCK) {
                gone = Lose(std::strerror(error));
            }
        }
        if (gone) {
            Ring(readerBell);
            Ring(ownerBell);
        }
        if (n <= 0)
            return Turn::Left;
    }
}

// The owner's wait for the server's answer, by the answer wait; the reader may be taking what
// comes meanwhile, and tells it through the owner's eventfd.
bool NetworkPort::AwaitAnswer(const std::function<bool()> &answered)
{
    const Clock::time_point deadline = Clock::now() + CurrentWaits().answer;
    for (;;) {
        const Intake intake = Receive(false);
        const Turn turn = Flush();
        bool pending = false;
        {
            std::lock_guard lock(mutex);
            if (answered())
                return true;
            if (lost)
                return false;
            pending = !outgoing.empty();
        }
        if (stopped || Clock::now() >= deadline)
            return false;
        if (turn == Turn::Taken || intake == Intake::Busy) {
            std::this_thread::yield(); // the other thread's one call ends soon
            continue;
        }
        const short events =
            static_cast<short>((intake == Intake::Full ? 0 : POLLIN) | (pending ? POLLOUT : 0));
        if (!Await(sock, events, ownerBell, deadline))
            return false;
    }
}

OpenFailure NetworkPort::Refusal(const std::string &otherwise)
{
    std::lock_guard lock(mutex);
    if (lost && !protocol.Broken()) {
        const std::string words = Words(protocol.Data());
        return {OpenFailureKind::ServerClosed,
                {},
                words.empty() ? lostWhy : lostWhy + ", saying \"" + words + "\""};
    }
    const std::string fault = protocol.Fault();
    return {OpenFailureKind::LineSettingsRefused, {}, fault.empty() ? otherwise : fault};
}

// The options, then the module's line settings: 9600 baud, 8 data bits, no parity, 1 stop bit,
// no flow control, each answered with the value in force.
std::optional<OpenFailure> NetworkPort::Negotiate()
{
    if (!protocol.Telnet())
        return std::nullopt;
    {
        std::lock_guard lock(mutex);
        protocol.Start();
    }
    const std::string wait = Seconds(CurrentWaits().answer);
    bool agreedOptions = false;
    AwaitAnswer([this, &agreedOptions] {
        agreedOptions = protocol.Options() == ComPortProtocol::Answer::Agreed;
        return protocol.Options() != ComPortProtocol::Answer::Waiting;
    });
    if (!agreedOptions)
        return Refusal("the server did not agree to carry the line settings (RFC 2217) within " +
                       wait);
    if (!SetState(LineState{}))
        return Refusal("the server did not answer the line settings within " + wait);
    return std::nullopt;
}

bool NetworkPort::Purge(std::uint32_t flags)
{
    const bool receive = (flags & kPurgeRxClear) != 0;
    const bool transmit = (flags & kPurgeTxClear) != 0;
    std::uint32_t before = 0;
    // What the socket holds goes too, as a serial port's purge empties the driver's buffer.
    for (int i = 0; receive && i < 64 && Receive(false) == Intake::Got; ++i) {
        std::lock_guard lock(mutex);
        protocol.Data().clear();
    }
    {
        std::lock_guard lock(mutex);
        if (receive)
            protocol.Data().clear();
        // After a stop the connection is about to go: nothing is worth asking.
        if (!protocol.Telnet() || lost || stopped || (!receive && !transmit))
            return true;
        protocol.RequestPurge(receive, transmit);
        before = protocol.PurgeAnswers();
    }
    return AwaitAnswer([this, before] { return protocol.PurgeAnswers() != before; });
}

// The server's word for what it carries, the port's for the rest.
bool NetworkPort::GetState(LineState &value)
{
    std::lock_guard lock(mutex);
    value = state;
    if (protocol.Telnet()) {
        const LineState inForce = protocol.InForce();
        value.BaudRate = inForce.BaudRate;
        value.ByteSize = inForce.ByteSize;
        value.Parity = inForce.Parity;
        value.StopBits = inForce.StopBits;
    }
    return true;
}

// What the Linux port refuses is refused here too; the raw accepter's line settings are the
// server's, so there the state is only kept.
bool NetworkPort::SetState(const LineState &value)
{
    const std::uint32_t dtr = value.Control(kFlagDtrShift);
    const std::uint32_t rts = value.Control(kFlagRtsShift);
    if (value.BaudRate == 0 || dtr == 2 || rts == 3 ||
        (value.Flags & (kFlagOutxDsrFlow | kFlagDsrSensitivity)) != 0)
        return false;
    {
        std::lock_guard lock(mutex);
        if (!protocol.Telnet() || (agreed && SameOnTheWire(*agreed, value))) {
            state = value;
            return true;
        }
        if (lost)
            return false;
        protocol.RequestLineState(value);
    }
    const bool answered = AwaitAnswer(
        [this] { return protocol.LineStateAnswer() != ComPortProtocol::Answer::Waiting; });
    std::lock_guard lock(mutex);
    if (!answered || protocol.LineStateAnswer() != ComPortProtocol::Answer::Agreed) {
        agreed.reset();
        return false;
    }
    agreed = state = value;
    return true;
}

Result NetworkPort::Next(char *buffer, std::uint32_t size)
{
    while (!stopped) {
        Clock::time_point now = Clock::now();
        if (!reading) {
            reading = true;
            done = 0;
            start = last = now;
        }
        Receive(true);
        Timeouts t;
        std::size_t taken = 0;
        bool gone = false;
        {
            std::lock_guard lock(mutex);
            t = timeouts;
            std::string &data = protocol.Data();
            taken = std::min<std::size_t>(data.size(), size - done);
            std::memcpy(buffer + done, data.data(), taken);
            data.erase(0, taken);
            gone = lost && data.empty();
        }
        if (taken > 0) {
            done += static_cast<std::uint32_t>(taken);
            last = now = Clock::now();
        }
        // Dropped: what was read is delivered first, the next read fails again.
        if (gone) {
            reading = false;
            return done > 0 ? Result{Result::Bytes, done}
                            : Result{Result::Failed, kErrorGenFailure};
        }
        const ReadEnd end = ReadEnds(t, size, done, start, last, now);
        if (end.now) {
            reading = false;
            return {Result::Bytes, done};
        }
        if (!Await(sock, POLLIN, readerBell, end.deadline))
            return {Result::Failed, static_cast<std::uint32_t>(errno)};
    }
    return {Result::Stopped};
}

// A block the socket cannot take by the write time-outs stays queued and goes before anything
// later, as a driver's queue keeps what it has taken: the block counts as written.
Result NetworkPort::Write(const char *data, std::uint32_t size)
{
    Timeouts t;
    std::uint64_t end = 0;
    {
        std::lock_guard lock(mutex);
        if (lost)
            return {Result::Failed, kErrorGenFailure};
        t = timeouts;
        protocol.SendData(data, size);
        QueueOutput();
        end = sent + outgoing.size();
    }
    const std::uint64_t total =
        std::uint64_t{t.WriteTotalTimeoutMultiplier} * size + t.WriteTotalTimeoutConstant;
    const Deadline deadline = total != 0 ? Deadline(After(Clock::now(), total)) : std::nullopt;
    while (!stopped) {
        const Turn turn = Flush();
        {
            std::lock_guard lock(mutex);
            if (sent >= end)
                return {Result::Bytes, size};
            if (lost)
                return {Result::Failed, kErrorGenFailure};
        }
        if (deadline && Clock::now() >= *deadline)
            return {Result::Bytes, size};
        if (turn == Turn::Taken) {
            std::this_thread::yield();
            continue;
        }
        if (!Await(sock, POLLOUT, writerBell, deadline))
            return {Result::Failed, static_cast<std::uint32_t>(errno)};
    }
    return {Result::Stopped};
}

// While waiting the writer also sends what is queued: a reply the reader's decoding made, or
// the rest of a block that ran out of time.
Result NetworkPort::WaitForWriterWork()
{
    while (!stopped) {
        const Turn turn = Flush();
        if (turn == Turn::Taken) {
            std::this_thread::yield();
            continue;
        }
        bool dropped = false;
        {
            std::lock_guard lock(mutex);
            dropped = lost;
        }
        const short events = turn == Turn::Left && !dropped ? POLLOUT : 0;
        const std::optional<Woken> woken = Await(sock, events, writerBell, std::nullopt);
        if (!woken)
            return {Result::Failed, static_cast<std::uint32_t>(errno)};
        if (woken->rang && !stopped)
            return {Result::Bytes};
    }
    return {Result::Stopped};
}

} // namespace

Waits SetWaits(Waits waits)
{
    std::lock_guard lock(waitsMutex);
    return std::exchange(waitsStore, waits);
}

namespace {

// One connection to one of the host's addresses, set up and negotiated; else why not.
std::unique_ptr<Port> Connected(const addrinfo *addresses, bool telnet, OpenFailure &failure)
{
    const Waits waits = CurrentWaits();
    const Clock::time_point deadline = Clock::now() + waits.connect;
    int error = ETIMEDOUT;
    int sock = -1;
    for (const addrinfo *a = addresses; a != nullptr && sock < 0 && Clock::now() < deadline;
         a = a->ai_next) {
        const int s =
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            error = errno;
            continue;
        }
        error = Connect(s, *a, deadline);
        if (error == 0)
            sock = s;
        else
            ::close(s);
    }
    if (sock < 0) {
        failure.kind = error == ECONNREFUSED ? OpenFailureKind::NotListening
                       : error == ETIMEDOUT || error == EHOSTUNREACH || error == ENETUNREACH ||
                               error == EHOSTDOWN
                           ? OpenFailureKind::NoAnswer
                           : OpenFailureKind::Other;
        failure.systemText = error == ETIMEDOUT ? "no answer within " + Seconds(waits.connect)
                                                : std::strerror(error);
        return nullptr;
    }
    // A command goes at once, not held back to join the next.
    const int one = 1;
    if (::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
        failure = {OpenFailureKind::Other, {}, std::strerror(errno)};
        ::close(sock);
        return nullptr;
    }
    auto port = std::make_unique<NetworkPort>(sock, telnet);
    if (const int initError = port->Init(); initError != 0) {
        failure = {OpenFailureKind::Other, {}, std::strerror(initError)};
        return nullptr;
    }
    if (const std::optional<OpenFailure> refused = port->Negotiate()) {
        failure = *refused;
        return nullptr;
    }
    return port;
}

} // namespace

std::unique_ptr<Port> Open(const std::string &name, OpenFailure *failure)
{
    OpenFailure why;
    const auto fail = [&](OpenFailureKind kind, std::string text) -> std::unique_ptr<Port> {
        if (failure != nullptr)
            *failure = {kind, name, std::move(text)};
        return nullptr;
    };
    const bool telnet = name.rfind("rfc2217://", 0) == 0;
    const std::string address = name.substr(name.find("://") + 3);
    const std::size_t colon = address.rfind(':');
    std::string host = colon == std::string::npos ? "" : address.substr(0, colon);
    const std::string service = colon == std::string::npos ? "" : address.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2); // an IPv6 address
    if (host.empty() || service.empty() ||
        service.find_first_not_of("0123456789") != std::string::npos)
        return fail(OpenFailureKind::Other,
                    "a network port is named rfc2217://HOST:PORT or tcp://HOST:PORT");

    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    if (const int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
        resolved != 0)
        return fail(OpenFailureKind::NoSuchHost,
                    resolved == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(resolved));
    const std::unique_ptr<addrinfo, void (*)(addrinfo *)> addresses(found, ::freeaddrinfo);

    // ser2net frees a port a moment after its client has gone, and turns away whoever comes
    // meanwhile: a run that follows another at once tries again for a while.
    const Clock::time_point retryUntil = Clock::now() + kClosedRetry;
    for (;;) {
        if (auto port = Connected(found, telnet, why)) {
            if (failure != nullptr)
                *failure = {OpenFailureKind::None, name, {}};
            return port;
        }
        if (why.kind != OpenFailureKind::ServerClosed || Clock::now() + kClosedPause > retryUntil)
            return fail(why.kind, why.systemText);
        std::this_thread::sleep_for(kClosedPause);
    }
}

} // namespace port::network
