#pragma once
// What the benchmark programs share: clocks, process figures from /proc and getrusage, simple
// statistics, and a table printed as Markdown so that it can go into bench/RESULTS.md as it is.

#include <chrono>
#include <string>
#include <vector>

namespace bench {

// Seconds on the monotonic clock; comparable between processes of one machine.
double MonotonicSeconds();
// User + system CPU time of the whole process, all threads, in seconds.
double ProcessCpuSeconds();
// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();
// Resident memory of the process (VmRSS), in KiB; -1 when it cannot be read.
long ResidentKiB();
// Threads of this process, from the kernel's list.
int ThreadCount();

struct Summary
{
    double median = 0;
    double min = 0;
    double max = 0;
};
Summary Summarise(std::vector<double> values);

std::string Fixed(double value, int decimals);
// "median (min – max)" with the given decimals.
std::string Spread(const Summary &summary, int decimals);

class Table
{
public:
    Table(std::string title, std::vector<std::string> header);
    void Row(std::vector<std::string> cells);
    // A line printed below the table: what is measured and what it is compared with.
    void Note(std::string text);
    void Print() const;

private:
    std::string title;
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> notes;
};

// The directory of the running executable, to find the programs built beside it.
std::string ExecutableDirectory();

// A child program started without a shell, its standard output collected through a pipe.
class ChildProcess
{
public:
    // Starts `program` with `arguments`; throws std::runtime_error when it cannot.
    ChildProcess(const std::string &program, const std::vector<std::string> &arguments);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Reads the output to its end and waits for the exit; true if the child exited with 0.
    bool Finish();
    const std::string &Output() const { return output; }
    // The number after "<key> " on a line of the output; `fallback` when there is none.
    double Value(const std::string &key, double fallback = -1) const;

private:
    int pid = -1;
    int outputFd = -1;
    std::string output;
    bool exitedCleanly = false;
};

} // namespace bench
