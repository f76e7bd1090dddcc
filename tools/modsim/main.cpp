// modsim: the module simulator as a program. Prints "<line path>[ <link path>]" on one line,
// then answers until SIGINT, SIGTERM or SIGHUP.

#include "tools/modsim/CommandLine.h"
#include "tools/modsim/ModuleSimulator.h"

#include <csignal>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <signal.h>

namespace {

constexpr int kUsageError = 2;

} // namespace

int main(int argc, char **argv)
{
    using namespace nmct::modsim;

    CommandLine commandLine;
    try {
        commandLine = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::invalid_argument &error) {
        std::cerr << "modsim: " << error.what() << "\n(see modsim --help)\n";
        return kUsageError;
    }
    if (commandLine.help) {
        std::cout << UsageText();
        return 0;
    }
    if (commandLine.verbose) {
        commandLine.options.log = [](const std::string &line) {
            std::cerr << "modsim: " << line << '\n';
        };
    }

    // Blocked before the simulator's thread exists, so that thread inherits the mask and the
    // signals are taken only by sigwait below; the destructor then removes the link.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&stopSignals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        ModuleSimulator simulator(std::move(commandLine.options));
        std::cout << simulator.SlavePath();
        if (!simulator.LinkPath().empty()) {
            std::cout << ' ' << simulator.LinkPath();
        }
        std::cout << std::endl;

        int received = 0;
        sigwait(&stopSignals, &received);
    } catch (const std::exception &error) {
        std::cerr << "modsim: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
