#pragma once
// The module's factory values and the record and set command that carry them, written out by
// hand once for every test: an expectation taken from the code under test would check nothing.
// Plain C++, so the tests without Qt use it too.

#include <array>
#include <string>

namespace known {

// Channels 1 to 16; transmit and receive are alike.
inline constexpr std::array<const char *, 16> FactoryFrequencies = {
    "450.1250", "451.1250", "452.1250", "453.1250", "454.1250", "455.1250", "456.1250", "457.1250",
    "458.1250", "459.1250", "455.0250", "455.1250", "455.2250", "455.3250", "455.4250", "455.5250"};

// The channels as the record and the set command carry them: transmit, receive, each with a comma.
inline const std::string FactoryChannels = [] {
    std::string text;
    for (const char *frequency : FactoryFrequencies)
        text = text + frequency + ',' + frequency + ',';
    return text;
}();

// The record as the module sends it: "AA", the channels, tones 011 and 125, squelch 2.
inline const std::string FactoryRecord = "AA" + FactoryChannels + "011,125,2";

// The set command of the factory values (the window's start-up values); its line end is four
// printable characters.
inline const std::string DefaultSetCommand = "AAFA3" + FactoryChannels + "011,125,2\\r\\n";

// `channels` (as FactoryChannels) with channel 1's transmit frequency replaced.
inline std::string WithChannel1Tx(const std::string &channels, const std::string &frequency)
{
    return frequency + channels.substr(8);
}

} // namespace known
