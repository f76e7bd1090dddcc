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

#include "ThreadCases.h"
#include "serial/platform/Port.h"
#include "serial/platform/posix/LineSettings.h"
#include "serial/platform/posix/Names.h"
#include "tests/support/MiniTest.h"
#include "tests/support/PtyPair.h"

// The kernel's own view of the speeds, rates beyond the B-constants included (the C library's
// header lacks it).
struct termios2
{
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

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

std::unique_ptr<port::Overlapped> NewRecord()
{
    auto r = std::make_unique<port::Overlapped>();
    r->event = port::Event::Create(true);
    return r;
}

void ReadTimeoutsOnAPseudoTerminal()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    char buffer[64];
    auto record = NewRecord();

    // Interval MAXDWORD with zero totals: returns at once, even with nothing there.
    p->SetTimeouts({port::kMaxDword, 0, 0, 0, 0});
    port::IoResult r = p->Read(buffer, sizeof buffer, *record);
    CHECK(r.Ok());
    CHECK_EQ(r.Count, 0u);

    // A total time-out completes an idle read with 0 bytes, also for a caller that only asks
    // for the result without waiting.
    p->SetTimeouts({0, 0, 50, 0, 0});
    r = p->Read(buffer, sizeof buffer, *record);
    CHECK_EQ(r.Error, port::kErrorIoPending);
    CHECK(minitest::WaitUntil(
        [&] { return (r = p->GetResult(*record, false)).Error != port::kErrorIoIncomplete; },
        1000));
    CHECK(r.Ok());
    CHECK_EQ(r.Count, 0u);

    // New time-outs reach a read whose waiter is already asleep: without a total it would
    // wait for a byte forever.
    p->SetTimeouts({0, 0, 0, 0, 0});
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorIoPending);
    std::atomic<bool> woken{false};
    std::thread waiter([&] {
        port::WaitAny({record->event.get()});
        woken = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    p->SetTimeouts({0, 0, 30, 0, 0});
    const bool intime = minitest::WaitUntil([&] { return woken.load(); }, 2000);
    if (!intime)
        pty.Send("x"); // lets the waiter go
    waiter.join();
    CHECK(intime);
    r = p->GetResult(*record, false);
    CHECK(r.Ok());
    CHECK_EQ(r.Count, 0u);

    // The interval cuts a burst into one chunk; bytes the line discipline marks pass through.
    p->SetTimeouts({30, 0, 0, 0, 0});
    r = p->Read(buffer, sizeof buffer, *record);
    CHECK_EQ(r.Error, port::kErrorIoPending);
    const std::string burst("\xff\x00\xff"
                            "A\xff",
                            5);
    CHECK(pty.Send(burst));
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    r = p->GetResult(*record, false);
    CHECK(r.Ok());
    CHECK_EQ(std::string(buffer, r.Count), burst);
}

// Time-outs at their limits: multiplier × size must not overflow into "already expired".
void TimeoutsAtTheirLimitsKeepIoPending()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    auto record = NewRecord();
    std::vector<char> buffer(200000, 'w');

    const auto completes = [&] {
        return p->GetResult(*record, false).Error != port::kErrorIoIncomplete;
    };
    p->SetTimeouts({port::kMaxDword, port::kMaxDword, 0, 0, 0});
    CHECK_EQ(p->Read(buffer.data(), 4096, *record).Error, port::kErrorIoPending);
    CHECK(!minitest::WaitUntil(completes, 150));
    p->Cancel(*record);

    // Nobody drains the far end, so the write cannot finish.
    p->SetTimeouts({0, 0, 0, port::kMaxDword, 0});
    CHECK_EQ(p->Write(buffer.data(), static_cast<std::uint32_t>(buffer.size()), *record).Error,
             port::kErrorIoPending);
    CHECK(!minitest::WaitUntil(completes, 150));
    p->Cancel(*record);
}

// A record may outlive the port it was used on; it must not call back into it.
void RecordOutlivesItsPort()
{
    PtyPair pty;
    auto record = NewRecord();
    {
        auto p = port::OpenDevice(pty.path);
        CHECK(p != nullptr);
        char buffer[8];
        CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorIoPending);
    }
    CHECK_EQ(record->Status, std::uint32_t{port::kErrorOperationAborted});
    record.reset();
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
        termios2 t{};
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

// What each byte size, parity and stop-bit setting puts into the terminal's flags, and what
// reads back from them.
void LineShapesInTheTerminalFlags()
{
    struct Row
    {
        std::uint8_t byteSize, parity, stopBits;
        tcflag_t flags; // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB
        std::uint8_t stopBitsBack;
    };
    const Row rows[] = {
        {8, 0, 0, CS8, 0},
        {7, 1, 0, CS7 | PARENB | PARODD, 0},
        {7, 2, 0, CS7 | PARENB, 0},
        {8, 3, 0, CS8 | PARENB | PARODD | CMSPAR, 0},
        {8, 4, 0, CS8 | PARENB | CMSPAR, 0},
        {5, 0, 1, CS5 | CSTOPB, 2}, // 1.5 stop bits are sent as 2
        {6, 0, 2, CS6 | CSTOPB, 2},
    };
    for (const Row &row : rows) {
        port::LineState state;
        state.ByteSize = row.byteSize;
        state.Parity = row.parity;
        state.StopBits = row.stopBits;
        for (const bool marking : {true, false}) {
            const termios t = port::posix::TermiosFor(state, termios{}, marking);
            CHECK_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB), row.flags);
            CHECK_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
            CHECK_EQ(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
            CHECK_EQ(t.c_iflag & (INPCK | PARMRK | IGNBRK),
                     marking ? tcflag_t(INPCK | PARMRK) : tcflag_t(IGNBRK));
            CHECK_EQ(int(t.c_cc[VMIN]), 1);
            // And what those flags read back as.
            port::LineState back;
            port::posix::ReadLineShape(t, back);
            CHECK_EQ(int(back.ByteSize), int(row.byteSize));
            CHECK_EQ(int(back.Parity), int(row.parity));
            CHECK_EQ(int(back.StopBits), int(row.stopBitsBack));
        }
    }
}

// Applying a line state may take a USB adapter's control transfers; a read that is ready
// meanwhile is not held up behind it.
void SlowLineStateDoesNotHoldUpAReadyRead()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    std::atomic<bool> applying{false};
    auto previous = port::posix::SetDeviceStandIns({nullptr, [&] {
                                                        applying = true;
                                                        std::this_thread::sleep_for(
                                                            std::chrono::milliseconds(1500));
                                                    }});
    p->SetTimeouts({port::kMaxDword, port::kMaxDword, 5000, 0, 0}); // any byte completes it
    char buffer[16];
    auto record = NewRecord();
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorIoPending);
    port::LineState state;
    CHECK(p->GetState(state));
    state.BaudRate = 19200;
    std::thread setter([&] { p->SetState(state); });
    CHECK(minitest::WaitUntil([&] { return applying.load(); }));
    const auto sent = std::chrono::steady_clock::now();
    CHECK(pty.Send("ready"));
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    const auto took = std::chrono::steady_clock::now() - sent;
    setter.join();
    port::posix::SetDeviceStandIns(previous);
    CHECK(took < std::chrono::milliseconds(700));
    const port::IoResult r = p->GetResult(*record, false);
    CHECK(r.Ok());
    CHECK_EQ(std::string(buffer, r.Count), std::string("ready"));
}

// A device with modem lines (a stand-in gives its counters): a carrier change is reported
// once, not again while nothing changes, and the port closes at once whatever the process did
// with its signals, which it leaves as it found them.
void ModemWatchStopsWhateverTheSignals()
{
    struct sigaction restarting
    {
    };
    restarting.sa_handler = [](int) {};
    restarting.sa_flags = SA_RESTART;
    struct sigaction ignored
    {
    };
    ignored.sa_handler = SIG_IGN;
    struct sigaction byDefault
    {
    };
    byDefault.sa_handler = SIG_DFL;
    std::atomic<std::uint32_t> carrier{0};
    auto previous = port::posix::SetDeviceStandIns({[&](int, port::posix::ModemCounts &c) {
                                                        c = {carrier.load(), 0};
                                                        return true;
                                                    },
                                                    nullptr});
    for (const struct sigaction *disposition : {&byDefault, &ignored, &restarting}) {
        for (int signal : {SIGUSR1, SIGUSR2})
            ::sigaction(signal, disposition, nullptr);
        {
            PtyPair pty;
            auto p = port::OpenDevice(pty.path);
            CHECK(p != nullptr);
            CHECK(p->SetMask(port::kEvRlsd | port::kEvRing));
            auto record = NewRecord();
            std::uint32_t events = 0;
            CHECK_EQ(p->WaitEvent(events, *record).Error, port::kErrorIoPending);
            ++carrier;
            CHECK_EQ(port::WaitAny({record->event.get()}), 0);
            CHECK(p->GetResult(*record, false).Ok());
            CHECK_EQ(events, port::kEvRlsd);
            // A change that is due to be seen just as the wait is asked for again is reported
            // by that wait, whether it completes at once or its event is set.
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
            ++carrier;
            events = 0;
            const bool atOnce = p->WaitEvent(events, *record).Ok();
            CHECK(atOnce || minitest::WaitUntil([&] { return record->event->IsSet(); }, 500));
            CHECK_EQ(events, port::kEvRlsd);
            CHECK_EQ(p->WaitEvent(events, *record).Error, port::kErrorIoPending);
            CHECK(!minitest::WaitUntil(
                [&] { return p->GetResult(*record, false).Error != port::kErrorIoIncomplete; },
                300));
            const auto start = std::chrono::steady_clock::now();
            p.reset();
            CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(1));
        }
        for (int signal : {SIGUSR1, SIGUSR2}) {
            struct sigaction now
            {
            };
            ::sigaction(signal, nullptr, &now);
            CHECK(now.sa_handler == disposition->sa_handler);
            CHECK_EQ(now.sa_flags & SA_RESTART, disposition->sa_flags & SA_RESTART);
        }
    }
    for (int signal : {SIGUSR1, SIGUSR2})
        ::sigaction(signal, &byDefault, nullptr);
    port::posix::SetDeviceStandIns(previous);
}

void VanishedFarEndIsAnIoError()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    p->SetTimeouts({100, 0, 0, 0, 0});
    char buffer[16];
    auto record = NewRecord();
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorIoPending);
    pty.CloseMaster();
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
    CHECK_EQ(p->GetResult(*record, false).Error, port::kErrorGenFailure);
    CHECK_EQ(p->Read(buffer, sizeof buffer, *record).Error, port::kErrorGenFailure);
}

// A lone 0xFF left from one read and a data byte in the next make two bytes; with room for one
// the second waits for the next read instead of landing past the buffer. A FIFO sends what a
// terminal's error marking never would.
void MarkDecodingStaysWithinTheBuffer()
{
    char dir[] = "/tmp/nmct-fifo-XXXXXX";
    CHECK(::mkdtemp(dir) != nullptr);
    const std::string fifo = std::string(dir) + "/line";
    CHECK_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int far = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    CHECK(far >= 0);
    {
        auto p = port::OpenDevice(fifo);
        CHECK(p != nullptr);
        p->SetTimeouts({port::kMaxDword, 0, 0, 0, 0}); // each read gives what is there
        auto record = NewRecord();
        auto buffer = std::make_unique<char[]>(2);
        std::string got;
        for (const char *bytes : {"\xff", "A", "", "B"}) {
            CHECK_EQ(::write(far, bytes, std::strlen(bytes)), ssize_t(std::strlen(bytes)));
            buffer[1] = '#';
            const port::IoResult r = p->Read(buffer.get(), 1, *record);
            CHECK(r.Ok());
            CHECK(r.Count <= 1);
            CHECK_EQ(buffer[1], '#');
            got.append(buffer.get(), r.Count);
        }
        CHECK_EQ(got, std::string("\xff"
                                  "AB"));
    }
    ::close(far);
    ::unlink(fifo.c_str());
    ::rmdir(dir);
}

void WriteReachesTheFarEnd()
{
    PtyPair pty;
    auto p = port::OpenDevice(pty.path);
    CHECK(p != nullptr);
    auto record = NewRecord();
    const port::IoResult r = p->Write("AAFAA", 5, *record);
    CHECK(r.Ok() || r.Error == port::kErrorIoPending);
    CHECK_EQ(pty.Receive(5), std::string("AAFAA"));
}

} // namespace

int main()
{
    std::vector<minitest::Case> cases = ThreadCases();
    cases.insert(
        cases.end(),
        {
            {"default device names", DefaultDeviceNames},
            {"open is exclusive and needs a terminal", OpenIsExclusiveAndNeedsATerminal},
            {"read time-outs on a pseudo-terminal", ReadTimeoutsOnAPseudoTerminal},
            {"vanished far end is an I/O error", VanishedFarEndIsAnIoError},
            {"write reaches the far end", WriteReachesTheFarEnd},
            {"time-outs at their limits keep I/O pending", TimeoutsAtTheirLimitsKeepIoPending},
            {"a record outlives its port", RecordOutlivesItsPort},
            {"modem lines: one report per change, a stop whatever the signals",
             ModemWatchStopsWhateverTheSignals},
            {"speeds read back from the line", SpeedsReadBackFromTheLine},
            {"mark decoding stays within the buffer", MarkDecodingStaysWithinTheBuffer},
            {"line shapes in the terminal flags", LineShapesInTheTerminalFlags},
            {"a slow line state does not hold up a ready read",
             SlowLineStateDoesNotHoldUpAReadyRead},

        });
    return minitest::Run(cases);
}
