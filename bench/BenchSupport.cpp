#include "bench/BenchSupport.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace bench {

namespace {
double Seconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}
} // namespace

double MonotonicSeconds()
{
    return Seconds(CLOCK_MONOTONIC);
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds()
{
    return Seconds(CLOCK_THREAD_CPUTIME_ID);
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

int ThreadCount()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (const dirent *entry = readdir(dir))
            count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

Summary Summarise(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return {median, values.front(), values.back()};
}

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Spread(const Summary &summary, int decimals)
{
    return Fixed(summary.median, decimals) + " (" + Fixed(summary.min, decimals) + " – " +
           Fixed(summary.max, decimals) + ")";
}

Table::Table(std::string title, std::vector<std::string> header)
    : title(std::move(title)), header(std::move(header))
{}

void Table::Row(std::vector<std::string> cells)
{
    cells.resize(header.size());
    rows.push_back(std::move(cells));
}

void Table::Note(std::string text)
{
    notes.push_back(std::move(text));
}

void Table::Print() const
{
    std::ostringstream out;
    auto line = [&out](const std::vector<std::string> &cells) {
        out << '|';
        for (const std::string &cell : cells)
            out << ' ' << cell << " |";
        out << '\n';
    };
    out << "### " << title << "\n\n";
    line(header);
    out << '|';
    for (std::size_t i = 0; i < header.size(); ++i)
        out << (i == 0 ? " :-- |" : " --: |");
    out << '\n';
    for (const auto &row : rows)
        line(row);
    if (!notes.empty())
        out << '\n';
    for (const std::string &note : notes)
        out << note << '\n';
    out << '\n';
    std::fputs(out.str().c_str(), stdout);
    std::fflush(stdout);
}

std::string ExecutableDirectory()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string exe(path, std::size_t(length));
    return exe.substr(0, exe.rfind('/'));
}

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &arguments)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);

    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    outputFd = pipeFds[0];
    if (error != 0) {
        close(outputFd);
        outputFd = -1;
        pid = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

ChildProcess::~ChildProcess()
{
    Finish();
}

bool ChildProcess::Finish()
{
    if (pid < 0)
        return exitedCleanly;
    char buffer[4096];
    ssize_t count = 0;
    while ((count = read(outputFd, buffer, sizeof buffer)) > 0)
        output.append(buffer, std::size_t(count));
    close(outputFd);
    outputFd = -1;
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return exitedCleanly;
}

double ChildProcess::Value(const std::string &key, double fallback) const
{
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(key + ' ', 0) == 0)
            return std::stod(line.substr(key.size() + 1));
    }
    return fallback;
}

} // namespace bench
