// Manual-reset events on eventfd, the wait for any of several, thread priorities.
#include <algorithm>
#include <cerrno>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "serial/platform/posix/PosixPort.h"

namespace port {

namespace {

int Fd(NativeHandle handle)
{
    return static_cast<int>(handle);
}

} // namespace

std::unique_ptr<Event> Event::Create(bool signalled)
{
    const int fd = ::eventfd(signalled ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<Event>(new Event(fd, signalled));
}

Event::~Event()
{
    ::close(Fd(handle));
}

void Event::Set()
{
    if (signalled.exchange(true))
        return;
    const std::uint64_t one = 1;
    while (::write(Fd(handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset()
{
    if (!signalled.exchange(false))
        return;
    std::uint64_t count = 0;
    while (::read(Fd(handle), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool Event::IsSet() const
{
    return signalled.load();
}

// Besides the objects, watches what their sources ask for and lets the sources work when that
// is ready or their time is up; an object is reported only once it is itself signalled.
int WaitAny(std::initializer_list<const Waitable *> objects)
{
    struct Watched
    {
        EventSource *source;
        std::size_t first, end; // its entries in fds
    };
    // Kept per thread, so a wait allocates nothing once the thread has waited before.
    thread_local std::vector<pollfd> fds;
    thread_local std::vector<Watched> watched;
    for (;;) {
        fds.clear();
        watched.clear();
        int timeout = -1;
        for (const Waitable *w : objects)
            fds.push_back({Fd(w->WaitHandle()), POLLIN, 0});
        for (const Waitable *w : objects) {
            EventSource *s = w->Source();
            if (s == nullptr || std::any_of(watched.begin(), watched.end(),
                                            [s](const Watched &x) { return x.source == s; }))
                continue;
            const std::size_t first = fds.size();
            s->Watch(fds, timeout);
            watched.push_back({s, first, fds.size()});
        }
        const int r = ::poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return kWaitFailed;
        for (std::size_t i = 0; i < objects.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return kWaitFailed;
            if (fds[i].revents & POLLIN)
                return static_cast<int>(i);
        }
        for (const Watched &x : watched) {
            bool hungUp = false;
            for (std::size_t i = x.first; i < x.end; ++i)
                hungUp = hungUp || (fds[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            x.source->Work(hungUp);
        }
        // What the work completed needs no further look at the device.
        for (std::size_t i = 0; i < objects.size(); ++i)
            if (objects.begin()[i]->IsSet())
                return static_cast<int>(i);
    }
}

void ApplyPriorityToCurrentThread(ThreadPriority priority)
{
    const int raise = priority == ThreadPriority::Highest       ? 2
                      : priority == ThreadPriority::AboveNormal ? 1
                                                                : 0;
    if (raise == 0)
        return;
    const auto tid = static_cast<id_t>(::gettid());
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, tid, current - raise); // refused without the privilege
}

} // namespace port
