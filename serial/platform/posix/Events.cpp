// Manual-reset events on eventfd, the wait for any of several, thread priorities.
#include <cerrno>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "../Port.h"

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
    return std::unique_ptr<Event>(new Event(fd));
}

Event::~Event()
{
    ::close(Fd(handle));
}

void Event::Set()
{
    const std::uint64_t one = 1;
    while (::write(Fd(handle), &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Event::Reset()
{
    std::uint64_t count = 0;
    while (::read(Fd(handle), &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool Event::IsSet() const
{
    pollfd p{Fd(handle), POLLIN, 0};
    int r;
    do {
        r = ::poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && (p.revents & POLLIN) != 0;
}

int WaitAny(std::initializer_list<const Waitable *> objects)
{
    std::vector<pollfd> fds;
    fds.reserve(objects.size());
    for (const Waitable *w : objects)
        fds.push_back({Fd(w->WaitHandle()), POLLIN, 0});
    for (;;) {
        const int r = ::poll(fds.data(), fds.size(), -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return kWaitFailed;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents & (POLLERR | POLLNVAL))
                return kWaitFailed;
            if (fds[i].revents & POLLIN)
                return static_cast<int>(i);
        }
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
