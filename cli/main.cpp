#include "cli/CliMain.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <iostream>

int main(int argc, char *argv[])
{
    // A closed standard output is a failure to report, and its number must not go to the
    // first file or port the program opens: /dev/null holds the place.
    int outDescriptor = STDOUT_FILENO;
    if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) {
        outDescriptor = -1;
        ::open("/dev/null", O_WRONLY);
    }
    // The link waits for replies by processing the events that deliver them.
    QCoreApplication application(argc, argv);
    return cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), outDescriptor, std::cerr);
}
