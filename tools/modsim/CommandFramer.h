#pragma once
// Cuts the received byte stream into commands. Only the set command has a terminator, so a
// command normally ends with a short quiet gap on the line (the tool writes each command in one
// write); the owner watches the clock and calls TakeRest when the gap has passed. Commands whose
// end is certain are taken at once, so two of them arriving together are still two.

#include <optional>
#include <string>
#include <string_view>

namespace nmct::modsim {

class CommandFramer
{
public:
    void Append(std::string_view bytes) { pending_.append(bytes); }

    // The next command that is complete without waiting for the quiet gap: "AAFAA", "AAFA1",
    // "AAFA2", or a set command through its line end.
    std::optional<std::string> NextComplete();

    // The quiet gap has passed: whatever is pending is one command.
    std::string TakeRest();

    bool HasPending() const { return !pending_.empty(); }
    void Clear() { pending_.clear(); }

private:
    std::string pending_;
};

} // namespace nmct::modsim
