// The port layer and the reader and writer threads on Windows: the threads against the fake
// port (ThreadCases), then the Win32 port over a pair of joined COM ports named by
// NMCT_TEST_PORT (the port under test) and NMCT_TEST_PEER (the far end, driven with plain
// synchronous Win32 calls). Under Wine the pair is one pseudo-terminal behind each name; what a
// pseudo-terminal or Wine cannot show is skipped with the reason, where it shows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "ThreadCases.h"
#include "ThreadRigs.h"
#include "serial/platform/Port.h"
#include "tests/support/MiniTest.h"

using minitest::WaitUntil;
using Clock = std::chrono::steady_clock;

namespace {

const std::string kPrefix = "\\\\.\\";

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

struct PortPair
{
    std::string port, peer;
};

PortPair Pair()
{
    const char *port = std::getenv("NMCT_TEST_PORT");
    const char *peer = std::getenv("NMCT_TEST_PEER");
    if (port == nullptr || peer == nullptr || *port == '\0' || *peer == '\0')
        minitest::Skip("no pair of joined COM ports: set NMCT_TEST_PORT and NMCT_TEST_PEER "
                       "(scripts/windows-test.sh does under Wine)");
    return {port, peer};
}

// The far end of the line: a plain synchronous handle on the other port of the pair, at 9600
// baud, 8 data bits, no parity, no flow control.
class Peer
{
public:
    explicit Peer(const std::string &name)
        : handle(::CreateFileA((kPrefix + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr))
    {
        if (handle == INVALID_HANDLE_VALUE)
            minitest::Fail(__FILE__, __LINE__, "the peer port " + name + " does not open");
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ::GetCommState(handle, &dcb);
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        ::SetCommState(handle, &dcb);
        ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    }
    ~Peer() { ::CloseHandle(handle); }
    Peer(const Peer &) = delete;
    Peer &operator=(const Peer &) = delete;

    bool Send(const std::string &bytes)
    {
        DWORD written = 0;
        return ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                           nullptr) &&
               written == bytes.size();
    }
    // Reads until `count` bytes have come or the line stays quiet for `quietMs`.
    std::string Receive(std::size_t count, DWORD quietMs = 2000)
    {
        COMMTIMEOUTS t{20, 0, quietMs, 0, 0};
        ::SetCommTimeouts(handle, &t);
        std::string got;
        while (got.size() < count) {
            char chunk[4096];
            const DWORD want = static_cast<DWORD>(std::min(sizeof chunk, count - got.size()));
            DWORD n = 0;
            // A read that runs into its time-out may say so (Wine does) or just give less.
            if (!::ReadFile(handle, chunk, want, &n, nullptr) && ::GetLastError() != ERROR_TIMEOUT)
                break;
            if (n == 0)
                break;
            got.append(chunk, n);
        }
        return got;
    }
    // Takes in whatever is still on its way, until the line is quiet.
    std::size_t Drain() { return Receive(SIZE_MAX, 500).size(); }
    void SetDtr(bool on) { ::EscapeCommFunction(handle, on ? SETDTR : CLRDTR); }

private:
    HANDLE handle;
};

// The line the tool runs: 9600 baud, 8 data bits, no parity, 1 stop bit, no flow control, DTR
// and RTS held off.
port::LineState ToolLine()
{
    port::LineState s;
    s.BaudRate = 9600;
    s.Flags = port::kFlagBinary;
    s.XonLim = 500;
    s.XoffLim = 500;
    s.ByteSize = 8;
    s.Parity = 0;
    s.StopBits = 0;
    s.XonChar = 17;
    s.XoffChar = 19;
    return s;
}

// Opened as the component opens it: queues, purge, time-outs, then the line.
std::shared_ptr<port::Port> OpenLikeTheComponent(const std::string &name)
{
    std::shared_ptr<port::Port> p = port::OpenDevice(kPrefix + name);
    if (!p)
        minitest::Fail(__FILE__, __LINE__, "the port " + name + " does not open");
    CHECK(p->IsCommHandle());
    CHECK(p->Setup(4096, 4096));
    CHECK(p->Purge(port::kPurgeTxAbort | port::kPurgeRxAbort | port::kPurgeTxClear |
                   port::kPurgeRxClear));
    CHECK(p->SetTimeouts({100, 0, 0, 0, 0}));
    port::LineState current;
    CHECK(p->GetState(current));
    port::LineState line = ToolLine();
    line.EofChar = current.EofChar;
    line.EvtChar = current.EvtChar;
    CHECK(p->SetState(line));
    return p;
}

// Started with the priorities the component gives its threads.
struct PortReader : ReaderRig
{
    PortReader(std::shared_ptr<port::Port> p, std::uint16_t readSize)
        : ReaderRig(std::move(p), readSize)
    {
        reader.SetPriority(port::ThreadPriority::Highest);
        reader.Start();
    }
};

struct PortWriter : WriterRig
{
    explicit PortWriter(std::shared_ptr<port::Port> p) : WriterRig(std::move(p))
    {
        writer.SetPriority(port::ThreadPriority::AboveNormal);
    }
};

void DeviceNamesAreTheSystemsOwn()
{
    const std::pair<const char *, const char *> rows[] = {
        {"COM1", "COM1"}, {"com12", "com12"}, {"CNCA0", "CNCA0"}};
    for (const auto &[name, expected] : rows)
        CHECK_EQ(port::ResolveDevice(name), std::string(expected));
    auto previous = port::SetDeviceResolver([](const std::string &n) { return "X" + n; });
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("XCOM7"));
    port::SetDeviceResolver(previous);
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("COM7"));
}

void OpenTellsPortsFromTheRest()
{
    const PortPair pair = Pair();
    const auto file = std::filesystem::temp_directory_path() / "nmct-not-a-port.txt";
    std::ofstream(file) << "plain file";

    struct Row
    {
        const char *what;
        std::string name;
        bool opens, isPort;
    };
    const Row rows[] = {
        {"a COM port", pair.port, true, true},
        {"a port nobody has", "COM250", false, false},
        {"a plain file", file.string(), true, false},
    };
    for (const auto &row : rows) {
        const auto p = port::OpenDevice(kPrefix + row.name);
        if ((p != nullptr) != row.opens)
            minitest::Fail(__FILE__, __LINE__, std::string(row.what) + ": wrong open result");
        if (p != nullptr && p->IsCommHandle() != row.isPort)
            minitest::Fail(__FILE__, __LINE__, std::string(row.what) + ": wrong device type");
    }
    std::filesystem::remove(file);
    // Network ports are not built here: a URL is refused with that reason.
    port::OpenFailure failure;
    CHECK(port::OpenDevice(kPrefix + "rfc2217://127.0.0.1:3001", &failure) == nullptr);
    CHECK(failure.systemText.find("not built") != std::string::npos);

    // A replaced resolver maps a port name to another device, or to a full path of its own.
    for (const std::string &target : {pair.port, kPrefix + pair.port}) {
        auto previous = port::SetDeviceResolver(
            [&](const std::string &n) { return n == "COM42" ? target : n; });
        const auto p = port::OpenDevice(kPrefix + "COM42");
        port::SetDeviceResolver(previous);
        CHECK(p != nullptr && p->IsCommHandle());
    }
}

void OpenIsExclusive()
{
    const PortPair pair = Pair();
    auto first = port::OpenDevice(kPrefix + pair.port);
    CHECK(first != nullptr);
    const bool secondOpened = port::OpenDevice(kPrefix + pair.port) != nullptr;
    if (secondOpened && UnderWine())
        minitest::Skip("Wine opens a COM port a second time although the first handle shares "
                       "nothing, so an exclusive open cannot be shown here");
    CHECK(!secondOpened);
    first.reset();
    CHECK(port::OpenDevice(kPrefix + pair.port) != nullptr);
}

// Sets each row's line state on the port and compares what it reads back; a mismatch under Wine
// is skipped with `wineReason` when Wine (or the pseudo-terminal behind it) cannot keep it.
void CheckReadBack(
    const std::vector<port::LineState> &rows,
    const std::function<bool(const port::LineState &, const port::LineState &)> &same,
    const char *wineReason)
{
    const PortPair pair = Pair();
    auto p = OpenLikeTheComponent(pair.port);
    for (const auto &row : rows) {
        port::LineState current;
        CHECK(p->GetState(current));
        port::LineState wanted = row;
        wanted.EofChar = current.EofChar;
        CHECK(p->SetState(wanted));
        port::LineState got;
        CHECK(p->GetState(got));
        if (!same(got, wanted)) {
            if (wineReason != nullptr && UnderWine())
                minitest::Skip(wineReason);
            minitest::Fail(__FILE__, __LINE__, "a line setting did not read back");
        }
    }
}

port::LineState Line(std::uint32_t baud, std::uint32_t flags, std::uint8_t stopBits = 0)
{
    port::LineState s = ToolLine();
    s.BaudRate = baud;
    s.Flags = port::kFlagBinary | flags;
    s.StopBits = stopBits;
    return s;
}

void RateStopBitsAndSoftwareFlowReadBack()
{
    const std::vector<port::LineState> rows = {
        Line(9600, 0),
        Line(19200, port::kFlagOutX | port::kFlagInX, 2),
        Line(115200, port::kFlagOutX),
        Line(4800, port::kFlagInX),
        Line(9600, 0),
    };
    const auto same = [](const port::LineState &a, const port::LineState &b) {
        const std::uint32_t flow = port::kFlagOutX | port::kFlagInX;
        return a.BaudRate == b.BaudRate && a.StopBits == b.StopBits &&
               (a.Flags & flow) == (b.Flags & flow) && a.XonChar == b.XonChar &&
               a.XoffChar == b.XoffChar;
    };
    CheckReadBack(rows, same, nullptr);
}

void DtrAndRtsControlReadBack()
{
    std::vector<port::LineState> rows;
    const std::pair<std::uint32_t, std::uint32_t> controls[] = {{0, 0}, {1, 0}, {0, 1},
                                                                {1, 1}, {2, 2}, {0, 0}};
    for (const auto &[dtr, rts] : controls)
        rows.push_back(Line(9600, dtr << port::kFlagDtrShift | rts << port::kFlagRtsShift));
    const auto same = [](const port::LineState &a, const port::LineState &b) {
        const std::uint32_t lines =
            port::kControlMask << port::kFlagDtrShift | port::kControlMask << port::kFlagRtsShift;
        return (a.Flags & lines) == (b.Flags & lines);
    };
    CheckReadBack(rows, same,
                  "Wine reports DTR and RTS as held on for a pseudo-terminal whatever was set: "
                  "it has no modem lines to read them from");
}

void DataBitsAndParityReadBack()
{
    std::vector<port::LineState> rows;
    const std::pair<std::uint8_t, std::uint8_t> frames[] = {{7, 2}, {8, 1}, {7, 0}, {8, 0}};
    for (const auto &[bits, parity] : frames) {
        port::LineState s = ToolLine();
        s.ByteSize = bits;
        s.Parity = parity;
        rows.push_back(s);
    }
    const auto same = [](const port::LineState &a, const port::LineState &b) {
        return a.ByteSize == b.ByteSize && a.Parity == b.Parity;
    };
    CheckReadBack(rows, same,
                  "a pseudo-terminal always holds 8 data bits without parity, whatever Wine "
                  "asks of it");
}

void LimitsCharactersAndOtherFlagsReadBack()
{
    port::LineState s =
        Line(9600, port::kFlagParity | port::kFlagDsrSensitivity | port::kFlagTxContinueOnXoff |
                       port::kFlagErrorChar | port::kFlagNull);
    s.XonLim = 300;
    s.XoffLim = 200;
    s.ErrorChar = '?';
    s.EvtChar = '\n';
    const std::vector<port::LineState> rows = {s, ToolLine()};
    const auto same = [](const port::LineState &a, const port::LineState &b) {
        return a.Flags == b.Flags && a.XonLim == b.XonLim && a.XoffLim == b.XoffLim &&
               a.ErrorChar == b.ErrorChar && a.EvtChar == b.EvtChar;
    };
    CheckReadBack(rows, same,
                  "Wine keeps only what the terminal settings hold: the flow limits, the error "
                  "and event characters and the parity-check, DSR-sensitivity, continue-on-XOFF, "
                  "replace and null-strip flags are not kept");
}

void TimeoutsReadBack()
{
    const PortPair pair = Pair();
    auto p = OpenLikeTheComponent(pair.port);
    const port::Timeouts rows[] = {
        {100, 0, 0, 0, 0}, {port::kMaxDword, 0, 0, 0, 0}, {10, 20, 30, 40, 50}, {100, 0, 0, 0, 0}};
    for (const auto &row : rows) {
        CHECK(p->SetTimeouts(row));
        port::Timeouts got;
        CHECK(p->GetTimeouts(got));
        CHECK(got == row);
    }
}

// A read that runs into its total time-out has completed with what came, possibly nothing;
// the system reports that as a time-out, which is no failure.
void ReadRunsIntoItsTotalTimeout()
{
    const PortPair pair = Pair();
    Peer peer(pair.peer);
    auto p = OpenLikeTheComponent(pair.port);
    CHECK(p->SetTimeouts({0, 0, 300, 0, 0}));
    char buffer[64];
    for (const std::string sent : {"", "xyz"}) {
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!sent.empty())
                peer.Send(sent);
        });
        const port::Result r = p->Next(buffer, sizeof buffer);
        sender.join();
        CHECK_EQ(int(r.kind), int(port::Result::Bytes));
        CHECK_EQ(std::string(buffer, r.value), sent);
    }
    p->EndReader();
}

void ReaderCutsTheStreamAtPausesOfMoreThan100Ms()
{
    struct Row
    {
        const char *what;
        std::uint16_t readSize;
        std::vector<std::pair<std::string, int>> sends; // bytes, then a pause in ms
        std::vector<std::string> chunks;
    };
    const Row rows[] = {
        {"one burst", 340, {{"OK_V1.2", 0}}, {"OK_V1.2"}},
        {"a short pause inside", 340, {{"abc", 30}, {"defg", 0}}, {"abcdefg"}},
        {"a long pause between", 340, {{"abc", 400}, {"de", 0}}, {"abc", "de"}},
        {"longer than a read", 4, {{"abcdefghij", 0}}, {"abcd", "efgh", "ij"}},
    };
    const PortPair pair = Pair();
    Peer peer(pair.peer);
    for (const auto &row : rows) {
        PortReader rig(OpenLikeTheComponent(pair.port), row.readSize); // a stop is for good
        std::this_thread::sleep_for(std::chrono::milliseconds(100));   // the first read is out
        Clock::time_point lastSent;
        for (const auto &[bytes, pauseMs] : row.sends) {
            CHECK(peer.Send(bytes));
            lastSent = Clock::now();
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
        CHECK(WaitUntil([&] { return rig.Chunks().size() >= row.chunks.size(); }));
        const auto quiet = Clock::now() - lastSent;
        std::this_thread::sleep_for(std::chrono::milliseconds(300)); // nothing more comes
        if (rig.Chunks() != row.chunks)
            minitest::Fail(__FILE__, __LINE__, std::string(row.what) + ": wrong chunks");
        // The last chunk ends on the quiet line, not on a full buffer.
        if (row.readSize == 340 && quiet < std::chrono::milliseconds(80))
            minitest::Fail(__FILE__, __LINE__, std::string(row.what) + ": delivered too early");
        // Also where the line-event wait is refused (Wine), the reader reads on.
        CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), 0u);
        CHECK(rig.Stop());
    }
}

void ReaderStopsAtOnceWithAReadPending()
{
    const PortPair pair = Pair();
    Peer peer(pair.peer);
    auto p = OpenLikeTheComponent(pair.port);
    PortReader rig(p, 340);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    CHECK(rig.Stop());
    CHECK(Clock::now() - start < std::chrono::seconds(1));
    CHECK_EQ(rig.target->Count(), 0u);
    // Bytes that come after the stop are left for the next open.
    CHECK(peer.Send("late"));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    CHECK_EQ(rig.target->Count(), 0u);
}

void WriterReportsEmptyOnceAfterOpen()
{
    const PortPair pair = Pair();
    auto p = OpenLikeTheComponent(pair.port);
    PortWriter rig(p);
    CheckWriterReportsEmptyOnceAfterStart(rig, std::chrono::milliseconds(200));
}

void WriterWritesQueuedBlocksInOrder()
{
    const PortPair pair = Pair();
    Peer peer(pair.peer);
    auto p = OpenLikeTheComponent(pair.port);
    PortWriter rig(p);
    const std::string blocks[] = {"AAFAA", std::string(1000, 'x') + "|", "AAFA1",
                                  std::string(3000, 'y') + "|"};
    std::string all;
    for (const auto &b : blocks) {
        CHECK(rig.Queue(b));
        all += b;
    }
    rig.writer.Start();
    CHECK_EQ(peer.Receive(all.size()), all);
    CHECK(WaitUntil([&] { return rig.target->Count() == 1; }));
    CHECK_EQ(rig.target->Items()[0].id, kNotifySendDataEmpty);
    CHECK(*rig.sendIdle);
    // The next block gives the next notice.
    CHECK(rig.Queue("AAFA0"));
    CHECK_EQ(peer.Receive(5), std::string("AAFA0"));
    CHECK(WaitUntil([&] { return rig.target->Count() == 2; }));
    CHECK_EQ(rig.target->CountOf(kNotifySendDataEmpty), 2u);
}

void WriterStopsDuringAPendingWrite()
{
    const PortPair pair = Pair();
    Peer peer(pair.peer); // opened, but it reads nothing until the writer has stopped
    auto p = OpenLikeTheComponent(pair.port);
    PortWriter rig(p);
    constexpr int kBlocks = 32;
    const std::string block(65535, 'z');
    for (int i = 0; i < kBlocks; ++i)
        CHECK(rig.Queue(block));
    rig.writer.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    CHECK(!*rig.sendIdle); // still writing: the line is full
    const auto start = Clock::now();
    CHECK(rig.Stop());
    CHECK(Clock::now() - start < std::chrono::seconds(2));
    CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), 0u);
    CHECK_EQ(rig.target->CountOf(kNotifySendDataEmpty), 0u);
    CHECK(*rig.sendIdle);
    CHECK(!rig.Queue("too late"));
    CHECK(peer.Drain() < block.size() * kBlocks);
}

// Whether the system gives line events on the port at all, asked with its own calls.
bool LineEventsGiven(const std::string &name)
{
    const HANDLE h = ::CreateFileA((kPrefix + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD events = 0;
    ::SetCommMask(h, EV_RLSD);
    const bool given =
        ::WaitCommEvent(h, &events, &overlapped) || ::GetLastError() == ERROR_IO_PENDING;
    ::CancelIoEx(h, &overlapped);
    ::GetOverlappedResult(h, &overlapped, &events, TRUE);
    ::CloseHandle(overlapped.hEvent);
    ::CloseHandle(h);
    return given;
}

void LineEventsReachTheReader()
{
    const PortPair pair = Pair();
    if (!LineEventsGiven(pair.port) && UnderWine())
        minitest::Skip("Wine cannot report line events on a pseudo-terminal: its line-event "
                       "wait there fails as not supported (the reader then reads on without "
                       "them, as the chunking case shows)");
    Peer peer(pair.peer);
    auto p = OpenLikeTheComponent(pair.port);
    // The peer's DTR drives this port's carrier detect on a joined pair.
    PortReader rig(p, 340);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.SetDtr(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer.SetDtr(false);
    const bool seen = WaitUntil([&] {
        for (const auto &n : rig.target->Items())
            if (n.id == kNotifyModemStateChange && (n.lParam & kModemCarrierDetect) != 0)
                return true;
        return false;
    });
    if (!seen)
        minitest::Fail(__FILE__, __LINE__,
                       "no carrier-detect change: the pair must join the peer's DTR to this "
                       "port's DCD");
    CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), 0u);
}

} // namespace

int main()
{
    std::vector<minitest::Case> cases = ThreadCases();
    cases.insert(
        cases.end(),
        {
            {"device names are the system's own", DeviceNamesAreTheSystemsOwn},
            {"open tells ports from the rest", OpenTellsPortsFromTheRest},
            {"open is exclusive", OpenIsExclusive},
            {"rate, stop bits and software flow read back", RateStopBitsAndSoftwareFlowReadBack},
            {"DTR and RTS control read back", DtrAndRtsControlReadBack},
            {"data bits and parity read back", DataBitsAndParityReadBack},
            {"limits, characters and other flags read back", LimitsCharactersAndOtherFlagsReadBack},
            {"time-outs read back", TimeoutsReadBack},
            {"read runs into its total time-out", ReadRunsIntoItsTotalTimeout},
            {"reader cuts the stream at pauses of more than 100 ms",
             ReaderCutsTheStreamAtPausesOfMoreThan100Ms},
            {"reader stops at once with a read pending", ReaderStopsAtOnceWithAReadPending},
            {"writer reports empty once after open", WriterReportsEmptyOnceAfterOpen},
            {"writer writes queued blocks in order", WriterWritesQueuedBlocksInOrder},
            {"line events reach the reader", LineEventsReachTheReader},
            // Last: it leaves the line full until the peer has drained it.
            {"writer stops during a pending write", WriterStopsDuringAPendingWrite},
        });
    return minitest::Run(cases);
}
