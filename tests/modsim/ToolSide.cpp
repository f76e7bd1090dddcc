#include "ToolSide.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace modsim_test {

ToolSide::ToolSide(const std::string &path)
    : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
{
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "open " + path);
    }
    termios settings{};
    ::tcgetattr(fd_, &settings);
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    ::tcsetattr(fd_, TCSANOW, &settings);
}

ToolSide::~ToolSide()
{
    ::close(fd_);
}

Clock::time_point ToolSide::Send(std::string_view bytes)
{
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n != static_cast<ssize_t>(bytes.size())) {
        throw minitest::Failure("short write to the line");
    }
    return Clock::now();
}

std::vector<Chunk> ToolSide::Receive(std::chrono::milliseconds firstWait,
                                     std::chrono::milliseconds quiet,
                                     std::chrono::milliseconds limit)
{
    const Clock::time_point end = Clock::now() + limit;
    std::vector<Chunk> chunks;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        const auto wait = std::min(chunks.empty() ? firstWait : quiet, left);
        if (wait.count() <= 0) {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0 || !(p.revents & POLLIN)) {
            break;
        }
        std::array<char, 4096> buffer{};
        const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n <= 0) {
            break;
        }
        chunks.push_back({Clock::now(), std::string(buffer.data(), static_cast<std::size_t>(n))});
    }
    return chunks;
}

std::string ToolSide::Exchange(std::string_view command, std::chrono::milliseconds firstWait)
{
    Send(command);
    return Joined(Receive(firstWait, 50ms));
}

bool ToolSide::WaitForHangUp(std::chrono::milliseconds timeout)
{
    const Clock::time_point end = Clock::now() + timeout;
    while (Clock::now() < end) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            if (p.revents & POLLHUP) {
                return true;
            }
            std::array<char, 256> drain{};
            [[maybe_unused]] const ssize_t n = ::read(fd_, drain.data(), drain.size());
        }
    }
    return false;
}

std::string Joined(const std::vector<Chunk> &chunks)
{
    std::string all;
    for (const Chunk &chunk : chunks) {
        all += chunk.bytes;
    }
    return all;
}

std::vector<std::string> Bursts(const std::vector<Chunk> &chunks, std::chrono::milliseconds gap)
{
    std::vector<std::string> bursts;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i == 0 || chunks[i].at - chunks[i - 1].at > gap) {
            bursts.emplace_back();
        }
        bursts.back() += chunks[i].bytes;
    }
    return bursts;
}

} // namespace modsim_test
