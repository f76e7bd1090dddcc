#include "cli/CliMain.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char *argv[])
{
    // The link waits for replies by processing the events that deliver them.
    QCoreApplication application(argc, argv);
    return cli::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
