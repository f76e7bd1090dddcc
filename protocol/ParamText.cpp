#include "protocol/ParamText.h"

#include <algorithm>
#include <cctype>

#include "protocol/ParamRecord.h"

namespace paramtext {

namespace {

constexpr std::size_t MostErrors = 20;
constexpr std::size_t QuotedWidth = 24;

} // namespace

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A user's text inside a message: control characters would garble the terminal, and a long
// line would bury the message.
std::string Quoted(std::string_view text)
{
    std::string shown;
    for (const char c : text.substr(0, QuotedWidth))
        shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    if (text.size() > QuotedWidth)
        shown += "...";
    return "'" + shown + "'";
}

std::optional<int> SmallNumber(std::string_view text, int highest)
{
    if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), IsDigit))
        return std::nullopt;
    const int value = std::stoi(std::string(text));
    if (value > highest)
        return std::nullopt;
    return value;
}

// A channel number from 1 to 16, or nothing with `why` saying what is wrong with it.
std::optional<int> ChannelNumber(std::string_view text, std::string &why)
{
    const std::optional<int> channel = SmallNumber(text, ParamRecord::ChannelCount);
    if (channel && *channel != 0)
        return channel;
    why = "channel " + Quoted(text) + " is not a channel number from 1 to " +
          std::to_string(ParamRecord::ChannelCount);
    return std::nullopt;
}

bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2)
                return false;
        i += length;
    }
    return true;
}

// A file that is not a parameter file at all would bury the first errors.
void Cap(std::vector<std::string> &errors)
{
    if (errors.size() > MostErrors) {
        const std::size_t more = errors.size() - MostErrors;
        errors.resize(MostErrors);
        errors.push_back("... and " + std::to_string(more) + " more errors");
    }
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    const auto blank = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
    };
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !blank(line[i]))
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

} // namespace paramtext
