#pragma once
// The five commands the module understands, how the set and volume commands are assembled,
// and how replies are judged. Every command is "AAFA" and one command character; only the set
// command carries a line end, and that end is four printable characters, not CR LF.

#include <array>
#include <string>
#include <string_view>

#include "protocol/ParamRecord.h"
#include "protocol/ToneCode.h"

namespace Command {
inline constexpr std::string_view Identify = "AAFAA";
inline constexpr std::string_view ReadParams = "AAFA1";
inline constexpr std::string_view RestoreDefaults = "AAFA2";
inline constexpr std::string_view SetParams = "AAFA3";
inline constexpr std::string_view SetVolume = "AAFA4";
inline constexpr std::string_view SetLineEnd = "\\r\\n"; // backslash r backslash n
} // namespace Command

// What the set command carries, as read from the window's controls.
struct SetCommandValues
{
    std::array<std::string, ParamRecord::ChannelCount> txFrequencies; // channel 1 first
    std::array<std::string, ParamRecord::ChannelCount> rxFrequencies;
    ToneCode txTone = 0;
    ToneCode rxTone = 0;
    std::string squelch;
};

// Frequencies and the squelch text are sent unchanged, whatever their length.
std::string BuildSetCommandText(const SetCommandValues &values);
std::string BuildVolumeCommand(const std::string &volumeText);

struct IdentifyReply
{
    std::string model;
    std::string version;
};

// The model is what stands before the first "_"; the version starts four characters after it,
// so the "_" and the three characters behind it belong to neither.
IdentifyReply SplitIdentifyReply(const std::string &reply);

// A module names itself: model and version both present, in printable ASCII. Line noise or
// another device's words split into something else.
bool IsModuleIdentity(const IdentifyReply &identity);

// "OK" in any letter case, and nothing more or less.
bool IsOkReply(const std::string &reply);

// The read command's reply: the record and the two end bytes.
inline constexpr std::size_t ReadReplySize = ParamRecord::Size + 2;

// What is wrong with a read reply as a whole, before any field of it is read: cut short, too
// long, or holding bytes no record has (a record is printable ASCII, its separators may be
// zero bytes). `received` counts the reply's bytes as they came, end bytes included; `record`
// holds its first bytes. Empty when the reply has a record's shape.
std::string ReadReplyFault(const ParamRecord &record, std::size_t received);
