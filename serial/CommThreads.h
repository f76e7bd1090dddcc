#pragma once
// The reader and writer threads of an open port. Plain C++: they talk to the port layer only.
//
// Both are created without running by the component, given their fields, then started. They
// never call the component: everything they have to say is posted through the open's gate,
// and both end at their first look at the port after it has been stopped. Each holds what it
// uses (the port, the gate, the writer's idle flag), so a thread that outlives its stop's
// bound touches nothing freed, and what it held goes when it ends. Blocks move with the
// messages: the sender allocates, the receiver frees.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/platform/Port.h"

// The threads' base: created without running; Start runs Execute. Derived classes call Join in
// their own destructor, so the body never outlives the object it runs on.
class TThread
{
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    void SetPriority(port::ThreadPriority value) { priority = value; }
    bool Start();
    // True once the body has ended (false if it has not ended within the time-out).
    bool WaitFor(std::uint32_t milliseconds);
    void Terminate() { terminated = true; }
    bool Terminated() const { return terminated; }
    // Lets a thread that has not ended go: it deletes itself when its body ends.
    static void Abandon(std::unique_ptr<TThread> thread);

protected:
    virtual void Execute() = 0;
    void Join();

private:
    void Run();

    std::thread thread;
    port::ThreadPriority priority = port::ThreadPriority::Normal;
    std::atomic<bool> terminated{false};
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool ended = false;
    bool abandoned = false;
};

struct ThreadMessage
{
    std::uint32_t Id = 0;
    std::uint32_t WParam = 0;
    std::unique_ptr<char[]> Block;
};

// The writer's message queue. After Close it refuses posts and has freed what was queued.
class ThreadQueue final
{
public:
    static constexpr std::size_t kCapacity = 10000;

    bool Post(ThreadMessage message);
    bool Take(ThreadMessage &message);
    void Close();

private:
    std::mutex mutex;
    std::deque<ThreadMessage> messages;
    bool closed = false;
};

struct Notification
{
    std::uint32_t Id = 0;
    std::uint32_t WParam = 0;
    std::uint32_t LParam = 0;
    std::unique_ptr<char[]> Block; // owned by whoever holds the notification
    std::uint32_t Open = 0;        // which open of the port it comes from
};

// Where the threads post what they have to report. Posting never waits for the receiver;
// a refused notification is freed with its block.
class NotifyTarget
{
public:
    virtual ~NotifyTarget() = default;
    virtual bool Post(Notification notification) = 0;
};

// Thread message to the writer.
constexpr std::uint32_t kRequestWrite = 1025;
// Notifications to the component.
constexpr std::uint32_t kNotifyReceiveData = 1025;
constexpr std::uint32_t kNotifyReceiveError = 1026;
constexpr std::uint32_t kNotifyRequestHangup = 1027;
constexpr std::uint32_t kNotifyModemStateChange = 1028;
constexpr std::uint32_t kNotifySendDataEmpty = 1029;

// Line events the reader reports.
constexpr std::uint32_t kReaderEventMask = port::kEvRlsd | port::kEvErr | port::kEvRing;
// Modem change bits of a modem notification.
constexpr std::uint32_t kModemCarrierDetect = 8;
constexpr std::uint32_t kModemRing = 4;

// What the threads of one open post to the component goes through its gate, marked with the
// open it comes from. Once the gate is closed it refuses everything, and a thread whose post is
// refused ends; Close returns once no post is under way.
class NotificationGate final : public NotifyTarget
{
public:
    NotificationGate(NotifyTarget &target, std::uint32_t open) : target(&target), open(open) {}

    bool Post(Notification notification) override;
    void Close();

private:
    std::mutex mutex;
    std::condition_variable idle;
    NotifyTarget *target; // null once closed
    int posting = 0;
    const std::uint32_t open;
};

class TReadThread final : public TThread
{
public:
    ~TReadThread() override { Join(); }

    std::shared_ptr<port::Port> PortHandle;
    std::shared_ptr<NotifyTarget> Notifications;
    std::uint16_t BufferSize = 0;
    std::uint16_t ReadSize = 0; // clamped to BufferSize

protected:
    void Execute() override;

private:
    void ReadLoop(char *buffer, std::uint32_t readSize);
    bool FinishEventWait(std::uint32_t events);
    bool DeliverChunk(const char *buffer, std::uint32_t count);
    void PostHangup();
    bool Post(std::uint32_t id, std::uint32_t lParam);
};

class TWriteThread final : public TThread
{
public:
    ~TWriteThread() override { Join(); }

    std::shared_ptr<port::Port> PortHandle;
    std::shared_ptr<NotifyTarget> Notifications;
    std::shared_ptr<std::atomic<bool>> SendIdleRef;

    // Queues a block of count bytes (plus its zero byte). Accepted from creation, once the
    // port is given, until the writer ends; a refused block is freed.
    bool PostRequestWrite(std::unique_ptr<char[]> block, std::uint16_t count);

protected:
    void Execute() override;

private:
    bool Stopping() const { return PortHandle->Stopped() || Terminated(); }
    void MessageLoop();
    bool WriteBlock(const char *block, std::uint32_t count);
    void PostHangup();

    ThreadQueue queue;
};
