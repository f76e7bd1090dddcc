#pragma once
// The network port (port_network.cpp): a serial port that ser2net serves over TCP, named
// rfc2217://HOST:PORT (its telnet(rfc2217) accepter: the line settings are set and checked) or
// tcp://HOST:PORT (its raw accepter, which holds the line settings itself). OpenDevice opens it
// for a name of that form; this header is for the port layer and its tests.

#include <chrono>
#include <memory>
#include <string>

#include "serial/platform/Port.h"

namespace port::network {

std::unique_ptr<Port> Open(const std::string &name, OpenFailure *failure);

// How long an open waits for the connection, and any wait for the server's answers (the
// options, the line settings, a purge). Tests shorten them; gives the previous ones.
struct Waits
{
    std::chrono::milliseconds connect{5000};
    std::chrono::milliseconds answer{3000};
};
Waits SetWaits(Waits waits);

} // namespace port::network
