#include "protocol/ParamRecord.h"

#include <algorithm>
#include <cassert>

std::string ParamRecord::Field(std::size_t pos, std::size_t width) const
{
    assert(pos + width <= Size);
    return std::string(bytes.data() + pos, width);
}

void ParamRecord::SetField(std::size_t pos, const std::string &text)
{
    assert(pos + text.size() <= Size);
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(pos));
}

namespace {

struct DefaultChannel
{
    const char *tx;
    const char *rx;
};

constexpr std::array<DefaultChannel, ParamRecord::ChannelCount> DefaultChannels{{
    {"450.1250", "450.1250"},
    {"451.1250", "451.1250"},
    {"452.1250", "452.1250"},
    {"453.1250", "453.1250"},
    {"454.1250", "454.1250"},
    {"455.1250", "455.1250"},
    {"456.1250", "456.1250"},
    {"457.1250", "457.1250"},
    {"458.1250", "458.1250"},
    {"459.1250", "459.1250"},
    {"455.0250", "455.0250"},
    {"455.1250", "455.1250"},
    {"455.2250", "455.2250"},
    {"455.3250", "455.3250"},
    {"455.4250", "455.4250"},
    {"455.5250", "455.5250"},
}};

const std::string Zero(1, '\0');

} // namespace

void MakeDefaultParams(ParamRecord &record)
{
    record.SetField(ParamRecord::HeaderPos, "AA");
    for (int channel = 1; channel <= ParamRecord::ChannelCount; ++channel) {
        const DefaultChannel &values = DefaultChannels[static_cast<std::size_t>(channel - 1)];
        const std::size_t tx = ParamRecord::TxFrequencyPos(channel);
        const std::size_t rx = ParamRecord::RxFrequencyPos(channel);
        record.SetField(tx, values.tx);
        record.SetField(tx + ParamRecord::FrequencyWidth, Zero);
        record.SetField(rx, values.rx);
        record.SetField(rx + ParamRecord::FrequencyWidth, Zero);
    }
    record.SetField(ParamRecord::TxTonePos, "011" + Zero);
    record.SetField(ParamRecord::RxTonePos, "125" + Zero);
    record.SetField(ParamRecord::SquelchPos, "2");
}
