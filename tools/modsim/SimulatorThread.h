#pragma once
// Inside the simulator, not for its users: the state its one thread owns, which the public
// members reach under the lock. ModuleSimulator.h says which file holds which part.

#include "tools/modsim/CommandFramer.h"
#include "tools/modsim/Faults.h"
#include "tools/modsim/Module.h"
#include "tools/modsim/ModuleSimulator.h"
#include "tools/modsim/SerialLine.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nmct::modsim {

using Clock = std::chrono::steady_clock;

inline constexpr std::int64_t kNanosPerSecond = 1'000'000'000;

// One piece of output on its way to the line. It starts no earlier than `notBefore` and no
// earlier than `gap` after the previous piece ended.
struct Pending
{
    std::string bytes;
    Clock::time_point notBefore{};
    Clock::duration gap{};
    bool closeAfter = false;
    bool started = false;
    Clock::time_point start{};
    std::size_t sent = 0;
};

inline constexpr std::size_t kFloodChunk = 512;

struct ModuleSimulator::Impl
{
    explicit Impl(Options opts);
    ~Impl();
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    void Run();
    void Loop(std::unique_lock<std::mutex> &lock);
    void ReadInput(Clock::time_point now);
    void HandleCommand(std::string unit, Clock::time_point now);
    std::optional<Clock::time_point> PumpOutput(Clock::time_point now);
    bool Flood();
    void CloseLine(const std::string &reason);
    void Wake();
    void DrainWake();
    void VanishAndWait(std::unique_lock<std::mutex> &lock);
    void Log(std::string line);

    const Options options;
    SerialLine line;
    SymLink link;
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    const std::string floodChunk = FloodBytes(kFloodChunk, 7);

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    Module module;
    Faults faults;
    unsigned commandCount = 0; // recognised commands since the faults were set
    std::vector<std::string> commands;
    CommandFramer framer;
    Clock::time_point lastInput{};
    std::deque<Pending> outbox;
    Clock::time_point lastOutputEnd{};
    bool outputBlocked = false; // the line's buffer is full; wait for POLLOUT
    std::uint32_t noiseSeed = 0;
    bool stopping = false;
    bool vanishRequested = false;
    bool vanished = false;
    std::vector<std::string> logLines;

    std::thread thread; // last: starts once everything above is ready
};

} // namespace nmct::modsim
