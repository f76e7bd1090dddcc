#pragma once
// ModuleSimulator: plays the radio module on a serial line so the configuration tool (or a test)
// can talk to it as to real hardware.
//
// It owns the line (a new pseudo-terminal, or a serial device given by path), an optional
// COM-style symbolic link to it, and one thread that frames commands, lets the Module answer,
// shapes the reply by the current Faults and writes it, paced like a 9600 baud 8N1 line
// (one byte every 1.04 ms, so a 301-byte reply takes about 313 ms). The destructor stops and
// joins the thread, closes the line and removes the link.
//
// Every public member may be called from any thread. The log callback runs on the simulator's
// thread with no lock held; it must not destroy the simulator.
//
// Where things are: ModuleSimulator.cpp, these members and the thread's start and stop;
// SimulatorThread.cpp, the thread's loop (commands in, line closed); ReplyPacing.cpp, replies
// out at line speed and the flood.
//
//     ModuleSimulator sim({.link = "/dev/COM1"});
//     tool.Open(sim.SlavePath());
//     sim.SetFaults({.reply = ReplyFault::Late, .lateDelay = std::chrono::milliseconds(700)});
//     sim.WaitForCommands(1, std::chrono::seconds(2));

#include "tools/modsim/Faults.h"
#include "tools/modsim/Module.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace nmct::modsim {

struct Options
{
    std::string device{}; // serial device to answer on; empty: make a pseudo-terminal
    std::string link{};   // symbolic link to create to the line, e.g. "/dev/COM1"; empty: none
    bool pacing = true;   // write replies at 9600 baud 8N1 rather than all at once
    std::chrono::milliseconds quietGap{20}; // silence that ends a command without terminator
    std::string identity = std::string(kDefaultIdentity); // model "_" three characters version
    Faults faults{};
    std::function<void(const std::string &)> log{}; // one line per event; empty: quiet
};

class ModuleSimulator
{
public:
    // Opens the line, makes the link and starts answering. Throws std::system_error.
    explicit ModuleSimulator(Options options);
    ~ModuleSimulator();
    ModuleSimulator(const ModuleSimulator &) = delete;
    ModuleSimulator &operator=(const ModuleSimulator &) = delete;

    // The path a tool opens: the pseudo-terminal's slave, or the device path.
    std::string SlavePath() const;
    // The symbolic link, empty if none was asked for.
    std::string LinkPath() const;

    // Replaces all fault settings at once and restarts the command count that `answerLimit`
    // and `vanishAfter` refer to. Replies already on their way are not changed. With
    // `vanishAfter` 0 it returns once the line is closed, as Vanish does.
    void SetFaults(const Faults &faults);
    Faults CurrentFaults() const;

    // Every command received so far, recognised or not, as the bytes that made it.
    std::vector<std::string> ReceivedCommands() const;
    void ClearReceivedCommands();
    // Waits until at least `count` commands have been received; false on time-out.
    bool WaitForCommands(std::size_t count, std::chrono::milliseconds timeout) const;

    Record StoredRecord() const;
    void SetRecord(const Record &record);
    std::string Volume() const;

    // Closes the line as an unplugged module would: the tool's side sees a hang-up, and the
    // pseudo-terminal's path goes away. Returns once the line is closed. Cannot be undone.
    void Vanish();
    bool Vanished() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace nmct::modsim
