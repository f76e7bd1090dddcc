#include "tools/modsim/Module.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

namespace nmct::modsim {

namespace {

constexpr std::string_view kCommandPrefix = "AAFA";
constexpr std::size_t kCommandWordSize = 5; // prefix + command character

constexpr std::array<std::string_view, 16> kFactoryChannels = {
    "450.1250", "451.1250", "452.1250", "453.1250", "454.1250", "455.1250", "456.1250", "457.1250",
    "458.1250", "459.1250", "455.0250", "455.1250", "455.2250", "455.3250", "455.4250", "455.5250",
};
constexpr std::string_view kFactoryTxTone = "011";
constexpr std::string_view kFactoryRxTone = "125";
constexpr std::string_view kFactorySquelch = "2";

} // namespace

Record FactoryRecord()
{
    std::string text = "AA";
    for (std::string_view channel : kFactoryChannels) {
        // The factory sets each channel's receive frequency equal to its transmit frequency.
        text.append(channel).append(",").append(channel).append(",");
    }
    text.append(kFactoryTxTone).append(",").append(kFactoryRxTone).append(",");
    text.append(kFactorySquelch);

    Record record{};
    std::copy_n(text.begin(), std::min(text.size(), record.size()), record.begin());
    return record;
}

Command ParseCommand(std::string_view unit)
{
    if (unit.size() < kCommandWordSize || !unit.starts_with(kCommandPrefix)) {
        return {};
    }
    const char code = unit[kCommandPrefix.size()];
    const std::string_view rest = unit.substr(kCommandWordSize);
    switch (code) {
    case 'A':
        return rest.empty() ? Command{CommandKind::Identify, {}} : Command{};
    case '1':
        return rest.empty() ? Command{CommandKind::ReadRecord, {}} : Command{};
    case '2':
        return rest.empty() ? Command{CommandKind::RestoreDefaults, {}} : Command{};
    case '3':
        if (!rest.ends_with(kSetLineEnd)) {
            return {};
        }
        return {CommandKind::SetRecord,
                std::string(rest.substr(0, rest.size() - kSetLineEnd.size()))};
    case '4':
        return {CommandKind::SetVolume, std::string(rest)};
    default:
        return {};
    }
}

bool RepliesOk(CommandKind kind)
{
    return kind == CommandKind::RestoreDefaults || kind == CommandKind::SetRecord ||
           kind == CommandKind::SetVolume;
}

Module::Module(std::string identity) : identity_(std::move(identity)), record_(FactoryRecord()) {}

std::optional<std::string> Module::Answer(const Command &command)
{
    switch (command.kind) {
    case CommandKind::Identify:
        return identity_;
    case CommandKind::ReadRecord:
        return "AA" + std::string(record_.begin() + kRecordHeaderSize, record_.end());
    case CommandKind::RestoreDefaults:
        record_ = FactoryRecord();
        return "OK";
    case CommandKind::SetRecord: {
        const std::size_t n = std::min(command.argument.size(), kRecordBodySize);
        std::copy_n(command.argument.begin(), n, record_.begin() + kRecordHeaderSize);
        return "OK";
    }
    case CommandKind::SetVolume:
        volume_ = command.argument;
        return "OK";
    case CommandKind::Unknown:
        break;
    }
    return std::nullopt;
}

std::string Printable(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            text += c;
        } else {
            std::array<char, 5> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02X", byte);
            text += hex.data();
        }
    }
    return text;
}

} // namespace nmct::modsim
