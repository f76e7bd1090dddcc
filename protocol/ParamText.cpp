#include "protocol/ParamText.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "protocol/ParamRecord.h"

namespace paramtext {

namespace {

constexpr std::size_t QuotedWidth = 24; // bytes of the message, escapes included
constexpr std::size_t MostErrors = 20;

// Code points that print as nothing or as a plain space, so a message would not show them.
bool IsInvisible(char32_t c)
{
    return c < 0x20 || c == 0x7f || (c >= 0x80 && c <= 0xa0) || c == 0xad || c == 0x034f ||
           c == 0x061c || c == 0x115f || c == 0x1160 || c == 0x1680 || c == 0x180e ||
           (c >= 0x2000 && c <= 0x200f) || (c >= 0x2028 && c <= 0x202f) ||
           (c >= 0x205f && c <= 0x206f) || c == 0x3000 || c == 0x3164 || c == 0xfeff ||
           (c >= 0xfff0 && c <= 0xfffb);
}

std::string Escape(const char *format, unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The length of the UTF-8 sequence at the start of `text`, 0 if there is none.
std::size_t SequenceLength(std::string_view text, char32_t &code)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xe  ? 3
                               : (lead >> 3) == 0x1e ? 4
                                                     : 0;
    if (length == 0 || length > text.size())
        return 0;
    code = length == 1 ? lead : lead & (0x7f >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[k]);
        if ((next >> 6) != 0x2)
            return 0;
        code = (code << 6) | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points past Unicode are not UTF-8.
    constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
        return 0;
    return length;
}

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

std::string Quoted(std::string_view text)
{
    std::string shown;
    std::size_t i = 0;
    while (i < text.size() && shown.size() < QuotedWidth) {
        char32_t code = 0;
        const std::size_t length = SequenceLength(text.substr(i), code);
        if (length == 0) {
            shown += Escape("<0x%02X>", static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        if (IsInvisible(code))
            shown += Escape("<U+%04X>", static_cast<unsigned>(code));
        else
            shown += text.substr(i, length);
        i += length;
    }
    if (i < text.size())
        shown += "...";
    return "'" + shown + "'";
}

bool IsUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = SequenceLength(text.substr(i), code);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
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

std::optional<int> ChannelNumber(std::string_view text, std::string &why)
{
    const std::optional<int> channel = SmallNumber(text, ParamRecord::ChannelCount);
    if (channel && *channel != 0)
        return channel;
    why = "channel " + Quoted(text) + " is not a channel number from 1 to " +
          std::to_string(ParamRecord::ChannelCount);
    return std::nullopt;
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

void Cap(std::vector<std::string> &errors)
{
    if (errors.size() > MostErrors) {
        const std::size_t more = errors.size() - MostErrors;
        errors.resize(MostErrors);
        errors.push_back("... and " + std::to_string(more) + " more errors");
    }
}

std::string_view WithoutBom(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    return text;
}

std::string_view NextLine(std::string_view &text)
{
    const std::size_t end = text.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        const std::string_view line = text;
        text = {};
        return line;
    }
    const std::string_view line = text.substr(0, end);
    const bool crlf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crlf ? 2 : 1));
    return line;
}

} // namespace paramtext
