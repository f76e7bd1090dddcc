#include "tools/modsim/CommandFramer.h"

#include "tools/modsim/Module.h"

#include <array>

namespace nmct::modsim {

namespace {

constexpr std::array<std::string_view, 3> kFixedCommands = {"AAFAA", "AAFA1", "AAFA2"};
constexpr std::string_view kSetWord = "AAFA3";

} // namespace

std::optional<std::string> CommandFramer::NextComplete()
{
    std::size_t length = 0;
    for (std::string_view fixed : kFixedCommands) {
        if (pending_.starts_with(fixed)) {
            length = fixed.size();
        }
    }
    if (pending_.starts_with(kSetWord)) {
        const std::size_t end = pending_.find(kSetLineEnd, kSetWord.size());
        if (end != std::string::npos) {
            length = end + kSetLineEnd.size();
        }
    }
    if (length == 0) {
        return std::nullopt;
    }
    std::string command = pending_.substr(0, length);
    pending_.erase(0, length);
    return command;
}

std::string CommandFramer::TakeRest()
{
    std::string rest;
    rest.swap(pending_);
    return rest;
}

} // namespace nmct::modsim
