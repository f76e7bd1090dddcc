#pragma once
// The network port: what its protocol makes of the server's bytes, and the port itself through
// Debian's ser2net in front of a pseudo-terminal.

#include <memory>
#include <string>
#include <vector>

#include "serial/platform/Port.h"
#include "tests/support/MiniTest.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2net.h"

enum class Via
{
    Pty,     // the pseudo-terminal opened as it is
    Rfc2217, // through ser2net's telnet(rfc2217) accepter
    Raw,     // through its raw accepter
};

// A port over a pseudo-terminal whose master the test plays, opened as it is or through
// ser2net (its connector at `settings`). Skips the case when ser2net is not installed.
struct LineUnderTest
{
    explicit LineUnderTest(Via via, const std::string &settings = "9600n81");
    // The master closed, or ser2net stopped: the line or the connection is gone.
    void FarEndGoes();

    PtyPair pty;
    std::unique_ptr<Ser2net> server;
    std::unique_ptr<port::Port> port;
};

std::vector<minitest::Case> NetworkCases();
