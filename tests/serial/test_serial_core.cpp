// The port layer and the reader and writer threads, without Qt: the threads against the
// scripted fake port and a recording notification target, the Linux port against
// pseudo-terminals.
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>

#include "CommThreads.h"
#include "MiniTest.h"
#include "PtyPair.h"
#include "platform/FakePort.h"

using minitest::WaitUntil;

namespace {

struct Posted
{
    std::uint32_t id, wParam, lParam;
    std::string block;
};

class RecordingTarget final : public port::NotifyTarget
{
public:
    bool Post(port::Notification n) override
    {
        std::lock_guard lock(mutex);
        if (n.Id == refusedId)
            return false;
        std::string block;
        if (n.Block)
            block.assign(n.Block.get(), n.WParam + 1); // the zero byte included
        posted.push_back({n.Id, n.WParam, n.LParam, block});
        return true;
    }
    std::vector<Posted> Items() const
    {
        std::lock_guard lock(mutex);
        return posted;
    }
    std::size_t Count() const { return Items().size(); }
    std::size_t CountOf(std::uint32_t id) const
    {
        std::size_t n = 0;
        for (const auto &p : Items())
            n += p.id == id;
        return n;
    }
    void Refuse(std::uint32_t id)
    {
        std::lock_guard lock(mutex);
        refusedId = id;
    }

private:
    mutable std::mutex mutex;
    std::vector<Posted> posted;
    std::uint32_t refusedId = 0;
};

// A reader on the fake port, started and waiting for its first read.
struct ReaderRig
{
    port::FakePort port;
    std::unique_ptr<port::Event> close = port::Event::Create(false);
    RecordingTarget target;
    TReadThread reader;

    explicit ReaderRig(std::uint16_t readSize = 340, std::uint16_t bufferSize = 2048)
    {
        reader.PortHandle = &port;
        reader.CloseEvent = close.get();
        reader.NotifyWindow = &target;
        reader.ReadSize = readSize;
        reader.BufferSize = bufferSize;
        reader.Start();
        WaitUntil([this] { return port.ReadPending() && port.EventPending(); });
    }
    ~ReaderRig()
    {
        close->Set();
        port.Purge(port::kPurgeRxAbort | port::kPurgeRxClear);
    }
    bool Ended() { return reader.WaitFor(3000); }
};

struct WriterRig
{
    port::FakePort port;
    std::unique_ptr<port::Event> close = port::Event::Create(false);
    RecordingTarget target;
    std::atomic<bool> sendIdle{false};
    TWriteThread writer;

    WriterRig()
    {
        writer.PortHandle = &port;
        writer.CloseEvent = close.get();
        writer.NotifyWindow = &target;
        writer.SendIdleRef = &sendIdle;
    }
    ~WriterRig()
    {
        close->Set();
        port.Purge(port::kPurgeTxAbort | port::kPurgeTxClear);
    }
    bool Queue(const std::string &bytes)
    {
        std::unique_ptr<char[]> block(new char[bytes.size() + 1]());
        bytes.copy(block.get(), bytes.size());
        return writer.PostRequestWrite(std::move(block), static_cast<std::uint16_t>(bytes.size()));
    }
};

void WaitAnyGivesLowestSignalledIndex()
{
    const std::vector<std::pair<std::vector<int>, int>> rows = {
        {{0, 1, 2}, 0}, {{1, 2}, 1}, {{2}, 2}, {{0, 2}, 0}};
    for (const auto &[signalled, expected] : rows) {
        auto a = port::Event::Create(false), b = port::Event::Create(false),
             c = port::Event::Create(false);
        port::Event *events[] = {a.get(), b.get(), c.get()};
        for (int i : signalled)
            events[i]->Set();
        CHECK_EQ(port::WaitAny({a.get(), b.get(), c.get()}), expected);
        // Manual reset: waiting does not consume the signal.
        CHECK_EQ(port::WaitAny({a.get(), b.get(), c.get()}), expected);
    }
}

void ReaderDeliversZeroTerminatedChunks()
{
    ReaderRig rig(4);
    rig.port.PushData("abcdefghij");
    CHECK(WaitUntil([&] { return rig.target.Count() == 3; }));
    const auto items = rig.target.Items();
    const std::string expected[] = {std::string("abcd\0", 5), std::string("efgh\0", 5),
                                    std::string("ij\0", 3)};
    for (int i = 0; i < 3; ++i) {
        CHECK_EQ(items[i].id, kNotifyReceiveData);
        CHECK_EQ(items[i].block, expected[i]);
        CHECK_EQ(items[i].wParam, expected[i].size() - 1);
    }
}

void ReaderNeverReadsMoreThanItsBuffer()
{
    ReaderRig rig(100, 8);
    rig.port.PushData(std::string(20, 'x'));
    CHECK(WaitUntil([&] { return rig.target.Count() == 3; }));
    const auto items = rig.target.Items();
    CHECK_EQ(items[0].wParam, 8u);
    CHECK_EQ(items[1].wParam, 8u);
    CHECK_EQ(items[2].wParam, 4u);
}

void ReaderReportsLineEvents()
{
    struct Row
    {
        const char *name;
        std::uint32_t events, errors;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> expected; // id, lParam
    };
    const Row rows[] = {
        {"carrier detect", port::kEvRlsd, 0, {{1028, 8}}},
        {"ring", port::kEvRing, 0, {{1028, 4}}},
        {"both", port::kEvRlsd | port::kEvRing, 0, {{1028, 12}}},
        {"framing error", port::kEvErr, port::kCeFrame, {{1026, 0x8}}},
        {"error then modem",
         port::kEvErr | port::kEvRlsd,
         port::kCeBreak,
         {{1026, 0x10}, {1028, 8}}},
    };
    for (const auto &row : rows) {
        ReaderRig rig;
        CHECK_EQ(rig.port.Mask(), 0x1A0u);
        rig.port.PushLineEvent(row.events, row.errors);
        CHECK(WaitUntil([&] { return rig.target.Count() == row.expected.size(); }));
        const auto items = rig.target.Items();
        for (std::size_t i = 0; i < row.expected.size(); ++i) {
            CHECK_EQ(items[i].id, row.expected[i].first);
            CHECK_EQ(items[i].lParam, row.expected[i].second);
        }
        // Reading goes on after a line event.
        rig.port.PushData("ok");
        CHECK(WaitUntil([&] { return rig.target.CountOf(kNotifyReceiveData) == 1; }));
        CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), 0u);
    }
}

void ReaderEndsSilentlyOrWithHangup()
{
    struct Row
    {
        const char *name;
        std::function<void(ReaderRig &)> act;
        std::size_t hangups;
    };
    const Row rows[] = {
        {"read of 0 bytes", [](ReaderRig &r) { r.port.PushEmptyRead(); }, 0},
        {"I/O error", [](ReaderRig &r) { r.port.FailIo(port::kErrorGenFailure); }, 1},
        {"invalid handle", [](ReaderRig &r) { r.port.FailIo(port::kErrorInvalidHandle); }, 0},
        {"event with no selected bit", [](ReaderRig &r) { r.port.PushLineEvent(0x4); }, 1},
        {"chunk refused",
         [](ReaderRig &r) {
             r.target.Refuse(kNotifyReceiveData);
             r.port.PushData("abc");
         },
         1},
        {"stop requested", [](ReaderRig &r) { r.close->Set(); }, 0},
    };
    for (const auto &row : rows) {
        ReaderRig rig;
        row.act(rig);
        if (!rig.Ended())
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": reader did not end");
        CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), row.hangups);
        CHECK_EQ(rig.target.CountOf(kNotifyReceiveData), 0u);
        // Every way out purges the input side.
        const auto purges = rig.port.Purges();
        CHECK(!purges.empty() && purges.back() == (port::kPurgeRxAbort | port::kPurgeRxClear));
    }
}

void WriterReportsEmptyOnceAfterStart()
{
    WriterRig rig;
    rig.writer.Start();
    CHECK(WaitUntil([&] { return rig.target.Count() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    CHECK_EQ(rig.target.Count(), 1u);
    CHECK_EQ(rig.target.Items()[0].id, kNotifySendDataEmpty);
    CHECK(rig.sendIdle);
}

void WriterWritesQueuedBlocksInOrderThenReportsOnce()
{
    WriterRig rig;
    rig.port.SetWriteChunk(3); // short writes are continued
    CHECK(rig.Queue("first block,"));
    CHECK(rig.Queue("second block"));
    rig.writer.Start();
    CHECK(WaitUntil([&] { return rig.target.Count() == 1; }));
    CHECK_EQ(rig.port.Written(), std::string("first block,second block"));
    CHECK(rig.sendIdle);
    CHECK(rig.Queue("third"));
    CHECK(WaitUntil([&] { return rig.target.Count() == 2; }));
    CHECK_EQ(rig.port.Written(), std::string("first block,second blockthird"));
    CHECK_EQ(rig.target.CountOf(kNotifySendDataEmpty), 2u);
}

void WriterStopsDuringStuckWrite()
{
    WriterRig rig;
    rig.port.SetWritesStuck(true);
    rig.writer.Start();
    CHECK(rig.Queue("never written"));
    CHECK(rig.Queue("still queued"));
    CHECK(WaitUntil([&] { return rig.port.WritePending(); }));
    rig.close->Set();
    CHECK(rig.writer.WaitFor(2000));
    CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), 0u);
    CHECK(rig.sendIdle);
    CHECK(!rig.port.WritePending());
    CHECK_EQ(rig.port.Purges().back(), port::kPurgeTxAbort | port::kPurgeTxClear);
    // The ended writer refuses further requests (and frees them).
    CHECK(!rig.Queue("too late"));
}

void WriterFailures()
{
    const std::pair<std::uint32_t, std::size_t> rows[] = {{port::kErrorGenFailure, 1},
                                                          {port::kErrorInvalidHandle, 0}};
    for (const auto &[error, hangups] : rows) {
        WriterRig rig;
        rig.port.FailIo(error);
        rig.writer.Start();
        CHECK(rig.Queue("x"));
        CHECK(rig.writer.WaitFor(3000));
        CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), hangups);
    }
}

void DefaultDeviceNames()
{
    const std::pair<const char *, const char *> rows[] = {
        {"COM1", "/dev/ttyS0"},      {"com12", "/dev/ttyS11"},
        {"CoM255", "/dev/ttyS254"},  {"/tmp/some-device", "/tmp/some-device"},
        {"ttyUSB0", "/dev/ttyUSB0"},
    };
    for (const auto &[name, expected] : rows)
        CHECK_EQ(port::ResolveDevice(name), std::string(expected));
    auto previous = port::SetDeviceResolver([](const std::string &n) { return "/x/" + n; });
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("/x/COM7"));
    port::SetDeviceResolver(previous);
    CHECK_EQ(port::ResolveDevice("COM7"), std::string("/dev/ttyS6"));
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

    // A total time-out completes an idle read with 0 bytes.
    p->SetTimeouts({0, 0, 50, 0, 0});
    r = p->Read(buffer, sizeof buffer, *record);
    CHECK_EQ(r.Error, port::kErrorIoPending);
    CHECK_EQ(port::WaitAny({record->event.get()}), 0);
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
    return minitest::Run({
        {"WaitAny gives the lowest signalled index", WaitAnyGivesLowestSignalledIndex},
        {"reader delivers zero-terminated chunks", ReaderDeliversZeroTerminatedChunks},
        {"reader never reads more than its buffer", ReaderNeverReadsMoreThanItsBuffer},
        {"reader reports line events", ReaderReportsLineEvents},
        {"reader ends silently or with a hangup", ReaderEndsSilentlyOrWithHangup},
        {"writer reports empty once after start", WriterReportsEmptyOnceAfterStart},
        {"writer writes queued blocks in order", WriterWritesQueuedBlocksInOrderThenReportsOnce},
        {"writer stops during a stuck write", WriterStopsDuringStuckWrite},
        {"writer failures", WriterFailures},
        {"default device names", DefaultDeviceNames},
        {"open is exclusive and needs a terminal", OpenIsExclusiveAndNeedsATerminal},
        {"read time-outs on a pseudo-terminal", ReadTimeoutsOnAPseudoTerminal},
        {"vanished far end is an I/O error", VanishedFarEndIsAnIoError},
        {"write reaches the far end", WriteReachesTheFarEnd},
    });
}
