#include "NetworkCases.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "serial/platform/ComPortProtocol.h"
#include "serial/platform/port_network.h"

using port::network::ComPortProtocol;
using Answer = ComPortProtocol::Answer;

LineUnderTest::LineUnderTest(Via via, const std::string &settings)
{
    CHECK(!pty.path.empty());
    if (via != Via::Pty) {
        if (!Ser2net::Installed())
            minitest::Skip(Ser2net::Missing);
        // Raw already, so bytes sent before ser2net sets the line up wait for no line end.
        termios raw{};
        CHECK_EQ(::tcgetattr(pty.slave, &raw), 0);
        ::cfmakeraw(&raw);
        CHECK_EQ(::tcsetattr(pty.slave, TCSANOW, &raw), 0);
        server = std::make_unique<Ser2net>(
            std::vector<Ser2netLine>{{pty.path, via == Via::Rfc2217, settings}});
        if (!server->Started())
            minitest::Fail(__FILE__, __LINE__, "ser2net did not start: " + server->Log());
    }
    port = port::OpenDevice(server ? server->Url(0) : pty.path);
}

void LineUnderTest::FarEndGoes()
{
    if (server)
        server->Stop();
    else
        pty.CloseMaster();
}

namespace {

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string text;
    for (const int b : bytes)
        text += static_cast<char>(b);
    return text;
}

// A com port subnegotiation: IAC SB 44 ... IAC SE.
std::string Sb(std::initializer_list<int> body)
{
    return Bytes({255, 250, 44}) + Bytes(body) + Bytes({255, 240});
}

// What ser2net 4 sends first: SGA, ECHO, BINARY both ways and DO COM-PORT-OPTION.
const std::string kGreeting = Bytes({255, 251, 3,   255, 253, 3,   255, 251, 1,   255, 254,
                                     1,   255, 253, 0,   255, 251, 0,   255, 253, 44}) +
                              Sb({107, 0});
// Its answers to 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control.
const std::string kShapeAnswers = Sb({102, 8}) + Sb({103, 1});
const std::string kAnswers =
    Sb({101, 0, 0, 0x25, 0x80}) + kShapeAnswers + Sb({104, 1}) + Sb({105, 1});

void ComPortRequests()
{
    ComPortProtocol p(true);
    p.Start();
    CHECK_EQ(p.TakeOutput(), Bytes({255, 251, 0, 255, 253, 0, 255, 251, 44}));
    p.RequestLineState(port::LineState{});
    // The answered five, then inbound flow, DTR and RTS.
    CHECK_EQ(p.TakeOutput(), Sb({1, 0, 0, 0x25, 0x80}) + Sb({2, 8}) + Sb({3, 1}) + Sb({4, 1}) +
                                 Sb({5, 1}) + Sb({5, 14}) + Sb({5, 9}) + Sb({5, 12}));
    port::LineState odd;
    odd.BaudRate = 0x1C2FF; // a byte 255 in the speed
    odd.Parity = 2;
    odd.StopBits = 1;
    odd.Flags |= port::kFlagOutX;
    p.RequestLineState(odd);
    const std::string oddSettings =
        Sb({1, 0, 1, 0xC2, 255, 255}) + Sb({2, 8}) + Sb({3, 3}) + Sb({4, 3}) + Sb({5, 2});
    CHECK_EQ(p.TakeOutput().substr(0, oddSettings.size()), oddSettings);
    p.SendData("A\xff"
               "B",
               3);
    CHECK_EQ(p.TakeOutput(), std::string("A\xff\xff"
                                         "B"));
    p.RequestPurge(true, false);
    CHECK_EQ(p.TakeOutput(), Sb({12, 1}));
}

// What the protocol makes of the server's bytes after the opening and a request for the
// module's line settings.
void ComPortAnswers()
{
    struct Row
    {
        const char *name;
        bool telnet;
        std::string fromServer;
        bool byteByByte;
        std::string data;
        Answer options, lineState;
        const char *fault; // part of Fault()
    };
    const Row rows[] = {
        {"ser2net's greeting and answers", true, kGreeting + kAnswers, false, "", Answer::Agreed,
         Answer::Agreed, ""},
        {"the same a byte at a time", true, kGreeting + kAnswers, true, "", Answer::Agreed,
         Answer::Agreed, ""},
        {"data: a doubled 255 is one, CR NUL stays", true,
         kGreeting + "A" + Bytes({255, 255}) + "B" + Bytes({13, 0}), false,
         "A" + Bytes({255}) + "B" + Bytes({13, 0}), Answer::Agreed, Answer::Waiting, ""},
        {"no answers yet", true, kGreeting, false, "", Answer::Agreed, Answer::Waiting, ""},
        {"another speed", true,
         kGreeting + Sb({101, 0, 0, 0x4B, 0}) + kShapeAnswers + Sb({104, 1}) + Sb({105, 1}), false,
         "", Answer::Agreed, Answer::Refused,
         "the server set the line to 19200 baud instead of 9600 baud"},
        {"two stop bits", true,
         kGreeting + Sb({101, 0, 0, 0x25, 0x80}) + kShapeAnswers + Sb({104, 2}) + Sb({105, 1}),
         false, "", Answer::Agreed, Answer::Refused, "2 stop bits instead of 1 stop bit"},
        // DTR's and RTS's answers are no answer to the flow control.
        {"DTR and RTS answered, flow control not", true,
         kGreeting + Sb({101, 0, 0, 0x25, 0x80}) + kShapeAnswers + Sb({104, 1}) + Sb({105, 9}) +
             Sb({105, 12}),
         false, "", Answer::Agreed, Answer::Waiting, ""},
        {"a purge's answer drops the data before it", true,
         kGreeting + "stale" + Sb({112, 1}) + "fresh", false, "fresh", Answer::Agreed,
         Answer::Waiting, ""},
        {"the com port option turned off", true, kGreeting + Bytes({255, 254, 44}) + "late", false,
         "", Answer::Refused, Answer::Refused, "stopped carrying the line settings"},
        // libtelnet would pass the rest of it as data.
        {"a subnegotiation too long to hold", true,
         kGreeting + Bytes({255, 250, 44}) + std::string(20000, 'x') + Bytes({255, 240}), false, "",
         Answer::Refused, Answer::Refused, "telnet stream is broken"},
        {"compression never agreed to", true,
         kGreeting + Bytes({255, 250, 86, 255, 240}) + "not deflated", false, "", Answer::Refused,
         Answer::Refused, "telnet stream is broken"},
        {"raw: the bytes as they are", false, kGreeting, false, kGreeting, Answer::Agreed,
         Answer::Agreed, ""},
    };
    for (const Row &row : rows) {
        ComPortProtocol p(row.telnet);
        p.Start();
        p.RequestLineState(port::LineState{});
        p.TakeOutput();
        if (row.byteByByte)
            for (const char c : row.fromServer)
                p.Receive(&c, 1);
        else
            p.Receive(row.fromServer.data(), row.fromServer.size());
        if (p.Data() != row.data || p.Options() != row.options ||
            p.LineStateAnswer() != row.lineState || p.Fault().find(row.fault) == std::string::npos)
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": " + p.Fault());
    }
}

// Why an open fails, with the system's or the server's words, within its bounds.
void NetworkOpenFailures()
{
    if (!Ser2net::Installed())
        minitest::Skip(Ser2net::Missing);
    const port::network::Waits previous =
        port::network::SetWaits({std::chrono::milliseconds(2000), std::chrono::milliseconds(500)});
    PtyPair held;
    PtyPair raw;
    Ser2net server({{held.path, true}, {raw.path, false}});
    CHECK(server.Started());
    auto holder = port::OpenDevice(server.Url(0));
    CHECK(holder != nullptr);
    struct Row
    {
        const char *name;
        std::string url;
        port::OpenFailureKind kind;
        std::string words;
    };
    const Row rows[] = {
        {"nothing listening", "tcp://127.0.0.1:" + std::to_string(Ser2net::FreePort()),
         port::OpenFailureKind::NotListening, std::strerror(ECONNREFUSED)},
        // A name the resolver refuses itself, so nothing is asked off this machine.
        {"a host name that does not resolve", "rfc2217://bench-4..invalid:3001",
         port::OpenFailureKind::NoSuchHost, ""},
        {"a raw accepter named rfc2217://", "rfc2217://127.0.0.1:" + std::to_string(server.Port(1)),
         port::OpenFailureKind::LineSettingsRefused,
         "did not agree to carry the line settings (RFC 2217) within 500 ms"},
        {"a port another client holds", server.Url(0), port::OpenFailureKind::ServerClosed,
         "saying \"Port already in use\""},
    };
    for (const Row &row : rows) {
        port::OpenFailure failure;
        const auto start = std::chrono::steady_clock::now();
        const auto p = port::OpenDevice("\\\\.\\" + row.url, &failure);
        const auto took = std::chrono::steady_clock::now() - start;
        if (p != nullptr || failure.kind != row.kind || failure.device != row.url ||
            failure.systemText.empty() || failure.systemText.find(row.words) == std::string::npos ||
            took > std::chrono::milliseconds(2500))
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": " + failure.systemText);
    }
    // ser2net turns away a client that comes the moment the last one has gone.
    holder.reset();
    CHECK(port::OpenDevice(server.Url(0)) != nullptr);
    port::network::SetWaits(previous);
}

termios LineTermios(const PtyPair &pty)
{
    termios t{};
    CHECK_EQ(::tcgetattr(pty.slave, &t), 0);
    return t;
}

// ser2net's connector starts the line at 19200 baud, 7 data bits and 2 stop bits (a
// pseudo-terminal keeps 8 data bits without parity whatever it is told): an RFC 2217 open sets
// the module's, the raw accepter leaves the server's. A later change reaches the line, and what
// reads back is the server's answer.
void LineSettingsThroughSer2net()
{
    struct Row
    {
        Via via;
        speed_t speed;
        bool twoStopBits;
    };
    for (const Row &row : {Row{Via::Rfc2217, B9600, false}, Row{Via::Raw, B19200, true}}) {
        LineUnderTest line(row.via, "19200n72");
        CHECK(line.port != nullptr);
        // The raw accepter sets the line up once it has taken the connection.
        CHECK(minitest::WaitUntil([&] {
            const termios t = LineTermios(line.pty);
            return cfgetospeed(&t) == row.speed;
        }));
        CHECK_EQ((LineTermios(line.pty).c_cflag & CSTOPB) != 0, row.twoStopBits);
        if (row.via != Via::Rfc2217)
            continue;
        port::LineState state;
        CHECK(line.port->GetState(state));
        CHECK_EQ(state.BaudRate, 9600u);
        state.BaudRate = 4800;
        state.StopBits = 2;
        CHECK(line.port->SetState(state));
        const termios t = LineTermios(line.pty);
        CHECK_EQ(cfgetospeed(&t), speed_t(B4800));
        CHECK((t.c_cflag & CSTOPB) != 0);
        port::LineState back;
        CHECK(line.port->GetState(back));
        CHECK_EQ(back.BaudRate, 4800u);
        CHECK_EQ(int(back.StopBits), 2);
    }
}

// A byte 255 reaches the line as it was written; what came before a purge is dropped, what
// comes after it is read.
void WritesAndPurgesThroughSer2net()
{
    for (const Via via : {Via::Rfc2217, Via::Raw}) {
        LineUnderTest line(via);
        CHECK(line.port != nullptr);
        const std::string bytes = "A" + Bytes({255, 255, 0}) + "B\r\n";
        const port::Result r =
            line.port->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        CHECK_EQ(int(r.kind), int(port::Result::Bytes));
        CHECK_EQ(r.value, std::uint32_t(bytes.size()));
        CHECK_EQ(line.pty.Receive(bytes.size()), bytes);

        CHECK(line.pty.Send("stale"));
        // ser2net has taken them from the line; a moment more and they are at the port.
        CHECK(minitest::WaitUntil([&] {
            int waiting = -1;
            return ::ioctl(line.pty.slave, TIOCINQ, &waiting) == 0 && waiting == 0;
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CHECK(line.port->Purge(port::kPurgeRxAbort | port::kPurgeRxClear));
        CHECK(line.pty.Send("fresh"));
        CHECK(line.port->SetTimeouts({100, 0, 0, 0, 0}));
        char buffer[64];
        const port::Result read = line.port->Next(buffer, sizeof buffer);
        CHECK_EQ(int(read.kind), int(port::Result::Bytes));
        CHECK_EQ(std::string(buffer, read.value), std::string("fresh"));
    }
}

} // namespace

std::vector<minitest::Case> NetworkCases()
{
    return {
        {"com port protocol: requests", ComPortRequests},
        {"com port protocol: the server's bytes", ComPortAnswers},
        {"network ports: open failures", NetworkOpenFailures},
        {"network ports: line settings through ser2net", LineSettingsThroughSer2net},
        {"network ports: writes and purges through ser2net", WritesAndPurgesThroughSer2net},
    };
}
