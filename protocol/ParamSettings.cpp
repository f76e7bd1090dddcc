#include "protocol/ParamFile.h"

#include <algorithm>
#include <cctype>

#include "protocol/Conversion.h"
#include "protocol/ParamText.h"

using namespace paramtext;

namespace {

constexpr ToneCode LastToneCode = FirstCdcssCode + CdcssItemCount - 1;

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
        result.settings.squelch = std::to_string(*level);
    else
        result.errors.push_back("squelch " + Quoted(record.SquelchText()) +
                                " is not a level from 0 to " + std::to_string(HighestSquelch));
    return result;
}

ShownRecord ReadShownRecord(const ParamRecord &record)
{
    ShownRecord shown;
    ModuleSettings &settings = shown.settings;
    for (int channel = 1; channel <= ParamRecord::ChannelCount; ++channel)
        settings.channels[static_cast<std::size_t>(channel - 1)] = {record.TxFrequency(channel),
                                                                    record.RxFrequency(channel)};
    try {
        settings.txTone = StrToInt(record.TxToneText());
        shown.lastRead = ShownRecord::TxTone;
        settings.rxTone = StrToInt(record.RxToneText());
        shown.lastRead = ShownRecord::RxTone;
        settings.squelch = std::to_string(StrToInt(record.SquelchText()));
        shown.lastRead = ShownRecord::Squelch;
    } catch (const EConvertError &error) {
        shown.error = error;
    }
    return shown;
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
    values.squelch = settings.squelch;
    return values;
}

std::string SettingDifference::Text() const
{
    return setting + ": " + file + " in the file, " + module + " in the module";
}

std::vector<SettingDifference> SettingsDifferences(const ModuleSettings &file,
                                                   const ModuleSettings &module)
{
    std::vector<SettingDifference> differences;
    const auto compare = [&](const std::string &what, const std::string &inFile,
                             const std::string &inModule) {
        if (inFile != inModule)
            differences.push_back({what, inFile, inModule});
    };
    for (std::size_t i = 0; i < file.channels.size(); ++i) {
        const std::string channel = "channel " + std::to_string(i + 1);
        compare(channel + " transmit frequency", file.channels[i].tx, module.channels[i].tx);
        compare(channel + " receive frequency", file.channels[i].rx, module.channels[i].rx);
    }
    compare("transmit tone", ToneName(file.txTone), ToneName(module.txTone));
    compare("receive tone", ToneName(file.rxTone), ToneName(module.rxTone));
    compare("squelch", file.squelch, module.squelch);
    return differences;
}
