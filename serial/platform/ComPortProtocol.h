#pragma once
// What goes over a network port's connection, as bytes and without a socket: what the server
// sends goes in (Receive) and comes out as the line's data and the server's answers; what the
// port asks for (the opening, line settings, purge, the line's data) comes out as bytes for the
// server (TakeOutput), in order.
//
// With telnet, it speaks RFC 2217, the telnet option that carries a serial port's settings
// (ser2net's telnet(rfc2217) accepter); the telnet protocol itself is libtelnet's. Without, the
// bytes pass as they are (ser2net's raw accepter, which holds the line settings itself).
//
// Not thread-safe, as libtelnet is not: the network port calls it under its lock.

#include <cstdint>
#include <optional>
#include <string>

#include "serial/platform/Port.h"

struct telnet_t;
union telnet_event_t;

namespace port::network {

class ComPortProtocol
{
public:
    explicit ComPortProtocol(bool telnet);
    ~ComPortProtocol();
    ComPortProtocol(const ComPortProtocol &) = delete;
    ComPortProtocol &operator=(const ComPortProtocol &) = delete;

    bool Telnet() const { return wantTelnet; }
    // False when libtelnet could not be set up (no memory).
    bool Usable() const { return !wantTelnet || telnet != nullptr; }

    // Asks for BINARY both ways and for the com port option.
    void Start();
    void Receive(const char *bytes, std::size_t count);
    void SendData(const char *bytes, std::size_t count);
    // Speed, data bits, parity, stop bits and flow control, whose answers are checked, then DTR
    // and RTS, whose are not (a device without modem lines gives none).
    void RequestLineState(const LineState &state);
    // Each side's buffer on the server; a receive purge's answer also drops the data that came
    // before it.
    void RequestPurge(bool receive, bool transmit);

    bool HasOutput() const { return !output.empty(); }
    std::string TakeOutput();
    // The line's data received and not yet taken.
    std::string &Data() { return data; }

    enum class Answer
    {
        Waiting,
        Agreed,
        Refused, // Fault() says how
    };
    // BINARY both ways and the com port option (a server that refuses one says nothing that
    // libtelnet reports, so only a wait's end tells).
    Answer Options() const;
    // The answers to the last RequestLineState: all as asked, or the first that is not.
    Answer LineStateAnswer() const;
    // What the server says it runs the line at; the rest as last asked.
    LineState InForce() const { return inForce; }
    std::uint32_t PurgeAnswers() const { return purgeAnswers; }
    // Counts every answer and every change of the options, so a waiter knows to look again.
    std::uint64_t Answers() const { return answers; }
    // The stream is no use (a telnet error, or an option turned off again).
    bool Broken() const { return broken; }
    // Why the stream is no use, or which answer differs from what was asked.
    std::string Fault() const;

private:
    static void OnEvent(telnet_t *telnet, telnet_event_t *event, void *self);
    void Event(const telnet_event_t &event);
    void ComPortAnswer(const unsigned char *bytes, std::size_t count);
    void Break(std::string why);

    enum Setting
    {
        Speed,
        DataBits,
        Parity,
        StopBits,
        Flow,
        SettingCount
    };

    const bool wantTelnet;
    telnet_t *telnet = nullptr;
    std::string output;
    std::string data;
    bool weSendBinary = false;
    bool theySendBinary = false;
    bool comPort = false;
    std::optional<std::uint32_t> asked[SettingCount];
    std::optional<std::uint32_t> answered[SettingCount];
    LineState inForce;
    std::uint32_t purgeAnswers = 0;
    std::uint64_t answers = 0;
    bool broken = false;
    std::string fault;
};

} // namespace port::network
