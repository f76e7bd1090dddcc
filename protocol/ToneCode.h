#pragma once
// Sub-audio signalling of one direction as one integer: 0…38 a CTCSS tone index, 39…204 a
// CDCSS code (39 + its position in the CDCSS list).

#include <string>
#include <vector>

using ToneCode = int;

inline constexpr int CtcssItemCount = 39;
inline constexpr int CdcssItemCount = 166;
inline constexpr ToneCode FirstCdcssCode = CtcssItemCount;

enum class ToneList
{
    Ctcss,
    Cdcss
};

struct ToneSelection
{
    ToneList list;
    int position; // may lie outside the list; the selector then shows no item
    bool operator==(const ToneSelection &) const = default;
};

// The items exactly as the selectors show them: the transmit CTCSS list ends with "38" without
// the blank the other items carry, the receive list with "38 ".
std::vector<std::string> TxCtcssItems();
std::vector<std::string> RxCtcssItems();
// The 83 octal codes with "I", then the same codes with "N".
std::vector<std::string> CdcssItems();

ToneSelection SelectionForCode(ToneCode code);
ToneCode CodeForSelection(ToneList list, int position);

// Decimal text, left-padded with "0" to at least three characters (-1 gives "0-1").
std::string ToneCodeText(ToneCode code);
