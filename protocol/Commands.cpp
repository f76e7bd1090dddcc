#include "protocol/Commands.h"

#include <algorithm>
#include <cstdio>

std::string BuildSetCommandText(const SetCommandValues &values)
{
    std::string command(Command::SetParams);
    for (std::size_t i = 0; i < values.txFrequencies.size(); ++i) {
        command += values.txFrequencies[i];
        command += ',';
        command += values.rxFrequencies[i];
        command += ',';
    }
    command += ToneCodeText(values.txTone) + ',';
    command += ToneCodeText(values.rxTone) + ',';
    command += values.squelch;
    command += Command::SetLineEnd;
    return command;
}

std::string BuildVolumeCommand(const std::string &volumeText)
{
    return std::string(Command::SetVolume) + volumeText;
}

IdentifyReply SplitIdentifyReply(const std::string &reply)
{
    const std::size_t underscore = reply.find('_');
    if (underscore == std::string::npos) {
        // No "_": as if it stood just before the text, so the version starts at character 4.
        return {{}, reply.size() > 3 ? reply.substr(3) : std::string()};
    }
    const std::size_t versionStart = underscore + 4;
    return {reply.substr(0, underscore),
            versionStart < reply.size() ? reply.substr(versionStart) : std::string()};
}

bool IsModuleIdentity(const IdentifyReply &identity)
{
    const auto printable = [](const std::string &text) {
        return !text.empty() &&
               std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    };
    return printable(identity.model) && printable(identity.version);
}

std::string ReadReplyFault(const ParamRecord &record, std::size_t received)
{
    const std::string expected = std::to_string(ReadReplySize);
    if (received < ReadReplySize)
        return "the module's reply was cut short: " + std::to_string(received) + " of " + expected +
               " bytes";
    if (received > ReadReplySize)
        return "the module's reply was too long: " + std::to_string(received) + " bytes where " +
               expected + " were expected";
    const auto odd = std::find_if(record.bytes.begin(), record.bytes.end(),
                                  [](char c) { return c != '\0' && (c < 0x20 || c >= 0x7f); });
    if (odd == record.bytes.end())
        return {};
    char text[96];
    std::snprintf(text, sizeof text,
                  "the module's reply holds a byte no record has: 0x%02X at "
                  "byte %d of %zu",
                  static_cast<unsigned char>(*odd),
                  static_cast<int>(odd - record.bytes.begin()) + 1, ReadReplySize);
    return text;
}

bool IsOkReply(const std::string &reply)
{
    return reply.size() == 2 && (reply[0] == 'O' || reply[0] == 'o') &&
           (reply[1] == 'K' || reply[1] == 'k');
}
