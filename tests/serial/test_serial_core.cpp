// The port layer and the reader and writer threads, without Qt: the threads against the
// scripted fake port and a recording notification target (ThreadCases), the Linux port against
// pseudo-terminals.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "NetworkCases.h"
#include "ThreadCases.h"
#include "serial/platform/Port.h"
#include "serial/platform/port_posix.h"
#include "tests/support/MiniTest.h"
#include "tests/support/PtyPair.h"

namespace {

// In a directory of the test's own, so that what the machine has in /dev does not matter.
void DefaultDeviceNames()
{
    char dir[] = "/tmp/nmct-dev-XXXXXX";
    CHECK(::mkdtemp(dir) != nullptr);
    const std::string d = dir;
    const int device = ::open((d + "/ttyUSB0").c_str(), O_CREAT | O_WRONLY, 0600);
    CHECK(device >= 0);
    ::close(device);
    CHECK_EQ(::symlink("ttyUSB0", (d + "/COM3").c_str()), 0);
    const std::pair<const char *, std::string> rows[] = {
        {"COM1", d + "/ttyS0"},
        {"com12", d + "/ttyS11"},
        {"CoM255", d + "/ttyS254"},
        {"COM3", d + "/COM3"},
        {"/tmp/some-device", "/tmp/some-device"},
        {"ttyUSB0", d + "/ttyUSB0"},
    };
    for (const auto &[name, expected] : rows)
        CHECK_EQ(port::posix::DefaultDeviceName(name, d), expected);
    ::unlink((d + "/COM3").c_str());
    ::unlink((d + "/ttyUSB0").c_str());
    ::rmdir(dir);
    auto previous = port::SetDeviceResolver([](const std::string &n) { return "/x/" + n; });
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("/x/COM7"));
    port::SetDeviceResolver(previous);
    CHECK(port::ResolveDevice("COM7") != "/x/COM7");
}

void OpenIsExclusiveAndNeedsATerminal()
{
    PtyPair pty;
    auto first = port::OpenDevice("\\\\.\\" + pty.path);
    CHECK(first != nullptr);
    CHECK(first->IsCommHandle());
    CHECK(port::OpenDevice(pty.path) == nullptr);
    first.reset();
    CHECK(port::OpenDevice(pty.path) != nullptr);

    char file[] = "/tmp/nmct-serial-XXXXXX";
    const int fd = ::mkstemp(file);
    CHECK(fd >= 0);
    ::close(fd);
    auto plain = port::OpenDevice(file);
    CHECK(plain != nullptr && !plain->IsCommHandle());
    ::unlink(file);
    CHECK(port::OpenDevice("/nonexistent/device") == nullptr);
}

// One Next after another on a port, as the reader makes them, until `count` results have come;
// a read of 0 bytes is "", a line event "<events N>", a stop "<stopped>", a failure "<failed N>".
std::vector<std::string> NextResults(port::Port &p, std::size_t count, std::uint32_t size = 64)
{
    std::vector<std::string> results;
    auto buffer = std::make_unique<char[]>(size + 1);
    while (results.size() < count) {
        buffer[size] = '#';
        const port::Result r = p.Next(buffer.get(), size);
        CHECK_EQ(buffer[size], '#');
        switch (r.kind) {
        case port::Result::Bytes:
            CHECK(r.value <= size);
            results.emplace_back(buffer.get(), r.value);
            break;
        case port::Result::Events:
            results.push_back("<events " + std::to_string(r.value) + ">");
            break;
        case port::Result::Stopped:
            results.emplace_back("<stopped>");
            return results;
        case port::Result::Failed:
            results.push_back("<failed " + std::to_string(r.value) + ">");
            return results;
        }
    }
    return results;
}

// The far end's script, on a thread of its own: bytes and a pause after each; -1 as the pause
// stops the port instead (the close event), -2 sets the other time-outs, -3 takes the far end
// away (the pseudo-terminal's master closed, or ser2net stopped).
struct Step
{
    std::string bytes;
    int pauseMs;
};

// The reads' table runs on a pseudo-terminal and through ser2net in front of one, so the
// network port keeps the same time-out rules.
void Reads(Via via)
{
    struct Row
    {
        const char *name;
        port::Timeouts timeouts;
        std::vector<Step> far;
        std::vector<std::string> results;
        int atLeastMs; // before the last result
    };
    const port::Timeouts tool{100, 0, 0, 0, 0};
    const port::Timeouts changed{0, 0, 30, 0, 0};
    const Row rows[] = {
        // The interval counts from the last byte, not from the start of the read.
        {"reply in two writes after a quiet start",
         tool,
         {{"", 150}, {"OK_V2", 10}, {".13\r\n", 300}, {"", -1}},
         {"OK_V2.13\r\n", "<stopped>"},
         0},
        {"a pause longer than the interval cuts the stream",
         {30, 0, 0, 0, 0},
         {{"abc", 150}, {"de", 100}, {"", -1}},
         {"abc", "de", "<stopped>"},
         0},
        {"a total time-out ends a read with nothing", {0, 0, 50, 0, 0}, {}, {""}, 50},
        {"any byte ends the read",
         {port::kMaxDword, port::kMaxDword, 5000, 0, 0},
         {{"x", 0}},
         {"x"},
         0},
        {"new time-outs reach a read under way", {0, 0, 0, 0, 0}, {{"", 50}, {"", -2}}, {""}, 50},
        // Time-outs at their limits wait as good as forever, not "already expired".
        {"saturating totals",
         {0, port::kMaxDword, port::kMaxDword, 0, 0},
         {{"", 200}, {"", -1}},
         {"<stopped>"},
         200},
        {"interval and multiplier at their limits",
         {port::kMaxDword, port::kMaxDword, 0, 0, 0},
         {{"", 200}, {"", -1}},
         {"<stopped>"},
         200},
        // A pseudo-terminal has no line to err: nothing is taken for a mark.
        {"bytes like marks pass",
         tool,
         {{std::string("\xff\x00\xff"
                       "A\xff",
                       5),
           0}},
         {std::string("\xff\x00\xff"
                      "A\xff",
                      5)},
         0},
        {"the far end goes", tool, {{"", 50}, {"", -3}}, {"<failed 31>", "<failed 31>"}, 0},
    };
    for (const Row &row : rows) {
        LineUnderTest line(via);
        PtyPair &pty = line.pty;
        auto &p = line.port;
        CHECK(p != nullptr);
        CHECK(p->SetTimeouts(row.timeouts));
        const auto start = std::chrono::steady_clock::now();
        std::thread far([&] {
            for (const Step &step : row.far) {
                if (!step.bytes.empty())
                    pty.Send(step.bytes);
                if (step.pauseMs == -1)
                    p->Stop();
                else if (step.pauseMs == -2)
                    p->SetTimeouts(changed);
                else if (step.pauseMs == -3)
                    line.FarEndGoes();
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
            }
        });
        std::vector<std::string> results = NextResults(*p, row.results.size() - 1);
        if (results.size() + 1 == row.results.size())
            results.push_back(NextResults(*p, 1).back());
        const auto took = std::chrono::steady_clock::now() - start;
        far.join();
        if (results != row.results)
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": other results");
        CHECK(took >= std::chrono::milliseconds(row.atLeastMs));
    }
}

std::string Raw(std::initializer_list<unsigned char> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// Line errors come as the bytes the line discipline marks; a mark may be split between reads,
// and the bytes given never pass the room asked for. A FIFO sends what a terminal with marking
// would, in parts 30 ms apart.
void MarkedLineErrors()
{
    struct Row
    {
        const char *name;
        std::vector<std::string> parts;
        std::uint32_t size; // asked for by each read
        std::vector<std::string> results;
        std::uint32_t errors;
    };
    const std::string ev = "<events " + std::to_string(port::kEvErr) + ">";
    const Row rows[] = {
        {"a data FF", {Raw({0xff, 0xff, 'A'})}, 64, {Raw({0xff, 'A'})}, 0},
        {"a data FF, a byte at a time", {Raw({0xff, 0xff, 'A'})}, 1, {Raw({0xff}), "A"}, 0},
        {"a framing error", {Raw({0xff, 0, 'B'})}, 64, {"B", ev}, port::kCeFrame},
        {"a break split between reads",
         {Raw({0xff}), Raw({0}), Raw({0, 'C'})},
         64,
         {"C", ev},
         port::kCeBreak},
        {"a data FF split between reads",
         {Raw({0xff}), Raw({0xff, 'D'})},
         64,
         {Raw({0xff, 'D'})},
         0},
    };
    char dir[] = "/tmp/nmct-fifo-XXXXXX";
    CHECK(::mkdtemp(dir) != nullptr);
    const std::string fifo = std::string(dir) + "/line";
    CHECK_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int far = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    CHECK(far >= 0);
    for (const Row &row : rows) {
        auto p = port::OpenDevice(fifo);
        CHECK(p != nullptr);
        p->SetTimeouts({port::kMaxDword, 0, 0, 0, 0}); // each read gives what there is
        p->SetEventMask(port::kEvErr);
        std::thread sender([&] {
            for (const std::string &bytes : row.parts) {
                (void)!::write(far, bytes.data(), bytes.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
        const std::vector<std::string> results = NextResults(*p, row.results.size(), row.size);
        sender.join();
        std::uint32_t errors = 0;
        CHECK(p->ClearError(errors));
        if (results != row.results || errors != row.errors)
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": other results");
    }
    ::close(far);
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}

// A write nobody drains, with no time-out or one at its limit, waits until the stop; with a
// time-out it gives what went.
void WritesOnAPseudoTerminal()
{
    struct Row
    {
        std::uint32_t multiplier, constant;
        bool stopped;
    };
    const Row rows[] = {{0, 0, true}, {port::kMaxDword, 0, true}, {0, 50, false}};
    for (const Row &row : rows) {
        PtyPair pty;
        auto p = port::OpenDevice(pty.path);
        CHECK(p != nullptr);
        CHECK(p->SetTimeouts({0, 0, 0, row.multiplier, row.constant}));
        const std::vector<char> block(200000, 'w');
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            p->Stop();
        });
        const port::Result r = p->Write(block.data(), static_cast<std::uint32_t>(block.size()));
        stopper.join();
        CHECK_EQ(int(r.kind), int(row.stopped ? port::Result::Stopped : port::Result::Bytes));
        if (!row.stopped)
            CHECK(r.value > 0 && r.value < block.size());
        // The stop ends the writer's idle wait too.
        CHECK_EQ(int(p->WaitForWriterWork().kind), int(port::Result::Stopped));
    }
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    const port::Result r = p->Write("AAFAA", 5);
    CHECK_EQ(int(r.kind), int(port::Result::Bytes));
    CHECK_EQ(r.value, 5u);
    CHECK_EQ(pty.Receive(5), std::string("AAFAA"));
}

void SpeedsReadBackFromTheLine()
{
    struct Row
    {
        std::vector<std::uint32_t> rates; // set in turn
        bool lastTaken;
        std::uint32_t expected; // both directions
    };
    const Row rows[] = {
        {{14400}, true, 14400},
        {{14400, 9600}, true, 9600},
        {{19200, 0}, false, 19200},
    };
    for (const auto &row : rows) {
        PtyPair pty;
        auto p = port::OpenDevice(pty.path);
        CHECK(p != nullptr);
        port::LineState state;
        bool taken = true;
        for (std::uint32_t rate : row.rates) {
            CHECK(p->GetState(state));
            state.BaudRate = rate;
            taken = p->SetState(state);
        }
        CHECK_EQ(taken, row.lastTaken);
        port::posix::KernelTermios t{};
        CHECK_EQ(::ioctl(pty.slave, TCGETS2, &t), 0);
        CHECK_EQ(t.c_ispeed, speed_t{row.expected});
        CHECK_EQ(t.c_ospeed, speed_t{row.expected});
        CHECK(p->GetState(state));
        CHECK_EQ(state.BaudRate, row.expected);
        // What the line runs at is the kernel's word, also when changed behind the port.
        termios behind{};
        CHECK_EQ(::tcgetattr(pty.slave, &behind), 0);
        ::cfsetspeed(&behind, B4800);
        CHECK_EQ(::tcsetattr(pty.slave, TCSANOW, &behind), 0);
        CHECK(p->GetState(state));
        CHECK_EQ(state.BaudRate, 4800u);
    }
}

// What each byte size, parity, stop-bit setting and pair of flow characters puts into the
// terminal's flags, and what reads back from them.
void LineShapesInTheTerminalFlags()
{
    struct Row
    {
        std::uint8_t byteSize, parity, stopBits;
        char xon, xoff;
        tcflag_t flags; // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
        std::uint8_t stopBitsBack;
    };
    const Row rows[] = {
        {8, 0, 0, 17, 19, CS8, 0},
        {7, 1, 0, 'Q', 'S', CS7 | PARENB | PARODD, 0},
        {7, 2, 0, 19, 17, CS7 | PARENB, 0}, // swapped on purpose
        {8, 3, 0, 17, 19, CS8 | PARENB | PARODD | CMSPAR, 0},
        {8, 4, 0, 17, 19, CS8 | PARENB | CMSPAR, 0},
        {5, 0, 1, 17, 19, CS5 | CSTOPB, 2}, // 1.5 stop bits are sent as 2
        {6, 0, 2, 17, 19, CS6 | CSTOPB, 2},
    };
    for (const Row &row : rows) {
        port::LineState state;
        state.ByteSize = row.byteSize;
        state.Parity = row.parity;
        state.StopBits = row.stopBits;
        state.XonChar = row.xon;
        state.XoffChar = row.xoff;
        for (const bool marking : {true, false}) {
            const auto t = port::posix::TermiosFor(state, {}, marking);
            CHECK_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), row.flags);
            CHECK_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
            CHECK_EQ(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
            CHECK_EQ(t.c_iflag & (INPCK | PARMRK | IGNBRK),
                     marking ? tcflag_t(INPCK | PARMRK) : tcflag_t(IGNBRK));
            CHECK_EQ(int(t.c_cc[VMIN]), 1);
            CHECK_EQ(int(t.c_cc[VSTART]), int(row.xon));
            CHECK_EQ(int(t.c_cc[VSTOP]), int(row.xoff));
            // And what those flags read back as.
            port::LineState back;
            port::posix::ReadLineShape(t, back);
            CHECK_EQ(int(back.ByteSize), int(row.byteSize));
            CHECK_EQ(int(back.Parity), int(row.parity));
            CHECK_EQ(int(back.StopBits), int(row.stopBitsBack));
            CHECK_EQ(int(back.XonChar), int(row.xon));
            CHECK_EQ(int(back.XoffChar), int(row.xoff));
        }
    }
}

} // namespace

int main()
{
    std::vector<minitest::Case> cases = ThreadCases();
    const std::vector<minitest::Case> network = NetworkCases();
    cases.insert(cases.end(),
                 {
                     {"default device names", DefaultDeviceNames},
                     {"open is exclusive and needs a terminal", OpenIsExclusiveAndNeedsATerminal},
                     {"reads on a pseudo-terminal", [] { Reads(Via::Pty); }},
                     {"reads through ser2net, RFC 2217", [] { Reads(Via::Rfc2217); }},
                     {"reads through ser2net, raw", [] { Reads(Via::Raw); }},
                     {"marked line errors", MarkedLineErrors},
                     {"writes on a pseudo-terminal", WritesOnAPseudoTerminal},
                     {"speeds read back from the line", SpeedsReadBackFromTheLine},
                     {"line shapes in the terminal flags", LineShapesInTheTerminalFlags},
                 });
    cases.insert(cases.end(), network.begin(), network.end());
    return minitest::Run(cases);
}
