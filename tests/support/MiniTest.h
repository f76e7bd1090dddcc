#pragma once
// The runner for the plain C++ tests (no Qt): a table of named cases, CHECK macros that stop
// the case on the first failure, Skip for what a platform cannot show (with the reason), each
// case's time, and a closing "N passed, M failed" line.

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <vector>

namespace minitest {

struct Failure : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Thrown by Skip: the case cannot be shown on this platform; the reason is printed.
struct Skipped : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void Skip(const std::string &reason)
{
    throw Skipped(reason);
}

struct Case
{
    std::string name;
    std::function<void()> body;
};

// How text appears in a failure message; a test whose texts hold control bytes sets its own.
inline std::function<std::string(std::string_view)> &TextShown()
{
    static std::function<std::string(std::string_view)> shown = [](std::string_view text) {
        return std::string(text);
    };
    return shown;
}

template <typename T> void Show(std::ostream &out, const T &value)
{
    if constexpr (std::is_convertible_v<const T &, std::string_view>)
        out << '"' << TextShown()(value) << '"';
    else
        out << value;
}

inline void Fail(const char *file, int line, const std::string &what)
{
    std::ostringstream text;
    text << file << ":" << line << ": " << what;
    throw Failure(text.str());
}

template <typename A, typename B>
void CheckEqual(const A &actual, const B &expected, const char *a, const char *b, const char *file,
                int line)
{
    if (actual == expected)
        return;
    std::ostringstream text;
    text << a << " == " << b << " failed: got ";
    Show(text, actual);
    text << ", expected ";
    Show(text, expected);
    Fail(file, line, text.str());
}

// Polls a condition that another thread makes true; generous bounds, never scheduling luck.
inline bool WaitUntil(const std::function<bool()> &condition, int timeoutMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline int Run(const std::vector<Case> &cases)
{
    int passed = 0;
    int failed = 0;
    int skipped = 0;
    for (const auto &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        try {
            c.body();
            ++passed;
            const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            std::printf("PASS %s (%lld ms)\n", c.name.c_str(),
                        static_cast<long long>(took.count()));
        } catch (const Skipped &e) {
            ++skipped;
            std::printf("SKIP %s\n     %s\n", c.name.c_str(), e.what());
        } catch (const std::exception &e) {
            ++failed;
            std::printf("FAIL %s\n     %s\n", c.name.c_str(), e.what());
        }
        std::fflush(stdout);
    }
    if (skipped != 0)
        std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    else
        std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace minitest

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::minitest::Fail(__FILE__, __LINE__, "CHECK(" #cond ") failed");                       \
    } while (false)
#define CHECK_EQ(actual, expected)                                                                 \
    ::minitest::CheckEqual((actual), (expected), #actual, #expected, __FILE__, __LINE__)
