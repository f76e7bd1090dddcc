#pragma once
// What every fuzz target uses: a check that stops the run when an invariant breaks, and a
// reader that takes small typed values from the front of the fuzzer's input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant is a finding like a crash: the run aborts and libFuzzer keeps the input.
#define FUZZ_CHECK(condition) ((condition) ? void(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

namespace fuzz {

[[noreturn]] inline void Fail(const char *condition, const char *file, int line)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    std::abort();
}

// Once the input is used up every value is zero or empty, so any input is a valid script.
class ByteReader
{
public:
    ByteReader(const std::uint8_t *data, std::size_t size) : data(data), size(size) {}

    bool AtEnd() const { return position >= size; }
    std::uint8_t Byte() { return AtEnd() ? 0 : data[position++]; }
    // A whole number from 0 to count - 1.
    int Below(int count) { return Byte() % count; }
    // A length byte, then up to that many bytes.
    std::string Text() { return Take(Byte()); }
    std::string Rest() { return Take(size - position); }

private:
    std::string Take(std::size_t count)
    {
        count = std::min(count, size - position);
        std::string bytes(reinterpret_cast<const char *>(data + position), count);
        position += count;
        return bytes;
    }

    const std::uint8_t *data;
    std::size_t size;
    std::size_t position = 0;
};

} // namespace fuzz
