#include "cli/CliMain.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

int main(int argc, char *argv[])
{
    // A standard descriptor that is closed must not lend its number to the first file or port
    // the program opens (messages would go to the module): /dev/null holds the place. A closed
    // standard output is still a failure to report when something is printed.
    int outDescriptor = STDOUT_FILENO;
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(descriptor, F_GETFD) != -1)
            continue;
        if (descriptor == STDOUT_FILENO)
            outDescriptor = -1;
        ::open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
    // The link waits for replies by processing the events that deliver them.
    QCoreApplication application(argc, argv);
    return cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), outDescriptor, std::cerr);
}
