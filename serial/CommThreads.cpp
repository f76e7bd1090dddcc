#include "serial/CommThreads.h"

#include <algorithm>
#include <cstring>
#include <new>

using port::IoResult;

// ---- notification gate

bool NotificationGate::Post(port::Notification notification)
{
    std::lock_guard lock(mutex);
    return target != nullptr && target->Post(std::move(notification));
}

void NotificationGate::Close()
{
    std::lock_guard lock(mutex);
    target = nullptr;
}

// ---- reader

void TReadThread::Execute()
{
    // A read never asks for more than the buffer holds.
    const std::uint16_t bufferSize = std::max<std::uint16_t>(BufferSize, 1);
    readSize = std::clamp<std::uint16_t>(ReadSize, 1, bufferSize);
    buffer.reset(new (std::nothrow) char[bufferSize]);
    watchLineEvents = true;
    eventRecord = std::make_unique<port::Overlapped>();
    readRecord = std::make_unique<port::Overlapped>();
    readRecord->event = port::Event::Create(true);
    eventRecord->event = port::Event::Create(true);
    if (!buffer || !readRecord->event || !eventRecord->event)
        PostHangup();
    else if (!PortHandle->SetMask(kReaderEventMask))
        PostHangup();
    else if (ArmEventWait() && ArmRead())
        WaitLoop();

    PortHandle->Purge(port::kPurgeRxAbort | port::kPurgeRxClear);
    eventRecord.reset();
    readRecord.reset();
    buffer.reset();
}

void TReadThread::WaitLoop()
{
    for (;;) {
        switch (WaitForWork()) {
        case 0:
            return;
        case 1:
            if (!FinishEventWait(true) || !ArmEventWait())
                return;
            break;
        case 2:
            if (!FinishRead() || !ArmRead())
                return;
            break;
        default:
            PostHangup();
            return;
        }
    }
}

// Gives the index in the full wait list (close, line event, read) of what woke the reader.
int TReadThread::WaitForWork()
{
    if (watchLineEvents)
        return port::WaitAny({CloseEvent, eventRecord->event.get(), readRecord->event.get()});
    const int woken = port::WaitAny({CloseEvent, readRecord->event.get()});
    return woken == 1 ? 2 : woken;
}

// A device that cannot report line events (virtual and emulated ports say so when asked to
// wait for them) is read without them rather than given up.
bool TReadThread::StopWatchingLineEvents()
{
    watchLineEvents = false;
    return true;
}

bool TReadThread::ArmEventWait()
{
    for (;;) {
        if (Stopping())
            return false;
        if (!watchLineEvents)
            return true;
        const IoResult r = PortHandle->WaitEvent(eventMask, *eventRecord);
        if (r.Ok()) {
            if (!FinishEventWait(false))
                return false;
            continue;
        }
        if (r.Error == port::kErrorIoPending)
            return true;
        if (r.Error == port::kErrorNotSupported)
            return StopWatchingLineEvents();
        if (r.Error != port::kErrorInvalidHandle)
            PostHangup();
        return false;
    }
}

bool TReadThread::ArmRead()
{
    for (;;) {
        if (Stopping())
            return false;
        const IoResult r = PortHandle->Read(buffer.get(), readSize, *readRecord);
        if (r.Ok()) {
            if (!DeliverChunk(r.Count))
                return false;
            continue;
        }
        if (r.Error == port::kErrorIoPending)
            return true;
        if (r.Error != port::kErrorInvalidHandle)
            PostHangup();
        return false;
    }
}

bool TReadThread::FinishEventWait(bool retrieve)
{
    if (retrieve) {
        const IoResult r = PortHandle->GetResult(*eventRecord, false);
        if (r.Error == port::kErrorNotSupported)
            return StopWatchingLineEvents();
        if (!r.Ok()) {
            if (r.Error != port::kErrorInvalidHandle)
                PostHangup();
            return false;
        }
    }
    bool result = false;
    if (eventMask & port::kEvErr) {
        std::uint32_t flags = 0;
        const IoResult r = PortHandle->ClearError(flags);
        if (!r.Ok()) {
            if (r.Error != port::kErrorInvalidHandle)
                PostHangup();
            return false;
        }
        if (!Post(kNotifyReceiveError, flags)) {
            PostHangup();
            return false;
        }
        result = true;
    }
    const std::uint32_t modem = ((eventMask & port::kEvRlsd) ? kModemCarrierDetect : 0) |
                                ((eventMask & port::kEvRing) ? kModemRing : 0);
    if (modem != 0) {
        if (!Post(kNotifyModemStateChange, modem)) {
            PostHangup();
            return false;
        }
        result = true;
    }
    if ((eventMask & kReaderEventMask) == 0)
        PostHangup();
    return result;
}

bool TReadThread::FinishRead()
{
    const IoResult r = PortHandle->GetResult(*readRecord, false);
    if (r.Ok())
        return DeliverChunk(r.Count);
    if (r.Error != port::kErrorInvalidHandle)
        PostHangup();
    return false;
}

bool TReadThread::DeliverChunk(std::uint32_t count)
{
    if (count == 0)
        return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[count + 1]);
    if (!block) {
        PostHangup();
        return false;
    }
    std::memcpy(block.get(), buffer.get(), count);
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
    return queue.Post({kRequestWrite, count, std::move(block)});
}

void TWriteThread::Execute()
{
    writeRecord = std::make_unique<port::Overlapped>();
    writeRecord->event = port::Event::Create(true);
    if (writeRecord->event)
        MessageLoop();
    else
        PostHangup();

    PortHandle->Purge(port::kPurgeTxAbort | port::kPurgeTxClear);
    *SendIdleRef = true;
    writeRecord.reset();
    queue.Close(); // frees what is still queued; later requests are refused
}

void TWriteThread::MessageLoop()
{
    bool reportIdle = true;
    for (;;) {
        port::ThreadMessage message;
        if (!queue.Take(message)) {
            *SendIdleRef = true;
            if (reportIdle && !Notifications->Post({kNotifySendDataEmpty, 0, 0, nullptr})) {
                PostHangup();
                return;
            }
            reportIdle = false;
            const int woken = port::WaitAny({CloseEvent, &queue});
            if (woken == 0)
                return;
            if (woken != 1) {
                PostHangup();
                return;
            }
            continue;
        }
        if (Stopping())
            return; // the message taken is dropped with its block
        if (message.Id != kRequestWrite)
            continue;
        const bool written = WriteBlock(message.Block.get(), message.WParam);
        message.Block.reset();
        if (!written)
            return;
        reportIdle = true;
    }
}

bool TWriteThread::WriteBlock(const char *block, std::uint32_t count)
{
    std::uint32_t remaining = count;
    std::uint32_t offset = 0;
    while (remaining != 0) {
        IoResult r = PortHandle->Write(block + offset, remaining, *writeRecord);
        if (r.Error == port::kErrorIoPending) {
            const int woken = port::WaitAny({CloseEvent, writeRecord->event.get()});
            if (woken != 1) {
                // The port may still be writing from the block, which goes when this returns.
                PortHandle->Cancel(*writeRecord);
                if (woken != 0)
                    PostHangup();
                return false;
            }
            r = PortHandle->GetResult(*writeRecord, true);
        }
        if (!r.Ok()) {
            if (r.Error != port::kErrorInvalidHandle)
                PostHangup();
            return false;
        }
        // A write time-out may give nothing; do not go round forever once asked to stop.
        if (r.Count == 0 && Stopping())
            return false;
        remaining -= std::min(r.Count, remaining);
        offset += r.Count;
    }
    return true;
}

void TWriteThread::PostHangup()
{
    Notifications->Post({kNotifyRequestHangup, 0, 0, nullptr});
}
