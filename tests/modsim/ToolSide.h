#pragma once
// The tool's end of the line for the simulator's tests, plus a very small test runner that
// closes with "N passed, M failed".

#include "Module.h"

#include <chrono>
#include <functional>
#include <sstream>
#include <stdexcept>
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

using nmct::modsim::Printable;

// ---- runner ----

struct Failure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const char *file, int line, const std::string &what);

void AddCase(std::string name, std::function<void()> body);
int RunAll();

template <typename A, typename B>
void CheckEqual(const A &actual, const B &expected, const char *text, const char *file, int line)
{
    if (!(actual == expected)) {
        std::ostringstream message;
        if constexpr (std::is_convertible_v<A, std::string_view>) {
            message << text << ": got \"" << Printable(actual) << "\", expected \""
                    << Printable(expected) << '"';
        } else {
            message << text << ": got " << actual << ", expected " << expected;
        }
        Fail(file, line, message.str());
    }
}

} // namespace modsim_test

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::modsim_test::Fail(__FILE__, __LINE__, #condition);                                   \
        }                                                                                          \
    } while (false)

#define CHECK_EQ(actual, expected)                                                                 \
    ::modsim_test::CheckEqual((actual), (expected), #actual, __FILE__, __LINE__)
