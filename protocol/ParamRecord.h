#pragma once
// The module's whole configuration as one fixed-layout block of ASCII text: the reply to the
// read command fills it, and the built-in defaults are one of it.

#include <array>
#include <cstddef>
#include <string>

struct ParamRecord
{
    static constexpr std::size_t Size = 299;
    static constexpr int ChannelCount = 16;
    static constexpr std::size_t FrequencyWidth = 8;
    static constexpr std::size_t ChannelStride = 18;

    static constexpr std::size_t HeaderPos = 0;
    static constexpr std::size_t HeaderWidth = 2;
    static constexpr std::size_t TxTonePos = 290;
    static constexpr std::size_t RxTonePos = 294;
    static constexpr std::size_t ToneWidth = 3;
    static constexpr std::size_t SquelchPos = 298;
    static constexpr std::size_t SquelchWidth = 1;

    // Channels count from 1, as the window shows them.
    static constexpr std::size_t TxFrequencyPos(int channel)
    {
        return 2 + ChannelStride * (channel - 1);
    }
    static constexpr std::size_t RxFrequencyPos(int channel)
    {
        return 11 + ChannelStride * (channel - 1);
    }

    std::array<char, Size> bytes{};

    // The raw bytes of a field, zero bytes included.
    std::string Field(std::size_t pos, std::size_t width) const;
    void SetField(std::size_t pos, const std::string &text);

    std::string TxFrequency(int channel) const
    {
        return Field(TxFrequencyPos(channel), FrequencyWidth);
    }
    std::string RxFrequency(int channel) const
    {
        return Field(RxFrequencyPos(channel), FrequencyWidth);
    }
    std::string TxToneText() const { return Field(TxTonePos, ToneWidth); }
    std::string RxToneText() const { return Field(RxTonePos, ToneWidth); }
    std::string SquelchText() const { return Field(SquelchPos, SquelchWidth); }
};

// Writes the built-in defaults into every field the default table names: the header, the 32
// frequencies with their zero-byte separators, both tone codes with a zero byte after each, and
// the squelch. Bytes outside those fields are left as they were.
void MakeDefaultParams(ParamRecord &record);
