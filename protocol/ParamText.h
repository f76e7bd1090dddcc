#pragma once
// What the parameter file, the channel table and the settings mapping share: how a user's text
// is split, checked and quoted back in a message.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace paramtext {

inline constexpr const char *FrequencyHint =
    " (three digits, a point and four digits, e.g. 450.1250)";

bool IsDigit(char c);
std::string Lower(std::string_view text);

// A user's text inside a message, between quotes: control characters, invisible characters
// (a no-break or zero-width space) and bytes that are not UTF-8 appear as visible escapes
// ("<U+00A0>", "<0xFF>"), and a long text is cut.
std::string Quoted(std::string_view text);

bool IsUtf8(std::string_view text);
std::optional<int> SmallNumber(std::string_view text, int highest);
// A channel number from 1 to 16, or nothing with `why` saying what is wrong with it.
std::optional<int> ChannelNumber(std::string_view text, std::string &why);
// The fields between blanks (space, tab, CR, VT, FF).
std::vector<std::string_view> Fields(std::string_view line);
// A file that is not a parameter file at all would bury the first errors.
void Cap(std::vector<std::string> &errors);

// The text without a UTF-8 byte order mark, which editors on Windows like to put first.
std::string_view WithoutBom(std::string_view text);
// The next line and the rest behind it: a line ends with LF, CR LF, or a CR alone (as old Mac
// editors and some spreadsheets write).
std::string_view NextLine(std::string_view &text);

} // namespace paramtext
