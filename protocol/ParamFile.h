#pragma once
// The parameter file: a module's settings as UTF-8 text that people read, edit, diff and keep
// in version control, one setting per line:
//
//     # Site 4, batch of May
//     format 1
//     channel 1   450.1250  450.1250
//     ...                                 (channels 1 to 16, each once, in any order)
//     tx-tone  CTCSS 11
//     rx-tone  CDCSS 031N
//     squelch  2
//
// A plain table rather than JSON or INI: one line per channel keeps a diff to the channels that
// changed, '#' comments carry the site's notes, and there is no quoting or nesting to get wrong
// in a text editor. Frequencies and tones are written exactly as the window shows them.
//
// ModuleSettings is the one model of a module's settings between the module's record, the
// window, the set command, the file and the CSV table: the window shows a record or a file
// through it and sends what it shows through SetValuesFromSettings, as the command line does.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/Commands.h"
#include "protocol/Conversion.h"
#include "protocol/ParamRecord.h"
#include "protocol/ToneCode.h"

inline constexpr int ParamFileFormat = 1;
inline constexpr int HighestSquelch = 8;
// The largest parameter file or channel table read: far more than either needs, even with long
// comments, and small enough to refuse an endless device at once.
inline constexpr std::size_t LargestParamFile = 1 << 20;

struct ChannelFrequencies
{
    std::string tx; // "450.1250"
    std::string rx;
    bool operator==(const ChannelFrequencies &) const = default;
};

// Settings as the module takes them. What came from a file or a checked record is whole and
// within the lists; what the window shows or sends may be anything its controls hold (a
// frequency field's bytes, a squelch typed as "12"), and is sent unchanged.
struct ModuleSettings
{
    std::array<ChannelFrequencies, ParamRecord::ChannelCount> channels; // channel 1 first
    ToneCode txTone = 0;
    ToneCode rxTone = 0;
    std::string squelch = "0"; // a level from 0 to 8, as text
    bool operator==(const ModuleSettings &) const = default;
};

// Settings, or what is wrong with where they came from: each error names the line (or the
// record's field) and the value, in a user's words. Settings are meaningful only without errors.
struct SettingsResult
{
    ModuleSettings settings;
    std::vector<std::string> errors;
    bool Ok() const { return errors.empty(); }
};

SettingsResult ReadParamFile(std::string_view text);
std::string WriteParamFile(const ModuleSettings &settings);

// A record as the module sends it; values a file could not hold are errors.
SettingsResult SettingsFromRecord(const ParamRecord &record);

// A record as the window reads it, field by field in the order it shows them: the 32
// frequencies as their bytes, whatever they are, then the transmit and the receive tone code and
// the squelch as whole numbers (StrToInt). The first of those that is not one ends the reading:
// the window shows what was read before it and the error.
struct ShownRecord
{
    enum Part
    {
        Frequencies,
        TxTone,
        RxTone,
        Squelch, // the whole record
    };
    ModuleSettings settings;
    Part lastRead = Frequencies;
    std::optional<EConvertError> error; // why it ended before the squelch
};
ShownRecord ReadShownRecord(const ParamRecord &record);

SetCommandValues SetValuesFromSettings(const ModuleSettings &settings);

// One setting that differs: its name and its value in the file and in the module.
struct SettingDifference
{
    std::string setting; // "channel 3 transmit frequency"
    std::string file;
    std::string module;
    // "channel 3 transmit frequency: 450.1250 in the file, 451.1250 in the module"
    std::string Text() const;
};
// Every setting that differs.
std::vector<SettingDifference> SettingsDifferences(const ModuleSettings &file,
                                                   const ModuleSettings &module);

// The channel table for spreadsheets: a header, then "channel,transmit,receive" rows. Reading
// takes ',' or ';' between fields (the first row decides which), quotes around them, a decimal
// comma where it cannot be a separator ("460,125" in a ';' table, or quoted), and a frequency a
// spreadsheet shortened ("450.125", "450"); any other value is refused as written, never
// changed. It replaces the channels of `rest` and keeps its tones and squelch.
std::string WriteChannelTable(const ModuleSettings &settings);
SettingsResult ReadChannelTable(std::string_view text, const ModuleSettings &rest);

// "ddd.dddd", as the window's frequency field shows a frequency.
bool IsFrequencyText(std::string_view text);
// "CTCSS 11", "CDCSS 031N": the list the window's check boxes choose and the selector's item.
std::string ToneName(ToneCode code);
std::optional<ToneCode> ToneFromName(std::string_view name);
