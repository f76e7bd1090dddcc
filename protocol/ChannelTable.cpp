#include "protocol/ParamFile.h"

#include <algorithm>

#include "protocol/ParamText.h"

using namespace paramtext;

namespace {

// The first row decides how fields are separated: by ';' if it has one outside quotes (what a
// spreadsheet writes where the decimal mark is a comma), else by ','. Then a comma inside a
// field is a decimal comma: "460,125" in a ';' table, or quoted, "460,125", in a ',' table.
// An unquoted decimal comma in a ',' table cannot be told from a separator, so the row has too
// many fields and is refused.
char SeparatorOf(std::string_view line)
{
    bool quoted = false;
    for (const char c : line) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            return ';';
    }
    return ',';
}

// The fields of a row, each as written: blanks around a field and the quotes around it go,
// nothing inside it changes. False, with `why`, when the quotes do not pair up.
bool SplitRow(std::string_view line, char separator, std::vector<std::string> &fields,
              std::string &why)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    fields.clear();
    std::size_t i = 0;
    for (;;) {
        while (i < line.size() && blank(line[i]))
            ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i == line.size()) {
                    why = "a quote is not closed";
                    return false;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        ++i;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i];
            }
            while (i < line.size() && blank(line[i]))
                ++i;
            if (i < line.size() && line[i] != separator) {
                why = "unexpected " + Quoted(line.substr(i)) + " after a closing quote";
                return false;
            }
        } else {
            const std::size_t end = std::min(line.find(separator, i), line.size());
            field = std::string(line.substr(i, end - i));
            while (!field.empty() && blank(field.back()))
                field.pop_back();
            i = end;
        }
        fields.push_back(field);
        if (i >= line.size())
            return true;
        ++i; // the separator
    }
}

// A frequency a spreadsheet wrote as a number: a decimal comma read as a point and the four
// decimals restored. Anything else stays as written, to be refused.
std::string FromSpreadsheet(std::string text)
{
    if (std::count(text.begin(), text.end(), ',') == 1 && text.find('.') == std::string::npos)
        text[text.find(',')] = '.';
    std::size_t point = text.find('.');
    if (point == std::string::npos) {
        point = text.size();
        text += '.';
    }
    if (point == 3 && text.size() - point - 1 < 4)
        text.append(4 - (text.size() - point - 1), '0');
    return text;
}

} // namespace

std::string WriteChannelTable(const ModuleSettings &settings)
{
    std::string text = "channel,transmit MHz,receive MHz\r\n";
    for (std::size_t i = 0; i < settings.channels.size(); ++i)
        text += std::to_string(i + 1) + "," + settings.channels[i].tx + "," +
                settings.channels[i].rx + "\r\n";
    return text;
}

SettingsResult ReadChannelTable(std::string_view text, const ModuleSettings &rest)
{
    SettingsResult result{rest, {}};
    std::array<int, ParamRecord::ChannelCount> seen{};
    const auto error = [&](int line, const std::string &what) {
        result.errors.push_back("line " + std::to_string(line) + ": " + what);
    };
    text = WithoutBom(text);
    std::optional<char> separator;
    bool first = true;
    for (int number = 1; !text.empty(); ++number) {
        const std::string_view line = NextLine(text);
        if (line.find_first_not_of(" \t") == std::string_view::npos)
            continue;
        if (!separator)
            separator = SeparatorOf(line);
        std::vector<std::string> fields;
        std::string why;
        if (!SplitRow(line, *separator, fields, why)) {
            error(number, why);
            continue;
        }
        const bool header = first && !fields[0].empty() && !IsDigit(fields[0][0]);
        first = false;
        if (header)
            continue;
        if (fields.size() != 3) {
            error(number, "a row needs the channel, the transmit and the receive frequency, "
                          "got " +
                              std::to_string(fields.size()) + " fields separated by '" +
                              std::string(1, *separator) + "'" +
                              (*separator == ',' ? " (a decimal comma must be quoted, or the "
                                                   "fields separated by ';')"
                                                 : ""));
            continue;
        }
        const std::optional<int> channel = ChannelNumber(fields[0], why);
        if (!channel) {
            error(number, why);
            continue;
        }
        int &seenOn = seen[static_cast<std::size_t>(*channel - 1)];
        if (seenOn != 0) {
            error(number, "channel " + std::to_string(*channel) +
                              " is given again (first on line " + std::to_string(seenOn) + ")");
            continue;
        }
        seenOn = number;
        ChannelFrequencies &frequencies =
            result.settings.channels[static_cast<std::size_t>(*channel - 1)];
        frequencies = {FromSpreadsheet(fields[1]), FromSpreadsheet(fields[2])};
        if (!IsFrequencyText(frequencies.tx))
            error(number, "transmit frequency " + Quoted(fields[1]) + " is not a frequency" +
                              FrequencyHint);
        if (!IsFrequencyText(frequencies.rx))
            error(number,
                  "receive frequency " + Quoted(fields[2]) + " is not a frequency" + FrequencyHint);
    }
    for (std::size_t i = 0; i < seen.size(); ++i)
        if (seen[i] == 0)
            result.errors.push_back("channel " + std::to_string(i + 1) + " is missing");
    Cap(result.errors);
    return result;
}
