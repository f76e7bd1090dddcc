#include "protocol/ParamFile.h"

#include "protocol/ParamText.h"

using namespace paramtext;

namespace {

// A frequency a spreadsheet wrote as a number: the four decimals restored.
std::string FromSpreadsheet(std::string text)
{
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
    bool first = true;
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::vector<std::string> fields(1);
        for (const char c : text.substr(0, end)) {
            if (c == ',' || c == ';')
                fields.emplace_back();
            else if (c != '"' && c != ' ' && c != '\t' && c != '\r')
                fields.back() += c;
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (fields.size() == 1 && fields[0].empty())
            continue;
        const bool header = first && !fields[0].empty() && !IsDigit(fields[0][0]);
        first = false;
        if (header)
            continue;
        if (fields.size() != 3) {
            error(number, "a row needs the channel, the transmit and the receive frequency");
            continue;
        }
        std::string why;
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
