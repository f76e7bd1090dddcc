#pragma once
// The tool's end of the line for the simulator's tests.

#include "tests/support/MiniTest.h"
#include "tools/modsim/Module.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace modsim_test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Chunk
{
    Clock::time_point at;
    std::string bytes;
};

// Opens a line as the tool does: raw, non-blocking, no controlling terminal.
class ToolSide
{
public:
    explicit ToolSide(const std::string &path);
    ~ToolSide();
    ToolSide(const ToolSide &) = delete;
    ToolSide &operator=(const ToolSide &) = delete;

    // One write, as the tool sends each command. Returns the time the write completed.
    Clock::time_point Send(std::string_view bytes);

    // Reads until nothing arrives for `firstWait` (before the first byte) or `quiet` (after
    // it), or `limit` has passed. Stops early on a hang-up.
    std::vector<Chunk> Receive(std::chrono::milliseconds firstWait,
                               std::chrono::milliseconds quiet = 100ms,
                               std::chrono::milliseconds limit = 5s);
    std::string Exchange(std::string_view command, std::chrono::milliseconds firstWait = 1s);

    // True once the other end has gone (poll reports POLLHUP).
    bool WaitForHangUp(std::chrono::milliseconds timeout);

    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

std::string Joined(const std::vector<Chunk> &chunks);
// Bytes that arrived together: a new burst starts after a silence longer than `gap`.
std::vector<std::string> Bursts(const std::vector<Chunk> &chunks, std::chrono::milliseconds gap);

} // namespace modsim_test
