#include "serial/CommThreads.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

using port::Result;

// ---- threads and the writer's queue

TThread::~TThread()
{
    Join();
}

bool TThread::Start()
{
    if (thread.joinable())
        return false;
    try {
        thread = std::thread([this] { Run(); });
    } catch (const std::system_error &) {
        return false; // the system gives no thread
    }
    return true;
}

void TThread::Run()
{
    port::ApplyPriorityToCurrentThread(priority);
    Execute();
    bool alone = false;
    {
        std::lock_guard lock(endMutex);
        ended = true;
        alone = abandoned;
    }
    // Woken outside the lock; an owner still waiting joins before this object goes.
    endSignal.notify_all();
    if (alone)
        delete this;
}

bool TThread::WaitFor(std::uint32_t milliseconds)
{
    if (!thread.joinable())
        return true;
    std::unique_lock lock(endMutex);
    return endSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return ended; });
}

void TThread::Abandon(std::unique_ptr<TThread> owned)
{
    TThread *t = owned.release();
    bool running = false;
    {
        std::lock_guard lock(t->endMutex);
        running = !t->ended && t->thread.joinable();
        if (running) {
            t->abandoned = true;
            t->thread.detach();
        }
    }
    if (!running)
        delete t; // joins the end of its body
}

void TThread::Join()
{
    if (thread.joinable())
        thread.join();
}

bool ThreadQueue::Post(ThreadMessage message)
{
    std::lock_guard lock(mutex);
    if (closed || messages.size() >= kCapacity)
        return false;
    messages.push_back(std::move(message));
    return true;
}

bool ThreadQueue::Take(ThreadMessage &message)
{
    std::lock_guard lock(mutex);
    if (messages.empty())
        return false;
    message = std::move(messages.front());
    messages.pop_front();
    return true;
}

void ThreadQueue::Close()
{
    std::deque<ThreadMessage> dropped; // freed after the lock is let go
    std::lock_guard lock(mutex);
    closed = true;
    dropped.swap(messages);
}

// ---- notification gate

bool NotificationGate::Post(Notification notification)
{
    NotifyTarget *to = nullptr;
    {
        std::lock_guard lock(mutex);
        if (target == nullptr)
            return false;
        to = target;
        ++posting;
    }
    // Not under the lock: posting wakes the receiver's thread, a system call.
    notification.Open = open;
    const bool posted = to->Post(std::move(notification));
    bool last = false;
    {
        std::lock_guard lock(mutex);
        last = --posting == 0;
    }
    if (last)
        idle.notify_all();
    return posted;
}

void NotificationGate::Close()
{
    std::unique_lock lock(mutex);
    target = nullptr;
    idle.wait(lock, [this] { return posting == 0; });
}

// ---- reader

void TReadThread::Execute()
{
    // A read never asks for more than the buffer holds.
    const std::uint16_t bufferSize = std::max<std::uint16_t>(BufferSize, 1);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[bufferSize]);
    if (buffer)
        ReadLoop(buffer.get(), std::clamp<std::uint16_t>(ReadSize, 1, bufferSize));
    else
        PostHangup();
    PortHandle->EndReader(); // the port lets go of the buffer
}

void TReadThread::ReadLoop(char *buffer, std::uint32_t readSize)
{
    while (!Terminated()) {
        const Result r = PortHandle->Next(buffer, readSize);
        switch (r.kind) {
        case Result::Bytes:
            // A read that ended empty delivers nothing and is made again.
            if (r.value != 0 && !DeliverChunk(buffer, r.value))
                return;
            break;
        case Result::Events:
            if (!FinishEventWait(r.value))
                return;
            break;
        case Result::Stopped:
            return;
        case Result::Failed:
            if (r.value != port::kErrorInvalidHandle)
                PostHangup();
            return;
        }
    }
}

// One line event may give a line-error notification followed by a modem one.
bool TReadThread::FinishEventWait(std::uint32_t events)
{
    bool result = false;
    if (events & port::kEvErr) {
        std::uint32_t flags = 0;
        if (!PortHandle->ClearError(flags) || !Post(kNotifyReceiveError, flags)) {
            PostHangup();
            return false;
        }
        result = true;
    }
    const std::uint32_t modem = ((events & port::kEvRlsd) ? kModemCarrierDetect : 0) |
                                ((events & port::kEvRing) ? kModemRing : 0);
    if (modem != 0) {
        if (!Post(kNotifyModemStateChange, modem)) {
            PostHangup();
            return false;
        }
        result = true;
    }
    if ((events & kReaderEventMask) == 0)
        PostHangup();
    return result;
}

bool TReadThread::DeliverChunk(const char *buffer, std::uint32_t count)
{
    std::unique_ptr<char[]> block(new (std::nothrow) char[count + 1]);
    if (!block) {
        PostHangup();
        return false;
    }
    std::memcpy(block.get(), buffer, count);
    block[count] = '\0';
    if (!Notifications->Post({kNotifyReceiveData, count, 0, std::move(block)})) {
        PostHangup();
        return false;
    }
    return true;
}

bool TReadThread::Post(std::uint32_t id, std::uint32_t lParam)
{
    return Notifications->Post({id, 0, lParam, nullptr});
}

void TReadThread::PostHangup()
{
    Post(kNotifyRequestHangup, 0);
}

// ---- writer

bool TWriteThread::PostRequestWrite(std::unique_ptr<char[]> block, std::uint16_t count)
{
    if (!queue.Post({kRequestWrite, count, std::move(block)}))
        return false;
    PortHandle->WakeWriter();
    return true;
}

void TWriteThread::Execute()
{
    MessageLoop();
    PortHandle->Purge(port::kPurgeTxAbort | port::kPurgeTxClear);
    *SendIdleRef = true;
    queue.Close(); // frees what is still queued; later requests are refused
}

void TWriteThread::MessageLoop()
{
    bool reportIdle = true;
    for (;;) {
        ThreadMessage message;
        if (!queue.Take(message)) {
            *SendIdleRef = true;
            if (reportIdle && !Notifications->Post({kNotifySendDataEmpty, 0, 0, nullptr})) {
                PostHangup();
                return;
            }
            reportIdle = false;
            const Result woken = PortHandle->WaitForWriterWork();
            if (woken.kind == Result::Failed)
                PostHangup();
            if (woken.kind != Result::Bytes || Terminated())
                return;
            continue;
        }
        if (Stopping())
            return; // the message taken is dropped with its block
        if (message.Id != kRequestWrite)
            continue;
        if (!WriteBlock(message.Block.get(), message.WParam))
            return;
        reportIdle = true;
    }
}

// With write time-outs a write may give fewer bytes, or none: the rest is written next, until
// everything is or the port is stopped.
bool TWriteThread::WriteBlock(const char *block, std::uint32_t count)
{
    std::uint32_t offset = 0;
    while (offset < count) {
        const Result r = PortHandle->Write(block + offset, count - offset);
        if (r.kind == Result::Failed && r.value != port::kErrorInvalidHandle)
            PostHangup();
        if (r.kind != Result::Bytes || Terminated())
            return false;
        offset += std::min(r.value, count - offset);
    }
    return true;
}

void TWriteThread::PostHangup()
{
    Notifications->Post({kNotifyRequestHangup, 0, 0, nullptr});
}
