// What a network port makes of the server's bytes (ComPortProtocol, RFC 2217 over libtelnet, or
// raw): whatever the server sends, nothing breaks, no data passes once the stream is found
// broken, the raw port's data is exactly what came, the line's data the port sends goes out with
// each byte 255 doubled, and an answer that differs from the request is said in words.
//
// Input: a script. The first byte picks telnet or raw; then, until the input ends, a step byte:
// 0 bytes from the server, 1 line data sent, 2 line settings asked for (speed, then byte size,
// parity, stop bits and flags, a byte each), 3 a purge, 4 the output taken, 5 bytes from the
// server repeated (0 to 15 times 64).

#include "fuzz/FuzzSupport.h"

#include "serial/platform/ComPortProtocol.h"

#include <string>

using port::network::ComPortProtocol;
using Answer = ComPortProtocol::Answer;

namespace {

std::string Doubled255(const std::string &bytes)
{
    std::string out;
    for (const char c : bytes) {
        out += c;
        if (static_cast<unsigned char>(c) == 255)
            out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    fuzz::ByteReader in(bytes, size);
    const bool telnet = in.Byte() % 2 == 0;
    ComPortProtocol protocol(telnet);
    FUZZ_CHECK(protocol.Usable());
    protocol.Start();
    std::string rawData; // what the raw port should hold
    while (!in.AtEnd()) {
        const bool brokenBefore = protocol.Broken();
        const std::size_t heldBefore = protocol.Data().size();
        switch (in.Below(6)) {
        case 0: {
            const std::string text = in.Text();
            protocol.Receive(text.data(), text.size());
            rawData += text;
            break;
        }
        case 5: { // enough to pass libtelnet's longest subnegotiation
            const int times = in.Below(16) * 64;
            const std::string text = in.Text();
            for (int i = 0; i < times; ++i) {
                protocol.Receive(text.data(), text.size());
                rawData += text;
            }
            break;
        }
        case 1: {
            const std::string text = in.Text();
            protocol.TakeOutput();
            protocol.SendData(text.data(), text.size());
            FUZZ_CHECK(protocol.TakeOutput() == (telnet ? Doubled255(text) : text));
            break;
        }
        case 2: {
            port::LineState state;
            state.BaudRate = std::uint32_t{in.Byte()} << 24 | std::uint32_t{in.Byte()} << 16 |
                             std::uint32_t{in.Byte()} << 8 | in.Byte();
            state.ByteSize = static_cast<std::uint8_t>(5 + in.Below(4));
            state.Parity = static_cast<std::uint8_t>(in.Below(5));
            state.StopBits = static_cast<std::uint8_t>(in.Below(3));
            state.Flags = std::uint32_t{in.Byte()} << 8 | in.Byte();
            protocol.RequestLineState(state);
            break;
        }
        case 3: {
            const int which = in.Below(4);
            protocol.RequestPurge((which & 1) != 0, (which & 2) != 0);
            if (!telnet && (which & 1) != 0)
                rawData.clear();
            break;
        }
        default:
            protocol.TakeOutput();
            break;
        }
        if (brokenBefore)
            FUZZ_CHECK(protocol.Data().size() <= heldBefore);
        if (!telnet)
            FUZZ_CHECK(protocol.Data() == rawData && !protocol.Broken());
        if (protocol.Broken())
            FUZZ_CHECK(protocol.Options() == Answer::Refused &&
                       protocol.LineStateAnswer() == Answer::Refused && !protocol.Fault().empty());
        if (protocol.LineStateAnswer() == Answer::Refused && !protocol.Broken())
            FUZZ_CHECK(protocol.Fault().rfind("the server set the line to ", 0) == 0);
        const port::LineState inForce = protocol.InForce();
        FUZZ_CHECK(inForce.ByteSize >= 5 && inForce.ByteSize <= 8 && inForce.Parity <= 4 &&
                   inForce.StopBits <= 2);
    }
    return 0;
}
