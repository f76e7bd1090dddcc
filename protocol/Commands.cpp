#include "protocol/Commands.h"

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

bool IsOkReply(const std::string &reply)
{
    return reply.size() == 2 && (reply[0] == 'O' || reply[0] == 'o') &&
           (reply[1] == 'K' || reply[1] == 'k');
}
