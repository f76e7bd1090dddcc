// The module simulator, driven through its pseudo-terminal as the tool drives it.

#include "ToolSide.h"
#include "tests/support/KnownRecords.h"
#include "tools/modsim/CommandLine.h"
#include "tools/modsim/ModuleSimulator.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <time.h>
#include <unistd.h>

using namespace modsim_test;
using namespace nmct::modsim;
namespace fs = std::filesystem;

namespace {

std::vector<minitest::Case> cases;

void AddCase(std::string name, std::function<void()> body)
{
    cases.push_back({std::move(name), std::move(body)});
}

// A set body with channel 1 transmit at 446.0000, tone codes 45 and 3, squelch 5.
const std::string kChangedBody =
    known::WithChannel1Tx(known::FactoryChannels, "446.0000") + "045,003,5";

const std::string kSetChanged = "AAFA3" + kChangedBody + "\\r\\n";

Options Unpaced(Faults faults = {})
{
    Options options;
    options.pacing = false;
    options.faults = std::move(faults);
    return options;
}

std::string RecordText(const Record &record)
{
    return std::string(record.begin(), record.end());
}

std::size_t CountEntries(const char *directory)
{
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(directory), fs::directory_iterator()));
}

std::chrono::milliseconds ProcessCpuTime()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec));
}

struct TempDir
{
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "modsim-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    fs::path path;
};

void AddCommandCases()
{
    struct Row
    {
        const char *name;
        std::string command;
        std::string reply;
    };
    const std::vector<Row> rows = {
        {"identify", "AAFAA", "NM450_UHFV2.13\r\n"},
        {"read", "AAFA1", known::FactoryRecord + "\r\n"},
        {"default", "AAFA2", "OK\r\n"},
        {"set", kSetChanged, "OK\r\n"},
        {"volume", "AAFA43", "OK\r\n"},
        {"unknown command character", "AAFA9", ""},
        {"lower case", "aafaa", ""},
        {"prefix only", "AAFA", ""},
        {"noise", "hello", ""},
        {"set without its line end", "AAFA3" + kChangedBody, ""},
        {"set ended by a real CR LF", "AAFA3" + kChangedBody + "\r\n", ""},
    };
    for (const Row &row : rows) {
        AddCase(std::string("command: ") + row.name, [row] {
            ModuleSimulator sim(Unpaced());
            ToolSide tool(sim.SlavePath());
            CHECK_EQ(tool.Exchange(row.command, 300ms), row.reply);
            CHECK(sim.WaitForCommands(1, 1s));
            CHECK(sim.ReceivedCommands() == std::vector<std::string>{row.command});
        });
    }
}

void AddStateCases()
{
    AddCase("set then read returns what set stored", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(tool.Exchange(kSetChanged), "OK\r\n");
        CHECK_EQ(tool.Exchange("AAFA1"), "AA" + kChangedBody + "\r\n");
        CHECK_EQ(RecordText(sim.StoredRecord()), "AA" + kChangedBody);
    });

    AddCase("default restores the factory record", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        tool.Exchange(kSetChanged);
        CHECK_EQ(tool.Exchange("AAFA2"), "OK\r\n");
        CHECK_EQ(tool.Exchange("AAFA1"), known::FactoryRecord + "\r\n");
        CHECK(sim.StoredRecord() == FactoryRecord());
    });

    AddCase("volume text is stored as sent", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(sim.Volume(), "2");
        tool.Exchange("AAFA40");
        CHECK_EQ(sim.Volume(), "0");
        tool.Exchange("AAFA4");
        CHECK_EQ(sim.Volume(), "");
    });

    AddCase("a longer set body is cut to the record", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        // Squelch typed as "12": 307 bytes, one more than the record holds.
        CHECK_EQ(tool.Exchange("AAFA3" + kChangedBody + "2\\r\\n"), "OK\r\n");
        CHECK_EQ(RecordText(sim.StoredRecord()), "AA" + kChangedBody);
    });

    AddCase("a record set through the API is read with an AA header", [] {
        ModuleSimulator sim(Unpaced());
        Record record{};
        std::string text = "XY" + kChangedBody;
        std::copy(text.begin(), text.end(), record.begin());
        sim.SetRecord(record);
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(tool.Exchange("AAFA1"), "AA" + kChangedBody + "\r\n");
    });
}

void AddFramingCases()
{
    AddCase("framing: two fixed commands in one write are two commands", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(tool.Exchange("AAFAAAAFA2"), "NM450_UHFV2.13\r\nOK\r\n");
        CHECK(sim.ReceivedCommands() == (std::vector<std::string>{"AAFAA", "AAFA2"}));
    });

    AddCase("framing: a command in pieces within the quiet gap is one command", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        tool.Send("AAF");
        std::this_thread::sleep_for(5ms);
        tool.Send("A4");
        std::this_thread::sleep_for(5ms);
        tool.Send("1");
        CHECK_EQ(Joined(tool.Receive(1s)), "OK\r\n");
        CHECK_EQ(sim.Volume(), "1");
    });

    AddCase("framing: noise ended by silence does not swallow the next command", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        tool.Send("xyz");
        std::this_thread::sleep_for(80ms);
        CHECK_EQ(tool.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
        CHECK(sim.ReceivedCommands() == (std::vector<std::string>{"xyz", "AAFAA"}));
    });
}

void AddReplyFaultCases()
{
    std::string badTone = known::FactoryRecord;
    badTone.replace(290, 3, "abc");

    struct Row
    {
        const char *name;
        void (*fault)(Faults &);
        std::string command;
        std::string reply;
    };
    const std::vector<Row> rows = {
        {"silent", [](Faults &f) { f.reply = ReplyFault::Silent; }, "AAFAA", ""},
        {"short OK", [](Faults &f) { f.reply = ReplyFault::Short; }, "AAFA2", "O\r\n"},
        {"short identify", [](Faults &f) { f.reply = ReplyFault::Short; }, "AAFAA", "NM450_U\r\n"},
        {"short record of 100",
         [](Faults &f) {
             f.reply = ReplyFault::Short;
             f.shortLength = 100;
         },
         "AAFA1", known::FactoryRecord.substr(0, 100) + "\r\n"},
        {"ok text on default", [](Faults &f) { f.okText = "ok"; }, "AAFA2", "ok\r\n"},
        {"ok text on set", [](Faults &f) { f.okText = "OK!"; }, kSetChanged, "OK!\r\n"},
        {"ok text on volume", [](Faults &f) { f.okText = "OK!"; }, "AAFA41", "OK!\r\n"},
        {"ok text leaves identify alone", [](Faults &f) { f.okText = "ok"; }, "AAFAA",
         "NM450_UHFV2.13\r\n"},
        {"bad tone code", [](Faults &f) { f.badToneCode = true; }, "AAFA1", badTone + "\r\n"},
        {"bad tone code, short",
         [](Faults &f) {
             f.reply = ReplyFault::Short;
             f.badToneCode = true;
         },
         "AAFA1", known::FactoryRecord.substr(0, 149) + "\r\n"},
    };
    for (const Row &row : rows) {
        AddCase(std::string("fault: ") + row.name, [row] {
            Faults faults;
            row.fault(faults);
            ModuleSimulator sim(Unpaced(faults));
            ToolSide tool(sim.SlavePath());
            CHECK_EQ(tool.Exchange(row.command, 300ms), row.reply);
        });
    }

    AddCase("fault: a silent module still acts on the command", [] {
        ModuleSimulator sim(Unpaced({.reply = ReplyFault::Silent}));
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(tool.Exchange(kSetChanged, 200ms), "");
        CHECK_EQ(RecordText(sim.StoredRecord()), "AA" + kChangedBody);
    });

    AddCase("fault: the bad tone code is not stored", [] {
        ModuleSimulator sim(Unpaced({.badToneCode = true}));
        ToolSide tool(sim.SlavePath());
        tool.Exchange("AAFA1");
        CHECK(sim.StoredRecord() == FactoryRecord());
    });

    AddCase("fault: garbage is line noise of the reply's length", [] {
        ModuleSimulator sim(Unpaced({.reply = ReplyFault::Garbage}));
        ToolSide tool(sim.SlavePath());
        for (const auto &[command, length] :
             std::vector<std::pair<std::string, std::size_t>>{{"AAFAA", 16}, {"AAFA2", 4}}) {
            const std::string reply = tool.Exchange(command);
            CHECK_EQ(reply.size(), length);
            CHECK(std::all_of(reply.begin(), reply.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
        }
    });

    AddCase("fault: late reply comes after the delay", [] {
        ModuleSimulator sim(Unpaced({.reply = ReplyFault::Late}));
        ToolSide tool(sim.SlavePath());
        const Clock::time_point sent = tool.Send("AAFAA");
        const std::vector<Chunk> chunks = tool.Receive(2s);
        CHECK_EQ(Joined(chunks), "NM450_UHFV2.13\r\n");
        const auto delay = chunks.front().at - sent;
        CHECK(delay >= 690ms);
        CHECK(delay < 1500ms);
    });

    AddCase("fault: split reply comes in two parts with a gap over 100 ms", [] {
        ModuleSimulator sim(Unpaced({.reply = ReplyFault::Split}));
        ToolSide tool(sim.SlavePath());
        tool.Send("AAFA2");
        const std::vector<Chunk> chunks = tool.Receive(1s, 400ms);
        CHECK(Bursts(chunks, 100ms) == (std::vector<std::string>{"OK", "\r\n"}));
    });

    AddCase("fault: split reply of a record, cut where asked", [] {
        ModuleSimulator sim(Unpaced({.reply = ReplyFault::Split, .splitAt = 10}));
        ToolSide tool(sim.SlavePath());
        tool.Send("AAFA1");
        const std::vector<std::string> bursts = Bursts(tool.Receive(1s, 400ms), 100ms);
        CHECK(bursts == (std::vector<std::string>{known::FactoryRecord.substr(0, 10),
                                                  known::FactoryRecord.substr(10) + "\r\n"}));
    });
}

void AddCountingFaultCases()
{
    AddCase("fault: stop answering after N commands, counted from SetFaults", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        CHECK_EQ(tool.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
        sim.SetFaults({.answerLimit = 2u});
        CHECK_EQ(tool.Exchange("AAFA9", 200ms), ""); // unknown input is not counted
        CHECK_EQ(tool.Exchange("AAFA2"), "OK\r\n");
        CHECK_EQ(tool.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
        CHECK_EQ(tool.Exchange("AAFAA", 300ms), "");
        sim.SetFaults({});
        CHECK_EQ(tool.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
    });

    AddCase("fault: vanish after N commands hangs up once the reply is out", [] {
        ModuleSimulator sim(Unpaced({.vanishAfter = 1u}));
        ToolSide tool(sim.SlavePath());
        tool.Send("AAFAA");
        CHECK_EQ(Joined(tool.Receive(1s)), "NM450_UHFV2.13\r\n");
        CHECK(tool.WaitForHangUp(1s));
        CHECK(sim.Vanished());
    });

    AddCase("fault: vanish on request hangs up and removes the line", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        CHECK(!sim.Vanished());
        sim.Vanish();
        CHECK(sim.Vanished());
        CHECK(tool.WaitForHangUp(1s));
        CHECK(::open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY) < 0);
        sim.Vanish(); // a second request is harmless
    });

    AddCase("fault: flood sends without pause until stopped", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        sim.SetFaults({.flood = true});
        // 9600 baud would carry under 500 bytes in this time.
        const std::string flood = Joined(tool.Receive(1s, 100ms, 500ms));
        CHECK(flood.size() > 5000);
        sim.SetFaults({});
        tool.Receive(1s, 50ms); // what was already in flight
        CHECK(tool.Receive(150ms).empty());
        CHECK_EQ(tool.Exchange("AAFA2"), "OK\r\n");
    });
}

void AddLineCases()
{
    AddCase("pacing: a 301-byte reply takes about 313 ms", [] {
        ModuleSimulator sim(Options{});
        ToolSide tool(sim.SlavePath());
        const Clock::time_point sent = tool.Send("AAFA1");
        const std::vector<Chunk> chunks = tool.Receive(1s);
        CHECK_EQ(Joined(chunks).size(), 301u);
        const auto took = chunks.back().at - sent;
        CHECK(took >= 300ms);
        CHECK(took < 600ms);
        CHECK(chunks.size() > 10); // bytes trickle in rather than arriving as one block
    });

    AddCase("pacing off: a 301-byte reply is there at once", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        const Clock::time_point sent = tool.Send("AAFA1");
        const std::vector<Chunk> chunks = tool.Receive(1s, 20ms);
        CHECK_EQ(Joined(chunks).size(), 301u);
        CHECK(chunks.back().at - sent < 150ms);
    });

    AddCase("line: the tool closing its side neither hangs up nor spins", [] {
        ModuleSimulator sim(Unpaced());
        {
            ToolSide first(sim.SlavePath());
        }
        const auto cpuBefore = ProcessCpuTime();
        std::this_thread::sleep_for(300ms);
        CHECK(ProcessCpuTime() - cpuBefore < 100ms);
        ToolSide again(sim.SlavePath());
        CHECK_EQ(again.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
    });

    AddCase("line: answers on a serial device given by path", [] {
        int master = -1;
        int slave = -1;
        std::array<char, 256> name{};
        CHECK(::openpty(&master, &slave, name.data(), nullptr, nullptr) == 0);
        ::close(slave);
        {
            Options options = Unpaced();
            options.device = name.data();
            ModuleSimulator sim(options);
            CHECK_EQ(sim.SlavePath(), std::string(name.data()));
            CHECK(::write(master, "AAFAA", 5) == 5);
            std::string reply;
            const Clock::time_point end = Clock::now() + 1s;
            while (reply.size() < 16 && Clock::now() < end) {
                std::array<char, 64> buffer{};
                const ssize_t n = ::read(master, buffer.data(), buffer.size());
                if (n > 0) {
                    reply.append(buffer.data(), static_cast<std::size_t>(n));
                }
            }
            CHECK_EQ(reply, "NM450_UHFV2.13\r\n");
        }
        ::close(master);
    });

    AddCase("line: a missing device is an error", [] {
        Options options;
        options.device = "/dev/no-such-module";
        try {
            ModuleSimulator sim(options);
            CHECK(false);
        } catch (const std::system_error &error) {
            CHECK(std::string(error.what()).find("/dev/no-such-module") != std::string::npos);
        }
    });

    AddCase("link: points at the line while the simulator lives", [] {
        TempDir dir;
        const fs::path link = dir.path / "COM1";
        std::string slave;
        {
            Options options = Unpaced();
            options.link = link.string();
            ModuleSimulator sim(options);
            slave = sim.SlavePath();
            CHECK_EQ(sim.LinkPath(), link.string());
            CHECK_EQ(fs::read_symlink(link).string(), slave);
            ToolSide tool(link.string());
            CHECK_EQ(tool.Exchange("AAFAA"), "NM450_UHFV2.13\r\n");
        }
        CHECK(!fs::is_symlink(link));
        CHECK(!fs::exists(slave));
    });

    AddCase("link: replaces a dangling link, refuses a file, keeps a re-pointed link", [] {
        TempDir dir;
        const fs::path link = dir.path / "COM2";
        fs::create_symlink("/dev/pts/no-such", link);
        {
            Options options = Unpaced();
            options.link = link.string();
            ModuleSimulator sim(options);
            CHECK_EQ(fs::read_symlink(link).string(), sim.SlavePath());
            fs::remove(link);
            fs::create_symlink("/dev/null", link);
        }
        CHECK_EQ(fs::read_symlink(link).string(), std::string("/dev/null"));
        fs::remove(link);

        {
            std::ofstream(link.string()) << "x";
        }
        Options options = Unpaced();
        options.link = link.string();
        bool refused = false;
        try {
            ModuleSimulator sim(options);
        } catch (const std::system_error &) {
            refused = true;
        }
        CHECK(refused);
        CHECK(fs::is_regular_file(link));
    });
}

void AddLifetimeCases()
{
    AddCase("lifetime: the destructor leaves no descriptor or thread behind", [] {
        const std::size_t fds = CountEntries("/proc/self/fd");
        const std::size_t threads = CountEntries("/proc/self/task");
        {
            ModuleSimulator sim(Options{});
            ToolSide tool(sim.SlavePath());
            CHECK_EQ(tool.Exchange("AAFA2"), "OK\r\n");
            CHECK(CountEntries("/proc/self/task") == threads + 1);
        }
        CHECK_EQ(CountEntries("/proc/self/fd"), fds);
        CHECK_EQ(CountEntries("/proc/self/task"), threads);
    });

    AddCase("lifetime: destruction in the middle of a paced reply is prompt", [] {
        auto sim = std::make_unique<ModuleSimulator>(Options{});
        ToolSide tool(sim->SlavePath());
        tool.Send("AAFA1");
        CHECK(sim->WaitForCommands(1, 1s));
        const Clock::time_point start = Clock::now();
        sim.reset();
        CHECK(Clock::now() - start < 100ms);
        CHECK(tool.WaitForHangUp(1s));
    });

    AddCase("lifetime: vanish at once, at start or when set", [] {
        ModuleSimulator atStart(Unpaced({.vanishAfter = 0u}));
        CHECK(atStart.Vanished());
        CHECK(!fs::exists(atStart.SlavePath()));

        ModuleSimulator later(Unpaced());
        ToolSide tool(later.SlavePath());
        later.SetFaults({.vanishAfter = 0u});
        CHECK(later.Vanished());
        CHECK(tool.WaitForHangUp(1s));
    });

    AddCase("api: waiting for commands times out", [] {
        ModuleSimulator sim(Unpaced());
        const Clock::time_point start = Clock::now();
        CHECK(!sim.WaitForCommands(1, 100ms));
        CHECK(Clock::now() - start >= 100ms);
    });

    AddCase("api: faults changed from another thread while commands flow", [] {
        ModuleSimulator sim(Unpaced());
        ToolSide tool(sim.SlavePath());
        std::thread changer([&sim] {
            for (int i = 0; i < 50; ++i) {
                sim.SetFaults({.okText = (i % 2 != 0) ? "ok" : "OK"});
                std::this_thread::sleep_for(1ms);
            }
        });
        for (int i = 0; i < 5; ++i) {
            const std::string reply = tool.Exchange("AAFA2");
            CHECK(reply == "OK\r\n" || reply == "ok\r\n");
        }
        changer.join();
        CHECK_EQ(sim.ReceivedCommands().size(), 5u);
        CHECK(sim.CurrentFaults().okText == std::optional<std::string>("ok"));
    });
}

void AddCommandLineCases()
{
    struct Row
    {
        const char *name;
        std::vector<std::string> arguments;
        std::function<bool(const CommandLine &)> holds;
    };
    const std::vector<Row> rows = {
        {"defaults",
         {},
         [](const CommandLine &c) {
             return c.options.pacing && c.options.device.empty() && c.options.link.empty() &&
                    c.options.faults.reply == ReplyFault::None && !c.help && !c.verbose;
         }},
        {"line options",
         {"--device", "/dev/ttyS1", "--link=/dev/COM1", "--no-pacing"},
         [](const CommandLine &c) {
             return c.options.device == "/dev/ttyS1" && c.options.link == "/dev/COM1" &&
                    !c.options.pacing;
         }},
        {"late with its delay",
         {"--late=900"},
         [](const CommandLine &c) {
             return c.options.faults.reply == ReplyFault::Late &&
                    c.options.faults.lateDelay == 900ms;
         }},
        {"late without a delay keeps 700 ms",
         {"--late"},
         [](const CommandLine &c) { return c.options.faults.lateDelay == 700ms; }},
        {"split and short",
         {"--split=120"},
         [](const CommandLine &c) {
             return c.options.faults.reply == ReplyFault::Split &&
                    c.options.faults.splitGap == 120ms;
         }},
        {"counts and texts",
         {"--stop-after", "3", "--vanish-after", "5", "--ok-text", "OK!", "--bad-tone", "--flood",
          "--identity", "NM450_UHFV9.99", "--verbose"},
         [](const CommandLine &c) {
             const Faults &f = c.options.faults;
             return f.answerLimit == 3u && f.vanishAfter == 5u && f.okText == "OK!" &&
                    f.badToneCode && f.flood && c.options.identity == "NM450_UHFV9.99" && c.verbose;
         }},
        {"help", {"-h"}, [](const CommandLine &c) { return c.help; }},
    };
    for (const Row &row : rows) {
        AddCase(std::string("command line: ") + row.name,
                [row] { CHECK(row.holds(ParseCommandLine(row.arguments))); });
    }

    const std::vector<std::vector<std::string>> wrong = {
        {"--bogus"},        {"--link"},           {"--late=soon"},        {"--stop-after", "-1"},
        {"--silent=1"},     {"--vanish-after=0"}, {"--silent", "--late"}, {"--short=0"},
        {"--late=5000000"},
    };
    for (const auto &arguments : wrong) {
        AddCase("command line refuses: " + arguments.front(), [arguments] {
            bool refused = false;
            try {
                ParseCommandLine(arguments);
            } catch (const std::invalid_argument &) {
                refused = true;
            }
            CHECK(refused);
        });
    }
}

} // namespace

int main()
{
    AddCommandCases();
    AddStateCases();
    AddFramingCases();
    AddReplyFaultCases();
    AddCountingFaultCases();
    AddLineCases();
    AddLifetimeCases();
    AddCommandLineCases();
    minitest::TextShown() = Printable;
    return minitest::Run(cases);
}
