// The parts of the port layer that are the same on every platform.
#include "serial/platform/Port.h"

#include <chrono>
#include <stdexcept>

namespace port {

namespace {

DeviceResolver &Resolver()
{
    static DeviceResolver resolver;
    return resolver;
}

} // namespace

DeviceResolver SetDeviceResolver(DeviceResolver resolver)
{
    DeviceResolver previous = std::move(Resolver());
    Resolver() = std::move(resolver);
    return previous;
}

std::string ResolveDevice(const std::string &name)
{
    return Resolver() ? Resolver()(name) : PlatformDeviceName(name);
}

Overlapped::~Overlapped()
{
    if (Port *port = UsedOn.load())
        port->Cancel(*this);
}

Thread::~Thread()
{
    Join();
}

void Thread::SetPriority(ThreadPriority value)
{
    priority = value;
}

bool Thread::Start()
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

void Thread::Run()
{
    ApplyPriorityToCurrentThread(priority);
    Execute();
    std::lock_guard lock(endMutex);
    ended = true;
    endSignal.notify_all();
}

bool Thread::WaitFor(std::uint32_t milliseconds)
{
    if (!thread.joinable())
        return true;
    std::unique_lock lock(endMutex);
    return endSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return ended; });
}

void Thread::Join()
{
    if (thread.joinable())
        thread.join();
}

ThreadQueue::ThreadQueue() : ready(Event::Create(false))
{
    if (!ready)
        throw std::runtime_error("cannot create the queue's event");
}

bool ThreadQueue::Post(ThreadMessage message)
{
    std::lock_guard lock(mutex);
    if (closed || messages.size() >= kCapacity)
        return false;
    messages.push_back(std::move(message));
    ready->Set();
    return true;
}

bool ThreadQueue::Take(ThreadMessage &message)
{
    std::lock_guard lock(mutex);
    if (messages.empty())
        return false;
    message = std::move(messages.front());
    messages.pop_front();
    if (messages.empty())
        ready->Reset();
    return true;
}

void ThreadQueue::Close()
{
    std::deque<ThreadMessage> dropped;
    {
        std::lock_guard lock(mutex);
        closed = true;
        dropped.swap(messages);
        ready->Reset();
    }
}

} // namespace port
