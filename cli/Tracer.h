#pragma once
// --trace: every byte through the links, as it passes, on standard error; shared by the ports'
// threads.

#include <chrono>
#include <iosfwd>
#include <mutex>
#include <string>
#include <string_view>

namespace cli {

class Tracer
{
public:
    explicit Tracer(std::ostream &err) : err(err), start(std::chrono::steady_clock::now()) {}

    // "  0.012345 COM3 > 41 41 46 41 41  |AAFAA|": seconds since start, hex, printable text.
    void Line(const std::string &port, bool sent, std::string_view bytes);

private:
    std::ostream &err;
    std::chrono::steady_clock::time_point start;
    std::mutex mutex;
};

} // namespace cli
