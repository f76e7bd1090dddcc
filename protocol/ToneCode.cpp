#include "protocol/ToneCode.h"

#include <array>

namespace {

constexpr std::array<const char *, 83> CdcssCodes{
    "023", "025", "026", "031", "032", "043", "047", "051", "054", "065", "071", "072",
    "073", "074", "114", "115", "116", "125", "131", "132", "134", "143", "152", "155",
    "156", "162", "165", "172", "174", "205", "223", "226", "243", "244", "245", "251",
    "261", "263", "265", "271", "306", "311", "315", "331", "343", "346", "351", "364",
    "365", "371", "411", "412", "413", "423", "431", "432", "445", "464", "465", "466",
    "503", "506", "516", "532", "546", "565", "606", "612", "624", "627", "631", "632",
    "654", "662", "664", "703", "712", "723", "731", "732", "734", "743", "754"};

std::vector<std::string> NumberedItems(bool blankAfterLast)
{
    std::vector<std::string> items;
    for (int i = 0; i < CtcssItemCount; ++i) {
        const bool last = i == CtcssItemCount - 1;
        items.push_back(std::to_string(i) + (last && !blankAfterLast ? "" : " "));
    }
    return items;
}

} // namespace

std::vector<std::string> TxCtcssItems()
{
    return NumberedItems(false);
}

std::vector<std::string> RxCtcssItems()
{
    return NumberedItems(true);
}

std::vector<std::string> CdcssItems()
{
    std::vector<std::string> items;
    for (const char *suffix : {"I", "N"})
        for (const char *code : CdcssCodes)
            items.push_back(std::string(code) + suffix);
    return items;
}

ToneSelection SelectionForCode(ToneCode code)
{
    if (code >= FirstCdcssCode)
        return {ToneList::Cdcss, code - FirstCdcssCode};
    return {ToneList::Ctcss, code};
}

ToneCode CodeForSelection(ToneList list, int position)
{
    return list == ToneList::Cdcss ? position + FirstCdcssCode : position;
}

std::string ToneCodeText(ToneCode code)
{
    std::string text = std::to_string(code);
    if (text.size() < 3)
        text.insert(0, 3 - text.size(), '0');
    return text;
}
