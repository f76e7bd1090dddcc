// The port layer's events and the reader and writer threads against the scripted fake port and
// a recording notification target: the same on every platform.
#include "ThreadCases.h"

#include <functional>
#include <memory>
#include <thread>

#include "ThreadRigs.h"
#include "serial/platform/FakePort.h"

using minitest::WaitUntil;

namespace {

// The fake port, constructed before the rig that uses it and destroyed after it.
struct FakeLine
{
    port::FakePort port;
};

// A reader on the fake port, started (unless told not to) and waiting for its first read.
struct FakeReaderRig : FakeLine, ReaderRig
{
    explicit FakeReaderRig(std::uint16_t readSize = 340, std::uint16_t bufferSize = 2048,
                           bool start = true)
        : ReaderRig(FakeLine::port, readSize, bufferSize)
    {
        if (start)
            Start();
    }
    void Start()
    {
        reader.Start();
        WaitUntil([this] { return port.ReadPending() && port.EventPending(); });
    }
    bool Ended() { return reader.WaitFor(3000); }
};

struct FakeWriterRig : FakeLine, WriterRig
{
    FakeWriterRig() : WriterRig(FakeLine::port) {}
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
    FakeReaderRig rig(4);
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
    FakeReaderRig rig(100, 8);
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
        FakeReaderRig rig;
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
        std::function<void(FakeReaderRig &)> act;
        std::size_t hangups;
    };
    const Row rows[] = {
        {"read of 0 bytes", [](FakeReaderRig &r) { r.port.PushEmptyRead(); }, 0},
        {"I/O error", [](FakeReaderRig &r) { r.port.FailIo(port::kErrorGenFailure); }, 1},
        {"invalid handle", [](FakeReaderRig &r) { r.port.FailIo(port::kErrorInvalidHandle); }, 0},
        {"event with no selected bit", [](FakeReaderRig &r) { r.port.PushLineEvent(0x4); }, 1},
        {"chunk refused",
         [](FakeReaderRig &r) {
             r.target.Refuse(kNotifyReceiveData);
             r.port.PushData("abc");
         },
         1},
        {"stop requested", [](FakeReaderRig &r) { r.close->Set(); }, 0},
        {"only the read fails, line events off",
         [](FakeReaderRig &r) {
             r.port.FailEventWaits(port::kErrorNotSupported);
             WaitUntil([&] { return !r.port.EventPending(); });
             r.port.FailReads(port::kErrorGenFailure);
         },
         1},
    };
    for (const auto &row : rows) {
        FakeReaderRig rig;
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

// A thread its component gave up on posts through a closed gate: nothing more reaches the
// component, and the thread ends at its next post.
void ReaderBehindAClosedGatePassesNothingAndEnds()
{
    FakeReaderRig rig(340, 2048, false);
    NotificationGate gate(rig.target);
    rig.reader.Notifications = &gate;
    rig.Start();
    rig.port.PushData("before");
    CHECK(WaitUntil([&] { return rig.target.CountOf(kNotifyReceiveData) == 1; }));
    gate.Close();
    rig.port.PushData("after");
    CHECK(rig.Ended());
    CHECK_EQ(rig.target.Count(), 1u);
}

void ReaderReadsOnWithoutLineEvents()
{
    struct Row
    {
        const char *name;
        std::uint32_t error;
        bool atOnce; // refused when asked, or failing while pending
        bool readsOn;
    };
    const Row rows[] = {
        {"refused when asked", port::kErrorNotSupported, true, true},
        {"failing while pending", port::kErrorNotSupported, false, true},
        {"other error when asked", port::kErrorGenFailure, true, false},
        {"other error while pending", port::kErrorGenFailure, false, false},
    };
    for (const auto &row : rows) {
        FakeReaderRig rig(340, 2048, false);
        if (row.atOnce) {
            rig.port.FailEventWaits(row.error);
            rig.reader.Start();
        } else {
            rig.Start();
            rig.port.FailEventWaits(row.error);
        }
        if (!row.readsOn) {
            CHECK(rig.Ended());
            CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), 1u);
            continue;
        }
        CHECK(WaitUntil([&] { return rig.port.ReadPending(); }));
        for (const std::string chunk : {"first", "second"}) {
            rig.port.PushData(chunk);
            CHECK(WaitUntil([&] { return rig.target.Count() == 1; }));
            CHECK_EQ(rig.target.Items()[0].block, chunk + '\0');
            CHECK_EQ(rig.target.CountOf(kNotifyReceiveData), 1u);
            rig.target.Clear();
        }
        CHECK(!rig.port.EventPending());
        // The stop request still ends it at once, silently.
        rig.close->Set();
        CHECK(rig.Ended());
        CHECK_EQ(rig.target.Count(), 0u);
    }
}

void WriterReportsEmptyOnceAfterStart()
{
    FakeWriterRig rig;
    CheckWriterReportsEmptyOnceAfterStart(rig, std::chrono::milliseconds(50));
}

void WriterWritesQueuedBlocksInOrderThenReportsOnce()
{
    FakeWriterRig rig;
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

// The stuck write reads its block until it is cancelled, so freeing the block first is a
// use after free (AddressSanitizer).
void WriterStopsDuringStuckWrite()
{
    FakeWriterRig rig;
    rig.port.SetWritesStuck(true);
    rig.writer.Start();
    CHECK(rig.Queue("never written"));
    CHECK(rig.Queue("still queued"));
    CHECK(WaitUntil([&] { return rig.port.WritePending(); }));
    rig.port.DrainWrite(3);
    rig.close->Set();
    CHECK(rig.writer.WaitFor(2000));
    CHECK_EQ(rig.port.Written(), std::string("nev"));
    CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), 0u);
    CHECK(rig.sendIdle);
    CHECK(!rig.port.WritePending());
    CHECK_EQ(rig.port.Purges().back(), port::kPurgeTxAbort | port::kPurgeTxClear);
    // The ended writer refuses further requests (and frees them).
    CHECK(!rig.Queue("too late"));
}

// Blocks still queued when the stop comes are dropped, even though writes would complete.
void WriterWritesNothingOnceStopped()
{
    FakeWriterRig rig;
    CHECK(rig.Queue("first"));
    CHECK(rig.Queue("second"));
    rig.close->Set();
    rig.writer.Start();
    CHECK(rig.writer.WaitFor(2000));
    CHECK_EQ(rig.port.Written(), std::string());
}

void WriterFailures()
{
    const std::pair<std::uint32_t, std::size_t> rows[] = {{port::kErrorGenFailure, 1},
                                                          {port::kErrorInvalidHandle, 0}};
    for (const auto &[error, hangups] : rows) {
        FakeWriterRig rig;
        rig.port.FailIo(error);
        rig.writer.Start();
        CHECK(rig.Queue("x"));
        CHECK(rig.writer.WaitFor(3000));
        CHECK_EQ(rig.target.CountOf(kNotifyRequestHangup), hangups);
    }
}

} // namespace

std::vector<minitest::Case> ThreadCases()
{
    return {
        {"WaitAny gives the lowest signalled index", WaitAnyGivesLowestSignalledIndex},
        {"reader delivers zero-terminated chunks", ReaderDeliversZeroTerminatedChunks},
        {"reader never reads more than its buffer", ReaderNeverReadsMoreThanItsBuffer},
        {"reader reports line events", ReaderReportsLineEvents},
        {"reader ends silently or with a hangup", ReaderEndsSilentlyOrWithHangup},
        {"reader behind a closed gate passes nothing and ends",
         ReaderBehindAClosedGatePassesNothingAndEnds},
        {"reader reads on without line events", ReaderReadsOnWithoutLineEvents},
        {"writer reports empty once after start", WriterReportsEmptyOnceAfterStart},
        {"writer writes queued blocks in order", WriterWritesQueuedBlocksInOrderThenReportsOnce},
        {"writer stops during a stuck write", WriterStopsDuringStuckWrite},
        {"writer writes nothing once stopped", WriterWritesNothingOnceStopped},
        {"writer failures", WriterFailures},
    };
}
