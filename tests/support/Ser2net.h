#pragma once
// Debian's ser2net in front of serial lines (a simulator's or a test's pseudo-terminal), for
// tests of network ports: a configuration written to a folder of its own, an accepter on
// 127.0.0.1 at a free port for each line, telnet(rfc2217) or raw, and the program stopped when
// this goes (or earlier, as a server that dies).

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

struct Ser2netLine
{
    std::string device;
    bool rfc2217 = true;
    std::string settings = "9600n81"; // the connector's: speed, parity, data bits, stop bits
    int port = 0;                     // the accepter's; 0: a free one
    bool charDelay = true; // ser2net's default: bytes held back a moment to go out together
};

class Ser2net
{
public:
    static constexpr const char *Program = "/usr/sbin/ser2net";
    static bool Installed() { return ::access(Program, X_OK) == 0; }
    // What a test that skips for want of it says.
    static constexpr const char *Missing = "ser2net is not installed (Debian package ser2net)";

    explicit Ser2net(std::vector<Ser2netLine> lines) : lines(std::move(lines))
    {
        char folder[] = "/tmp/nmct-ser2net-XXXXXX";
        if (::mkdtemp(folder) == nullptr)
            return;
        dir = folder;
        for (int attempt = 0; attempt < 3 && pid < 0; ++attempt)
            Start();
    }
    ~Ser2net()
    {
        Stop();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;

    bool Started() const { return pid > 0; }
    // What ser2net said, for a test that fails to start it.
    std::string Log() const
    {
        std::ifstream in(dir + "/log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    int Port(std::size_t line) const { return ports.at(line); }
    std::string Url(std::size_t line) const
    {
        return std::string(lines.at(line).rfc2217 ? "rfc2217" : "tcp") +
               "://127.0.0.1:" + std::to_string(Port(line));
    }

    // Ends the server as a stopped service does; its connections drop.
    void Stop()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        bool ended = false;
        for (int i = 0; i < 300 && !ended; ++i) {
            ended = ::waitpid(pid, nullptr, WNOHANG) != 0;
            if (!ended)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!ended) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }

    // A port on 127.0.0.1 nothing listens on (free a moment ago).
    static int FreePort()
    {
        const std::vector<int> one = FreePorts(1);
        return one.empty() ? 0 : one.front();
    }

private:
    // Held open together, so they differ; the kernel gives them out again only after a while.
    static std::vector<int> FreePorts(std::size_t count)
    {
        std::vector<int> sockets;
        std::vector<int> found;
        for (std::size_t i = 0; i < count; ++i) {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
                ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
                if (s >= 0)
                    ::close(s);
                break;
            }
            sockets.push_back(s);
            found.push_back(ntohs(address.sin_port));
        }
        for (const int s : sockets)
            ::close(s);
        return found.size() == count ? found : std::vector<int>{};
    }

    // Whether something listens on 127.0.0.1:port, from the kernel's table (a connection to
    // find out would make ser2net open the line).
    static bool Listening(int port)
    {
        std::ifstream table("/proc/net/tcp");
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
        std::string line;
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, remote, state;
            fields >> slot >> local >> remote >> state;
            if (local == wanted && state == "0A")
                return true;
        }
        return false;
    }

    void Start()
    {
        ports = FreePorts(lines.size());
        if (ports.empty())
            return;
        for (std::size_t i = 0; i < lines.size(); ++i)
            ports[i] = lines[i].port != 0 ? lines[i].port : ports[i];
        const std::string config = dir + "/ser2net.yaml";
        {
            std::ofstream out(config);
            for (std::size_t i = 0; i < lines.size(); ++i)
                out << "connection: &line" << i
                    << "\n  accepter: " << (lines[i].rfc2217 ? "telnet(rfc2217)," : "")
                    << "tcp,127.0.0.1," << ports[i] << "\n  connector: serialdev,"
                    << lines[i].device << "," << lines[i].settings << ",local\n"
                    << (lines[i].charDelay ? "" : "  options:\n    chardelay: false\n");
        }
        const std::string log = dir + "/log";
        std::string argv0 = Program, n = "-n", u = "-u", c = "-c", file = config;
        char *argv[] = {argv0.data(), n.data(), u.data(), c.data(), file.data(), nullptr};
        const pid_t parent = ::getpid();
        // Only calls safe after a fork in a threaded process, until the program runs.
        const pid_t child = ::fork();
        if (child < 0)
            return;
        if (child == 0) {
            // A test that dies takes its server with it (the thread that made this one, really).
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (in < 0 || out < 0 || ::dup2(in, STDIN_FILENO) < 0 ||
                ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(out, STDERR_FILENO) < 0)
                ::_exit(1);
            ::close_range(3, ~0U, 0); // nothing of the test's, a line's far end least of all
            ::execv(Program, argv);
            ::_exit(127);
        }
        pid = child;
        // Up to 5 s for every accepter; a port taken meanwhile by another program: try again.
        for (int i = 0; i < 500; ++i) {
            bool all = true;
            for (const int port : ports)
                all = all && Listening(port);
            if (all)
                return;
            if (::waitpid(pid, nullptr, WNOHANG) != 0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Stop();
    }

    std::vector<Ser2netLine> lines;
    std::string dir;
    std::vector<int> ports;
    pid_t pid = -1;
};
