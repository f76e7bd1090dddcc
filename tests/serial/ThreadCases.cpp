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

// The fake port, made before the rig that uses it.
struct FakeLine
{
    std::shared_ptr<port::FakePort> port = std::make_shared<port::FakePort>();
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
        WaitUntil([this] { return port->ReaderWaiting(); });
    }
    bool Ended() { return reader.WaitFor(3000); }
};

struct FakeWriterRig : FakeLine, WriterRig
{
    FakeWriterRig() : WriterRig(FakeLine::port) {}
};

// A read that ends with 0 bytes delivers nothing and is made again.
void ReaderDeliversZeroTerminatedChunks()
{
    FakeReaderRig rig(4);
    rig.port->PushEmptyRead();
    rig.port->PushData("abcdefghij");
    CHECK(WaitUntil([&] { return rig.target->Count() == 3; }));
    const auto items = rig.target->Items();
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
    rig.port->PushData(std::string(20, 'x'));
    CHECK(WaitUntil([&] { return rig.target->Count() == 3; }));
    const auto items = rig.target->Items();
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
        rig.port->PushLineEvent(row.events, row.errors);
        CHECK(WaitUntil([&] { return rig.target->Count() == row.expected.size(); }));
        const auto items = rig.target->Items();
        for (std::size_t i = 0; i < row.expected.size(); ++i) {
            CHECK_EQ(items[i].id, row.expected[i].first);
            CHECK_EQ(items[i].lParam, row.expected[i].second);
        }
        // Reading goes on after a line event.
        rig.port->PushData("ok");
        CHECK(WaitUntil([&] { return rig.target->CountOf(kNotifyReceiveData) == 1; }));
        CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), 0u);
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
        {"I/O error", [](FakeReaderRig &r) { r.port->FailIo(port::kErrorGenFailure); }, 1},
        {"invalid handle", [](FakeReaderRig &r) { r.port->FailIo(port::kErrorInvalidHandle); }, 0},
        {"event with no selected bit", [](FakeReaderRig &r) { r.port->PushLineEvent(0x4); }, 1},
        {"chunk refused",
         [](FakeReaderRig &r) {
             r.target->Refuse(kNotifyReceiveData);
             r.port->PushData("abc");
         },
         1},
        {"stopped", [](FakeReaderRig &r) { r.port->Stop(); }, 0},
    };
    for (const auto &row : rows) {
        FakeReaderRig rig;
        row.act(rig);
        if (!rig.Ended())
            minitest::Fail(__FILE__, __LINE__, std::string(row.name) + ": reader did not end");
        CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), row.hangups);
        CHECK_EQ(rig.target->CountOf(kNotifyReceiveData), 0u);
        // Every way out purges the input side.
        const auto purges = rig.port->Purges();
        CHECK(!purges.empty() && purges.back() == (port::kPurgeRxAbort | port::kPurgeRxClear));
    }
}

// A thread its component gave up on posts through a closed gate: nothing more reaches the
// component, and the thread ends at its next post.
void ReaderBehindAClosedGatePassesNothingAndEnds()
{
    FakeReaderRig rig(340, 2048, false);
    auto gate = std::make_shared<NotificationGate>(*rig.target, 1);
    rig.reader.Notifications = gate;
    rig.Start();
    rig.port->PushData("before");
    CHECK(WaitUntil([&] { return rig.target->CountOf(kNotifyReceiveData) == 1; }));
    gate->Close();
    rig.port->PushData("after");
    CHECK(rig.Ended());
    CHECK_EQ(rig.target->Count(), 1u);
}

void WriterReportsEmptyOnceAfterStart()
{
    FakeWriterRig rig;
    CheckWriterReportsEmptyOnceAfterStart(rig, std::chrono::milliseconds(50));
}

void WriterWritesQueuedBlocksInOrderThenReportsOnce()
{
    FakeWriterRig rig;
    rig.port->SetWriteChunk(3); // short writes are continued
    CHECK(rig.Queue("first block,"));
    CHECK(rig.Queue("second block"));
    rig.writer.Start();
    CHECK(WaitUntil([&] { return rig.target->Count() == 1; }));
    CHECK_EQ(rig.port->Written(), std::string("first block,second block"));
    CHECK(*rig.sendIdle);
    CHECK(rig.Queue("third"));
    CHECK(WaitUntil([&] { return rig.target->Count() == 2; }));
    CHECK_EQ(rig.port->Written(), std::string("first block,second blockthird"));
    CHECK_EQ(rig.target->CountOf(kNotifySendDataEmpty), 2u);
}

// The stuck write reads its block until the stop lets it go, so freeing the block first is a
// use after free (AddressSanitizer).
void WriterStopsDuringStuckWrite()
{
    FakeWriterRig rig;
    rig.port->SetWritesStuck(true);
    rig.writer.Start();
    CHECK(rig.Queue("never written"));
    CHECK(rig.Queue("still queued"));
    CHECK(WaitUntil([&] { return rig.port->WritePending(); }));
    rig.port->DrainWrite(3);
    rig.port->Stop();
    CHECK(rig.writer.WaitFor(2000));
    CHECK_EQ(rig.port->Written(), std::string("nev"));
    CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), 0u);
    CHECK(*rig.sendIdle);
    CHECK(!rig.port->WritePending());
    CHECK_EQ(rig.port->Purges().back(), port::kPurgeTxAbort | port::kPurgeTxClear);
    // The ended writer refuses further requests (and frees them).
    CHECK(!rig.Queue("too late"));
}

// Blocks still queued when the stop comes are dropped, even though writes would complete.
void WriterWritesNothingOnceStopped()
{
    FakeWriterRig rig;
    CHECK(rig.Queue("first"));
    CHECK(rig.Queue("second"));
    rig.port->Stop();
    rig.writer.Start();
    CHECK(rig.writer.WaitFor(2000));
    CHECK_EQ(rig.port->Written(), std::string());
}

void WriterFailures()
{
    const std::pair<std::uint32_t, std::size_t> rows[] = {{port::kErrorGenFailure, 1},
                                                          {port::kErrorInvalidHandle, 0}};
    for (const auto &[error, hangups] : rows) {
        FakeWriterRig rig;
        rig.port->FailIo(error);
        rig.writer.Start();
        CHECK(rig.Queue("x"));
        CHECK(rig.writer.WaitFor(3000));
        CHECK_EQ(rig.target->CountOf(kNotifyRequestHangup), hangups);
    }
}

} // namespace

std::vector<minitest::Case> ThreadCases()
{
    return {
        {"reader delivers zero-terminated chunks", ReaderDeliversZeroTerminatedChunks},
        {"reader never reads more than its buffer", ReaderNeverReadsMoreThanItsBuffer},
        {"reader reports line events", ReaderReportsLineEvents},
        {"reader ends silently or with a hangup", ReaderEndsSilentlyOrWithHangup},
        {"reader behind a closed gate passes nothing and ends",
         ReaderBehindAClosedGatePassesNothingAndEnds},
        {"writer reports empty once after start", WriterReportsEmptyOnceAfterStart},
        {"writer writes queued blocks in order", WriterWritesQueuedBlocksInOrderThenReportsOnce},
        {"writer stops during a stuck write", WriterStopsDuringStuckWrite},
        {"writer writes nothing once stopped", WriterWritesNothingOnceStopped},
        {"writer failures", WriterFailures},
    };
}
