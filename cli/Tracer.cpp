#include "cli/Tracer.h"

#include <cstdio>
#include <ostream>

namespace cli {

void Tracer::Line(const std::string &port, bool sent, std::string_view bytes)
{
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char time[32];
    std::snprintf(time, sizeof time, "%10.6f", seconds);
    std::string hex, text;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02x ", static_cast<unsigned char>(c));
        hex += pair;
        text += c >= 0x20 && c < 0x7f ? c : '.';
    }
    const std::lock_guard<std::mutex> lock(mutex);
    err << time << " " << port << (sent ? " > " : " < ") << hex << " |" << text << "|\n";
    err.flush();
}

} // namespace cli
