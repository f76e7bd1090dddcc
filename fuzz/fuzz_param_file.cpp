// The parameter file parser on arbitrary bytes: a file a user edited, a download cut short, a
// binary opened by mistake. The oracle: a file that is accepted round-trips exactly (written
// out, read back, through a record and back) and makes a set command of the fixed length; a
// file that is refused says why in a bounded number of short messages that print nothing the
// terminal would act on.
//
// The same bytes also go through the channel table (CSV) reader, with the same oracle, and
// one more: every frequency it accepts stands in the input as written (a decimal comma for the
// point, trailing zeros left off), so a number is never made up or changed.
//
// Input: the file's bytes.

#include "fuzz/FuzzSupport.h"

#include "protocol/ParamFile.h"

#include <string>

namespace {

void CheckErrors(const SettingsResult &read)
{
    FUZZ_CHECK(read.errors.size() <= 21);
    for (const std::string &error : read.errors) {
        FUZZ_CHECK(!error.empty() && error.size() < 200);
        for (const char c : error)
            FUZZ_CHECK(c != '\n' && c != '\r' && c != '\033' && c != '\0');
    }
}

// "455.5000" as a spreadsheet may write it: "455.5", "455,5" or "455".
bool Written(const std::string &input, std::string frequency)
{
    while (frequency.back() == '0')
        frequency.pop_back();
    if (frequency.back() == '.')
        frequency.pop_back();
    std::string comma = frequency;
    if (const std::size_t point = comma.find('.'); point != std::string::npos)
        comma[point] = ',';
    return input.find(frequency) != std::string::npos || input.find(comma) != std::string::npos;
}

void CheckTable(const std::string &text)
{
    const ModuleSettings rest{};
    const SettingsResult read = ReadChannelTable(text, rest);
    CheckErrors(read);
    if (!read.Ok())
        return;
    for (const ChannelFrequencies &channel : read.settings.channels)
        FUZZ_CHECK(Written(text, channel.tx) && Written(text, channel.rx));
    const SettingsResult again = ReadChannelTable(WriteChannelTable(read.settings), rest);
    FUZZ_CHECK(again.Ok() && again.settings == read.settings);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    CheckTable(text);
    const SettingsResult read = ReadParamFile(text);
    if (!read.Ok()) {
        CheckErrors(read);
        return 0;
    }
    const SettingsResult again = ReadParamFile(WriteParamFile(read.settings));
    FUZZ_CHECK(again.Ok() && again.settings == read.settings);
    FUZZ_CHECK(BuildSetCommandText(SetValuesFromSettings(read.settings)).size() == 306);
    return 0;
}
