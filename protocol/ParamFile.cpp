#include "protocol/ParamFile.h"

#include <algorithm>
#include <cctype>

#include "protocol/Conversion.h"

namespace {

constexpr std::size_t MostErrors = 20;
constexpr std::size_t QuotedWidth = 24;
constexpr ToneCode LastToneCode = FirstCdcssCode + CdcssItemCount - 1;

const char *const FrequencyHint = " (three digits, a point and four digits, e.g. 450.1250)";
const char *const ToneHint = " (CTCSS 0 to 38, or CDCSS with a code and I or N, e.g. CDCSS 031N)";

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

std::string Joined(const std::vector<std::string_view> &fields, std::size_t from)
{
    std::string text;
    for (std::size_t i = from; i < fields.size(); ++i)
        text += (i > from ? " " : "") + std::string(fields[i]);
    return text;
}

// Collects errors, and the settings seen so far with the line each came from.
class FileReader
{
public:
    SettingsResult Read(std::string_view text)
    {
        // Editors on Windows like to start UTF-8 files with a byte order mark.
        if (text.substr(0, 3) == "\xEF\xBB\xBF")
            text.remove_prefix(3);
        for (int number = 1; !text.empty(); ++number) {
            const std::size_t end = text.find('\n');
            ReadLine(number, text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        }
        CheckComplete();
        Cap(result.errors);
        return std::move(result);
    }

private:
    void Error(int line, const std::string &what)
    {
        result.errors.push_back("line " + std::to_string(line) + ": " + what);
    }

    void ReadLine(int number, std::string_view line)
    {
        if (!IsUtf8(line)) {
            Error(number, "not UTF-8 text (save the file as UTF-8)");
            return;
        }
        const std::vector<std::string_view> fields = Fields(line.substr(0, line.find('#')));
        if (fields.empty())
            return;
        const std::string key = Lower(fields[0]);
        if (!formatLine) {
            formatLine = number;
            if (key != "format") {
                Error(number,
                      "the file must start with 'format " + std::to_string(ParamFileFormat) + "'");
                return;
            }
        }
        if (key == "format")
            ReadFormat(number, fields);
        else if (key == "channel")
            ReadChannel(number, fields);
        else if (key == "tx-tone" || key == "rx-tone")
            ReadTone(number, fields, key == "tx-tone");
        else if (key == "squelch")
            ReadSquelch(number, fields);
        else
            Error(number, Quoted(fields[0]) +
                              " is not a setting (format, channel, tx-tone, rx-tone or squelch)");
    }

    // False, with an error, when the setting was given before.
    bool FirstTime(int number, const std::string &what, int &seenOn)
    {
        if (seenOn != 0) {
            Error(number, what + " is given again (first on line " + std::to_string(seenOn) + ")");
            return false;
        }
        seenOn = number;
        return true;
    }

    bool Unexpected(int number, const std::vector<std::string_view> &fields, std::size_t count,
                    const std::string &after)
    {
        if (fields.size() <= count)
            return false;
        Error(number, "unexpected " + Quoted(fields[count]) + " after " + after);
        return true;
    }

    void ReadFormat(int number, const std::vector<std::string_view> &fields)
    {
        if (!FirstTime(number, "the format", formatSeen) ||
            Unexpected(number, fields, 2, "the format"))
            return;
        if (fields.size() < 2 || fields[1] != std::to_string(ParamFileFormat))
            Error(number, "format " + (fields.size() < 2 ? std::string("''") : Quoted(fields[1])) +
                              " is not one this program reads (it reads format " +
                              std::to_string(ParamFileFormat) + ")");
    }

    void ReadChannel(int number, const std::vector<std::string_view> &fields)
    {
        if (fields.size() < 4) {
            Error(number, "a channel line needs the channel number, the transmit and the receive "
                          "frequency, e.g. 'channel 1 450.1250 450.1250'");
            return;
        }
        std::string why;
        const std::optional<int> channel = ChannelNumber(fields[1], why);
        if (!channel) {
            Error(number, why);
            return;
        }
        const auto index = static_cast<std::size_t>(*channel - 1);
        if (!FirstTime(number, "channel " + std::to_string(*channel), channelSeen[index]))
            return;
        ChannelFrequencies &frequencies = result.settings.channels[index];
        const char *const directions[] = {"transmit", "receive"};
        for (int k = 0; k < 2; ++k) {
            const std::string_view text = fields[static_cast<std::size_t>(2 + k)];
            if (!IsFrequencyText(text))
                Error(number, std::string(directions[k]) + " frequency " + Quoted(text) +
                                  " is not a frequency" + FrequencyHint);
            (k == 0 ? frequencies.tx : frequencies.rx) = std::string(text);
        }
        Unexpected(number, fields, 4, "the receive frequency");
    }

    void ReadTone(int number, const std::vector<std::string_view> &fields, bool transmit)
    {
        const std::string what = transmit ? "transmit tone" : "receive tone";
        if (!FirstTime(number, "the " + what, transmit ? txToneSeen : rxToneSeen) ||
            Unexpected(number, fields, 3, "the " + what))
            return;
        const std::string name = Joined(fields, 1);
        const std::optional<ToneCode> code = ToneFromName(name);
        if (!code) {
            Error(number, what + " " + Quoted(name) + " is not a tone" + ToneHint);
            return;
        }
        (transmit ? result.settings.txTone : result.settings.rxTone) = *code;
    }

    void ReadSquelch(int number, const std::vector<std::string_view> &fields)
    {
        if (!FirstTime(number, "the squelch", squelchSeen) ||
            Unexpected(number, fields, 2, "the squelch"))
            return;
        const std::string text = fields.size() < 2 ? std::string() : std::string(fields[1]);
        const std::optional<int> level = SmallNumber(text, HighestSquelch);
        if (!level) {
            Error(number, "squelch " + Quoted(text) + " is not a level from 0 to " +
                              std::to_string(HighestSquelch));
            return;
        }
        result.settings.squelch = *level;
    }

    void CheckComplete()
    {
        if (!formatLine) {
            result.errors.push_back("the file is empty: it must start with 'format " +
                                    std::to_string(ParamFileFormat) + "'");
            return;
        }
        for (std::size_t i = 0; i < channelSeen.size(); ++i)
            if (channelSeen[i] == 0)
                result.errors.push_back("channel " + std::to_string(i + 1) + " is missing");
        if (txToneSeen == 0)
            result.errors.push_back("the transmit tone (tx-tone) is missing");
        if (rxToneSeen == 0)
            result.errors.push_back("the receive tone (rx-tone) is missing");
        if (squelchSeen == 0)
            result.errors.push_back("the squelch is missing");
    }

    SettingsResult result;
    int formatLine = 0;
    int formatSeen = 0;
    std::array<int, ParamRecord::ChannelCount> channelSeen{};
    int txToneSeen = 0;
    int rxToneSeen = 0;
    int squelchSeen = 0;
};

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

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

// The module's tone and squelch fields are read as the window reads them.
std::optional<int> RecordNumber(const std::string &text, int highest)
{
    try {
        const int value = StrToInt(text);
        if (value >= 0 && value <= highest)
            return value;
    } catch (const EConvertError &) {
    }
    return std::nullopt;
}

} // namespace

bool IsFrequencyText(std::string_view text)
{
    if (text.size() != ParamRecord::FrequencyWidth)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i == 3 ? text[i] != '.' : !IsDigit(text[i]))
            return false;
    return true;
}

std::string ToneName(ToneCode code)
{
    const ToneSelection selection = SelectionForCode(code);
    if (selection.list == ToneList::Ctcss)
        return "CTCSS " + std::to_string(selection.position);
    return "CDCSS " + CdcssItems().at(static_cast<std::size_t>(selection.position));
}

std::optional<ToneCode> ToneFromName(std::string_view name)
{
    const std::vector<std::string_view> fields = Fields(name);
    if (fields.size() != 2)
        return std::nullopt;
    const std::string list = Lower(fields[0]);
    if (list == "ctcss") {
        const std::optional<int> position = SmallNumber(fields[1], CtcssItemCount - 1);
        if (!position)
            return std::nullopt;
        return CodeForSelection(ToneList::Ctcss, *position);
    }
    if (list != "cdcss")
        return std::nullopt;
    std::string item(fields[1]);
    if (!item.empty())
        item.back() = static_cast<char>(std::toupper(static_cast<unsigned char>(item.back())));
    const std::vector<std::string> items = CdcssItems();
    const auto found = std::find(items.begin(), items.end(), item);
    if (found == items.end())
        return std::nullopt;
    return CodeForSelection(ToneList::Cdcss, static_cast<int>(found - items.begin()));
}

SettingsResult ReadParamFile(std::string_view text)
{
    return FileReader().Read(text);
}

std::string WriteParamFile(const ModuleSettings &settings)
{
    std::string text = "# Radio module parameters. Edit with care: every line is checked before\n"
                       "# anything is sent. Frequencies in MHz; tones CTCSS 0-38 or CDCSS code.\n"
                       "format " +
                       std::to_string(ParamFileFormat) + "\n\n# channel  transmit  receive\n";
    for (std::size_t i = 0; i < settings.channels.size(); ++i)
        text += Padded("channel " + std::to_string(i + 1), 12) + settings.channels[i].tx + "  " +
                settings.channels[i].rx + "\n";
    text += "\ntx-tone  " + ToneName(settings.txTone) + "\nrx-tone  " + ToneName(settings.rxTone) +
            "\nsquelch  " + std::to_string(settings.squelch) + "\n";
    return text;
}

SettingsResult SettingsFromRecord(const ParamRecord &record)
{
    SettingsResult result;
    for (int channel = 1; channel <= ParamRecord::ChannelCount; ++channel) {
        ChannelFrequencies &frequencies =
            result.settings.channels[static_cast<std::size_t>(channel - 1)];
        frequencies = {record.TxFrequency(channel), record.RxFrequency(channel)};
        for (const auto &[text, what] :
             {std::pair{frequencies.tx, "transmit"}, std::pair{frequencies.rx, "receive"}})
            if (!IsFrequencyText(text))
                result.errors.push_back("channel " + std::to_string(channel) + " " + what +
                                        " frequency " + Quoted(text) + " is not a frequency");
    }
    const std::pair<std::string, ToneCode *> tones[] = {{"transmit", &result.settings.txTone},
                                                        {"receive", &result.settings.rxTone}};
    for (const auto &[what, code] : tones) {
        const std::string text = what == "transmit" ? record.TxToneText() : record.RxToneText();
        if (const std::optional<int> value = RecordNumber(text, LastToneCode))
            *code = *value;
        else
            result.errors.push_back(what + " tone code " + Quoted(text) + " is not a known tone");
    }
    if (const std::optional<int> level = RecordNumber(record.SquelchText(), HighestSquelch))
        result.settings.squelch = *level;
    else
        result.errors.push_back("squelch " + Quoted(record.SquelchText()) +
                                " is not a level from 0 to " + std::to_string(HighestSquelch));
    return result;
}

ParamRecord RecordFromSettings(const ModuleSettings &settings)
{
    ParamRecord record;
    record.SetField(ParamRecord::HeaderPos, "AA");
    for (int channel = 1; channel <= ParamRecord::ChannelCount; ++channel) {
        const ChannelFrequencies &frequencies =
            settings.channels[static_cast<std::size_t>(channel - 1)];
        record.SetField(ParamRecord::TxFrequencyPos(channel),
                        frequencies.tx.substr(0, ParamRecord::FrequencyWidth));
        record.SetField(ParamRecord::RxFrequencyPos(channel),
                        frequencies.rx.substr(0, ParamRecord::FrequencyWidth));
    }
    record.SetField(ParamRecord::TxTonePos, ToneCodeText(settings.txTone).substr(0, 3));
    record.SetField(ParamRecord::RxTonePos, ToneCodeText(settings.rxTone).substr(0, 3));
    record.SetField(ParamRecord::SquelchPos, std::to_string(settings.squelch).substr(0, 1));
    return record;
}

SetCommandValues SetValuesFromSettings(const ModuleSettings &settings)
{
    SetCommandValues values;
    for (std::size_t i = 0; i < settings.channels.size(); ++i) {
        values.txFrequencies[i] = settings.channels[i].tx;
        values.rxFrequencies[i] = settings.channels[i].rx;
    }
    values.txTone = settings.txTone;
    values.rxTone = settings.rxTone;
    values.squelch = std::to_string(settings.squelch);
    return values;
}

std::vector<std::string> SettingsDifferences(const ModuleSettings &file,
                                             const ModuleSettings &module)
{
    std::vector<std::string> differences;
    const auto compare = [&](const std::string &what, const std::string &inFile,
                             const std::string &inModule) {
        if (inFile != inModule)
            differences.push_back(what + ": " + inFile + " in the file, " + inModule +
                                  " in the module");
    };
    for (std::size_t i = 0; i < file.channels.size(); ++i) {
        const std::string channel = "channel " + std::to_string(i + 1);
        compare(channel + " transmit frequency", file.channels[i].tx, module.channels[i].tx);
        compare(channel + " receive frequency", file.channels[i].rx, module.channels[i].rx);
    }
    compare("transmit tone", ToneName(file.txTone), ToneName(module.txTone));
    compare("receive tone", ToneName(file.rxTone), ToneName(module.rxTone));
    compare("squelch", std::to_string(file.squelch), std::to_string(module.squelch));
    return differences;
}

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
