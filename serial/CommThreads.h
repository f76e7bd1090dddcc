#pragma once
// The reader and writer threads of an open port. Plain C++: they talk to the port layer only.
//
// Both are created without running by the component, given their fields, then started. They
// never call the component: everything they have to say is posted to its notification target,
// and both end at the first look at the close event after it has been signalled. Blocks move
// with the messages: the sender allocates, the receiver frees.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "serial/platform/Port.h"

// Thread message to the writer.
constexpr std::uint32_t kRequestWrite = 1025;
// Notifications to the component.
constexpr std::uint32_t kNotifyReceiveData = 1025;
constexpr std::uint32_t kNotifyReceiveError = 1026;
constexpr std::uint32_t kNotifyRequestHangup = 1027;
constexpr std::uint32_t kNotifyModemStateChange = 1028;
constexpr std::uint32_t kNotifySendDataEmpty = 1029;

// Line events the reader asks for.
constexpr std::uint32_t kReaderEventMask = port::kEvRlsd | port::kEvErr | port::kEvRing;
// Modem change bits of a modem notification.
constexpr std::uint32_t kModemCarrierDetect = 8;
constexpr std::uint32_t kModemRing = 4;

// What the threads of one open post to the component goes through its gate. A thread that
// outlives its stop keeps the gate, never the component: once the gate is closed it refuses
// everything, and a thread whose post is refused ends.
class NotificationGate final : public port::NotifyTarget
{
public:
    explicit NotificationGate(port::NotifyTarget &target) : target(&target) {}

    bool Post(port::Notification notification) override;
    void Close();

private:
    std::mutex mutex;
    port::NotifyTarget *target; // null once closed
};

class TReadThread final : public port::Thread
{
public:
    TReadThread() = default;
    ~TReadThread() override { Join(); }

    port::Port *PortHandle = nullptr;
    port::Event *CloseEvent = nullptr;
    port::NotifyTarget *Notifications = nullptr;
    std::uint16_t BufferSize = 0;
    std::uint16_t ReadSize = 0; // clamped to BufferSize

protected:
    void Execute() override;

private:
    bool Stopping() const { return CloseEvent->IsSet() || Terminated(); }
    void WaitLoop();
    int WaitForWork();
    bool StopWatchingLineEvents();
    bool ArmEventWait();
    bool ArmRead();
    bool FinishEventWait(bool retrieve);
    bool FinishRead();
    bool DeliverChunk(std::uint32_t count);
    void PostHangup();
    bool Post(std::uint32_t id, std::uint32_t lParam);

    std::unique_ptr<char[]> buffer;
    std::uint16_t readSize = 0;
    std::unique_ptr<port::Overlapped> eventRecord;
    std::unique_ptr<port::Overlapped> readRecord;
    std::uint32_t eventMask = 0;
    bool watchLineEvents = true; // false once the device said it has no line events
};

class TWriteThread final : public port::Thread
{
public:
    TWriteThread() = default; // the queue throws if it cannot be made
    ~TWriteThread() override { Join(); }

    port::Port *PortHandle = nullptr;
    port::Event *CloseEvent = nullptr;
    port::NotifyTarget *Notifications = nullptr;
    std::atomic<bool> *SendIdleRef = nullptr;

    // Queues a block of count bytes (plus its zero byte). Accepted from creation until the
    // writer ends; a refused block is freed.
    bool PostRequestWrite(std::unique_ptr<char[]> block, std::uint16_t count);

protected:
    void Execute() override;

private:
    bool Stopping() const { return CloseEvent->IsSet() || Terminated(); }
    void MessageLoop();
    bool WriteBlock(const char *block, std::uint32_t count);
    void PostHangup();

    port::ThreadQueue queue;
    std::unique_ptr<port::Overlapped> writeRecord;
};
