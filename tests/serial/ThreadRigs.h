#pragma once
// A reader or a writer thread over a port, wired as the component wires it: the port, its
// event mask, a recording notification target (and the writer's idle flag). The caller starts
// the thread; the rig stops it as the component does, by stopping the port and a purge.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RecordingTarget.h"
#include "serial/CommThreads.h"
#include "serial/platform/Port.h"
#include "tests/support/MiniTest.h"

struct ReaderRig
{
    std::shared_ptr<RecordingTarget> target = std::make_shared<RecordingTarget>();
    TReadThread reader;

    ReaderRig(std::shared_ptr<port::Port> port, std::uint16_t readSize,
              std::uint16_t bufferSize = 2048)
    {
        port->SetEventMask(kReaderEventMask);
        reader.PortHandle = std::move(port);
        reader.Notifications = target;
        reader.ReadSize = readSize;
        reader.BufferSize = bufferSize;
    }
    ~ReaderRig() { Stop(); }
    bool Stop()
    {
        reader.PortHandle->Stop();
        reader.PortHandle->Purge(port::kPurgeRxAbort | port::kPurgeRxClear);
        return reader.WaitFor(3000);
    }
    // The data of the chunks received so far, in order.
    std::vector<std::string> Chunks() const
    {
        std::vector<std::string> chunks;
        for (const auto &p : target->Items())
            if (p.id == kNotifyReceiveData)
                chunks.push_back(p.block.substr(0, p.wParam));
        return chunks;
    }
};

struct WriterRig
{
    std::shared_ptr<RecordingTarget> target = std::make_shared<RecordingTarget>();
    std::shared_ptr<std::atomic<bool>> sendIdle = std::make_shared<std::atomic<bool>>(false);
    TWriteThread writer;

    explicit WriterRig(std::shared_ptr<port::Port> port)
    {
        writer.PortHandle = std::move(port);
        writer.Notifications = target;
        writer.SendIdleRef = sendIdle;
    }
    ~WriterRig() { Stop(); }
    bool Stop()
    {
        writer.PortHandle->Stop();
        writer.PortHandle->Purge(port::kPurgeTxAbort | port::kPurgeTxClear);
        return writer.WaitFor(3000);
    }
    bool Queue(const std::string &bytes)
    {
        std::unique_ptr<char[]> block(new char[bytes.size() + 1]());
        bytes.copy(block.get(), bytes.size());
        return writer.PostRequestWrite(std::move(block), static_cast<std::uint16_t>(bytes.size()));
    }
};

// A writer just started reports its empty queue once, and only once (`settle` later still
// once), and says it is idle.
inline void CheckWriterReportsEmptyOnceAfterStart(WriterRig &rig, std::chrono::milliseconds settle)
{
    rig.writer.Start();
    CHECK(minitest::WaitUntil([&] { return rig.target->Count() == 1; }));
    std::this_thread::sleep_for(settle);
    CHECK_EQ(rig.target->Count(), 1u);
    CHECK_EQ(rig.target->Items()[0].id, kNotifySendDataEmpty);
    CHECK(*rig.sendIdle);
}
