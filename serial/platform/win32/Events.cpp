// Manual-reset events, the wait for any of several, thread priorities: the Win32 calls.
#include <vector>

#include "serial/platform/win32/Win32.h"

namespace port {

std::unique_ptr<Event> Event::Create(bool signalled)
{
    const HANDLE h = ::CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
    if (h == nullptr)
        return nullptr;
    return std::unique_ptr<Event>(new Event(reinterpret_cast<NativeHandle>(h)));
}

Event::~Event()
{
    ::CloseHandle(Native(handle));
}

void Event::Set()
{
    ::SetEvent(Native(handle));
}

void Event::Reset()
{
    ::ResetEvent(Native(handle));
}

bool Event::IsSet() const
{
    return ::WaitForSingleObject(Native(handle), 0) == WAIT_OBJECT_0;
}

int WaitAny(std::initializer_list<const Waitable *> objects)
{
    if (objects.size() == 0 || objects.size() > MAXIMUM_WAIT_OBJECTS)
        return kWaitFailed;
    std::vector<HANDLE> handles;
    handles.reserve(objects.size());
    for (const Waitable *w : objects)
        handles.push_back(Native(w->WaitHandle()));
    // Of several signalled objects the system reports the lowest index.
    const DWORD r = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                             FALSE, INFINITE);
    if (r >= WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + handles.size())
        return static_cast<int>(r - WAIT_OBJECT_0);
    return kWaitFailed;
}

void ApplyPriorityToCurrentThread(ThreadPriority priority)
{
    const int level = priority == ThreadPriority::Highest       ? THREAD_PRIORITY_HIGHEST
                      : priority == ThreadPriority::AboveNormal ? THREAD_PRIORITY_ABOVE_NORMAL
                                                                : THREAD_PRIORITY_NORMAL;
    ::SetThreadPriority(::GetCurrentThread(), level);
}

} // namespace port
