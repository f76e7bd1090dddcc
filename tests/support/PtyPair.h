#pragma once
// A pseudo-terminal for serial tests: the test plays the far end on the master side; the code
// under test opens the slave by its path.

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <string>

struct PtyPair
{
    int master = -1;
    int slave = -1;
    std::string path;

    PtyPair()
    {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = name;
    }
    ~PtyPair()
    {
        CloseMaster();
        if (slave >= 0)
            ::close(slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    void CloseMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    bool Send(const std::string &bytes) const
    {
        return ::write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Reads from the master until `count` bytes have come or the line stays quiet too long.
    std::string Receive(std::size_t count, int quietMs = 2000) const
    {
        std::string got;
        while (got.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            char chunk[4096];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.append(chunk, static_cast<std::size_t>(n));
        }
        return got;
    }
};
