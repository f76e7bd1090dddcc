#include "serial/platform/ComPortProtocol.h"

#include <algorithm>
#include <cstddef> // before libtelnet.h, which uses size_t without it
#include <utility>

#include <libtelnet.h>

namespace port::network {

namespace {

constexpr unsigned char kComPortOption = 44;

// Requests to the server; its answers are the same codes plus 100.
enum ComPortCode : unsigned char
{
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    PurgeData = 12,
    AnswerOffset = 100,
};

// SET-CONTROL values.
constexpr unsigned char kFlowNone = 1, kFlowXonXoff = 2, kFlowHardware = 3;
constexpr unsigned char kDtrOn = 8, kDtrOff = 9, kRtsOn = 11, kRtsOff = 12;
constexpr unsigned char kInboundNone = 14, kInboundXonXoff = 15, kInboundHardware = 16;

const telnet_telopt_t kOptions[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {kComPortOption, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

unsigned char OutboundFlow(const LineState &s)
{
    if ((s.Flags & kFlagOutxCtsFlow) || s.Control(kFlagRtsShift) == 2)
        return kFlowHardware;
    return (s.Flags & kFlagOutX) ? kFlowXonXoff : kFlowNone;
}

std::string Describe(int setting, std::uint32_t value)
{
    static const char *const kParities[] = {"no parity", "odd parity", "even parity", "mark parity",
                                            "space parity"};
    static const char *const kStops[] = {"1 stop bit", "2 stop bits", "1.5 stop bits"};
    static const char *const kFlows[] = {"no flow control", "XON/XOFF flow control",
                                         "hardware flow control"};
    const auto named = [value](const char *const *names, std::size_t count) {
        return value >= 1 && value <= count ? std::string(names[value - 1])
                                            : "setting " + std::to_string(value);
    };
    switch (setting) {
    case 0:
        return std::to_string(value) + " baud";
    case 1:
        return std::to_string(value) + " data bits";
    case 2:
        return named(kParities, std::size(kParities));
    case 3:
        return named(kStops, std::size(kStops));
    default:
        return named(kFlows, std::size(kFlows));
    }
}

std::string BrokenStream(const telnet_event_t &event)
{
    return std::string("the server's telnet stream is broken: ") +
           (event.error.msg != nullptr ? event.error.msg : "unknown error");
}

} // namespace

ComPortProtocol::ComPortProtocol(bool telnet) : wantTelnet(telnet)
{
    if (wantTelnet)
        this->telnet = telnet_init(kOptions, &ComPortProtocol::OnEvent, 0, this);
}

ComPortProtocol::~ComPortProtocol()
{
    if (telnet != nullptr)
        telnet_free(telnet);
}

void ComPortProtocol::OnEvent(telnet_t *, telnet_event_t *event, void *self)
{
    static_cast<ComPortProtocol *>(self)->Event(*event);
}

void ComPortProtocol::Start()
{
    if (telnet == nullptr)
        return;
    telnet_negotiate(telnet, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet, TELNET_WILL, kComPortOption);
}

void ComPortProtocol::Receive(const char *bytes, std::size_t count)
{
    if (!wantTelnet)
        data.append(bytes, count);
    else if (telnet != nullptr && !broken)
        telnet_recv(telnet, bytes, count);
}

void ComPortProtocol::SendData(const char *bytes, std::size_t count)
{
    if (!wantTelnet)
        output.append(bytes, count);
    else if (telnet != nullptr)
        telnet_send(telnet, bytes, count); // a data byte 255 goes doubled
}

void ComPortProtocol::RequestLineState(const LineState &state)
{
    if (telnet == nullptr)
        return;
    static constexpr unsigned char kStopSizes[] = {1, 3, 2}; // one, one and a half, two
    const std::uint32_t values[SettingCount] = {
        state.BaudRate, state.ByteSize, static_cast<std::uint32_t>(state.Parity + 1),
        kStopSizes[std::min<int>(state.StopBits, 2)], OutboundFlow(state)};
    static constexpr unsigned char kCodes[SettingCount] = {SetBaudRate, SetDataSize, SetParity,
                                                           SetStopSize, SetControl};
    for (int i = 0; i < SettingCount; ++i) {
        asked[i] = values[i];
        answered[i].reset();
        if (i == Speed) {
            const char speed[] = {
                static_cast<char>(kCodes[i]), static_cast<char>(values[i] >> 24 & 0xFF),
                static_cast<char>(values[i] >> 16 & 0xFF), static_cast<char>(values[i] >> 8 & 0xFF),
                static_cast<char>(values[i] & 0xFF)};
            telnet_subnegotiation(telnet, kComPortOption, speed, sizeof speed);
        } else {
            const char value[] = {static_cast<char>(kCodes[i]), static_cast<char>(values[i])};
            telnet_subnegotiation(telnet, kComPortOption, value, sizeof value);
        }
    }
    const unsigned char inbound = state.Control(kFlagRtsShift) == 2 ? kInboundHardware
                                  : (state.Flags & kFlagInX)        ? kInboundXonXoff
                                                                    : kInboundNone;
    const unsigned char dtr = state.Control(kFlagDtrShift) == 1 ? kDtrOn : kDtrOff;
    for (const unsigned char control : {inbound, dtr}) {
        const char value[] = {SetControl, static_cast<char>(control)};
        telnet_subnegotiation(telnet, kComPortOption, value, sizeof value);
    }
    if (state.Control(kFlagRtsShift) < 2) {
        const char value[] = {
            SetControl, static_cast<char>(state.Control(kFlagRtsShift) == 1 ? kRtsOn : kRtsOff)};
        telnet_subnegotiation(telnet, kComPortOption, value, sizeof value);
    }
    inForce.Flags = state.Flags;
    inForce.XonLim = state.XonLim;
    inForce.XoffLim = state.XoffLim;
    inForce.XonChar = state.XonChar;
    inForce.XoffChar = state.XoffChar;
    inForce.ErrorChar = state.ErrorChar;
    inForce.EofChar = state.EofChar;
    inForce.EvtChar = state.EvtChar;
}

void ComPortProtocol::RequestPurge(bool receive, bool transmit)
{
    if (receive && !wantTelnet)
        data.clear();
    if (telnet == nullptr || (!receive && !transmit))
        return;
    const char purge[] = {PurgeData, static_cast<char>((receive ? 1 : 0) | (transmit ? 2 : 0))};
    telnet_subnegotiation(telnet, kComPortOption, purge, sizeof purge);
}

std::string ComPortProtocol::TakeOutput()
{
    return std::exchange(output, {});
}

ComPortProtocol::Answer ComPortProtocol::Options() const
{
    if (!wantTelnet)
        return Answer::Agreed;
    if (broken)
        return Answer::Refused;
    return weSendBinary && theySendBinary && comPort ? Answer::Agreed : Answer::Waiting;
}

ComPortProtocol::Answer ComPortProtocol::LineStateAnswer() const
{
    if (!wantTelnet)
        return Answer::Agreed;
    if (broken)
        return Answer::Refused;
    for (int i = 0; i < SettingCount; ++i)
        if (asked[i] && !answered[i])
            return Answer::Waiting;
    for (int i = 0; i < SettingCount; ++i)
        if (asked[i] && answered[i] != asked[i])
            return Answer::Refused;
    return Answer::Agreed;
}

void ComPortProtocol::Break(std::string why)
{
    if (!broken)
        fault = std::move(why);
    broken = true;
    ++answers;
}

void ComPortProtocol::Event(const telnet_event_t &event)
{
    switch (event.type) {
    case TELNET_EV_DATA:
        if (!broken) // nothing after the break means what it says
            data.append(event.data.buffer, event.data.size);
        break;
    case TELNET_EV_SEND:
        output.append(event.data.buffer, event.data.size);
        break;
    case TELNET_EV_DO:
    case TELNET_EV_WILL: {
        const unsigned char telopt = event.neg.telopt;
        if (telopt == TELNET_TELOPT_BINARY)
            (event.type == TELNET_EV_DO ? weSendBinary : theySendBinary) = true;
        else if (telopt == kComPortOption && event.type == TELNET_EV_DO)
            comPort = true;
        ++answers;
        break;
    }
    case TELNET_EV_DONT:
    case TELNET_EV_WONT: {
        const unsigned char telopt = event.neg.telopt;
        // Turned off once agreed: the bytes would no longer pass unchanged, or the settings
        // would no longer be carried.
        if (telopt == TELNET_TELOPT_BINARY)
            Break("the server stopped passing bytes unchanged (telnet BINARY turned off)");
        else if (telopt == kComPortOption && event.type == TELNET_EV_DONT)
            Break("the server stopped carrying the line settings (RFC 2217 turned off)");
        break;
    }
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == kComPortOption)
            ComPortAnswer(reinterpret_cast<const unsigned char *>(event.sub.buffer),
                          event.sub.size);
        break;
    case TELNET_EV_WARNING:
    case TELNET_EV_ERROR:
        // libtelnet goes on after a warning, but what follows may be misread: the rest of a
        // subnegotiation too long for its buffer, for one, would pass as data.
        Break(BrokenStream(event));
        break;
    default:
        break; // plain commands and options this port does not use
    }
}

void ComPortProtocol::ComPortAnswer(const unsigned char *bytes, std::size_t count)
{
    if (count < 2 || bytes[0] <= AnswerOffset)
        return;
    const int code = bytes[0] - AnswerOffset;
    const unsigned char value = bytes[1];
    switch (code) {
    case SetBaudRate:
        if (count < 5)
            return;
        answered[Speed] = std::uint32_t{bytes[1]} << 24 | std::uint32_t{bytes[2]} << 16 |
                          std::uint32_t{bytes[3]} << 8 | bytes[4];
        inForce.BaudRate = *answered[Speed];
        break;
    case SetDataSize:
        answered[DataBits] = value;
        if (value >= 5 && value <= 8)
            inForce.ByteSize = value;
        break;
    case SetParity:
        answered[Parity] = value;
        if (value >= 1 && value <= 5)
            inForce.Parity = static_cast<std::uint8_t>(value - 1);
        break;
    case SetStopSize:
        answered[StopBits] = value;
        if (value >= 1 && value <= 3)
            inForce.StopBits = value == 1 ? 0 : value == 2 ? 2 : 1;
        break;
    case SetControl:
        if (value < kFlowNone || value > kFlowHardware)
            return; // DTR, RTS, inbound flow and the rest: not checked
        answered[Flow] = value;
        break;
    case PurgeData:
        if (value & 1)
            data.clear(); // received before the server emptied its buffer
        ++purgeAnswers;
        break;
    default:
        return; // notifications of the line's and the modem's state, and the rest
    }
    ++answers;
}

std::string ComPortProtocol::Fault() const
{
    if (broken || !wantTelnet)
        return fault;
    for (int i = 0; i < SettingCount; ++i)
        if (asked[i] && answered[i] && answered[i] != asked[i])
            return "the server set the line to " + Describe(i, *answered[i]) + " instead of " +
                   Describe(i, *asked[i]);
    return fault;
}

} // namespace port::network
