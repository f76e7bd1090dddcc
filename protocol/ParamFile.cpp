#include "protocol/ParamFile.h"

#include "protocol/ParamText.h"

using namespace paramtext;

namespace {

const char *const ToneHint = " (CTCSS 0 to 38, or CDCSS with a code and I or N, e.g. CDCSS 031N)";

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
        text = WithoutBom(text);
        for (int number = 1; !text.empty(); ++number)
            ReadLine(number, NextLine(text));
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
        result.settings.squelch = std::to_string(*level);
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

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() < width)
        text.append(width - text.size(), ' ');
    return text;
}

} // namespace

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
            "\nsquelch  " + settings.squelch + "\n";
    return text;
}
