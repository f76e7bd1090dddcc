#pragma once
// A notification target for tests of the threads: records what was posted, block bytes and
// zero byte included, and can refuse one kind of notification.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "serial/CommThreads.h"

struct Posted
{
    std::uint32_t id, wParam, lParam;
    std::string block;
};

class RecordingTarget final : public NotifyTarget
{
public:
    bool Post(Notification n) override
    {
        std::lock_guard lock(mutex);
        if (n.Id == refusedId)
            return false;
        std::string block;
        if (n.Block)
            block.assign(n.Block.get(), n.WParam + 1); // the zero byte included
        posted.push_back({n.Id, n.WParam, n.LParam, block});
        return true;
    }
    std::vector<Posted> Items() const
    {
        std::lock_guard lock(mutex);
        return posted;
    }
    std::size_t Count() const { return Items().size(); }
    std::size_t CountOf(std::uint32_t id) const
    {
        std::size_t n = 0;
        for (const auto &p : Items())
            n += p.id == id;
        return n;
    }
    void Clear()
    {
        std::lock_guard lock(mutex);
        posted.clear();
    }
    void Refuse(std::uint32_t id)
    {
        std::lock_guard lock(mutex);
        refusedId = id;
    }

private:
    mutable std::mutex mutex;
    std::vector<Posted> posted;
    std::uint32_t refusedId = 0;
};
