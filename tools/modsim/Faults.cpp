#include "tools/modsim/Faults.h"

#include <algorithm>
#include <random>

namespace nmct::modsim {

namespace {

constexpr std::size_t kTxToneOffset = 290;
constexpr std::string_view kBadToneCode = "abc";

// High bytes only: noise can never read as "OK", a model name or a record.
std::string Noise(std::size_t count, std::uint32_t seed)
{
    std::minstd_rand generator(seed == 0 ? 1 : seed);
    std::uniform_int_distribution<int> byte(0x80, 0xFF);
    std::string noise(count, '\0');
    for (char &c : noise) {
        c = static_cast<char>(byte(generator));
    }
    return noise;
}

std::size_t HalfAtLeastOne(std::size_t size)
{
    return std::max<std::size_t>(1, size / 2);
}

} // namespace

std::vector<OutputPart> ShapeReply(const Faults &faults, CommandKind kind, std::string text,
                                   std::uint32_t noiseSeed)
{
    if (faults.okText && RepliesOk(kind)) {
        text = *faults.okText;
    }
    if (faults.badToneCode && kind == CommandKind::ReadRecord &&
        text.size() >= kTxToneOffset + kBadToneCode.size()) {
        text.replace(kTxToneOffset, kBadToneCode.size(), kBadToneCode);
    }

    switch (faults.reply) {
    case ReplyFault::None:
        return {{text + std::string(kReplyEnd), {}}};
    case ReplyFault::Silent:
        return {};
    case ReplyFault::Garbage:
        return {{Noise(text.size() + kReplyEnd.size(), noiseSeed), {}}};
    case ReplyFault::Short: {
        const std::size_t keep =
            faults.shortLength == 0 ? HalfAtLeastOne(text.size()) : faults.shortLength;
        return {{text.substr(0, keep) + std::string(kReplyEnd), {}}};
    }
    case ReplyFault::Late:
        return {{text + std::string(kReplyEnd), faults.lateDelay}};
    case ReplyFault::Split: {
        const std::string whole = text + std::string(kReplyEnd);
        const std::size_t wanted = faults.splitAt == 0 ? whole.size() / 2 : faults.splitAt;
        const std::size_t cut = std::clamp<std::size_t>(wanted, 1, whole.size() - 1);
        return {{whole.substr(0, cut), {}}, {whole.substr(cut), faults.splitGap}};
    }
    }
    return {};
}

std::string FloodBytes(std::size_t count, std::uint32_t noiseSeed)
{
    return Noise(count, noiseSeed);
}

} // namespace nmct::modsim
