#pragma once
// ModuleSession: the steps a user takes with a module — open the port and identify it, read
// its record, set it, restore its defaults, set its volume, close — over a link it does not
// own. The window keeps its TKVComm and the command line makes one; both call these steps and
// then show the result their own way, so no step shows anything.
//
// The link's re-entry rule holds here too: while an exchange runs (the link processes events
// while it waits, so a click or a timer tick can call in), every step refuses at once with
// Busy and sends nothing.

#include <string>

#include "protocol/Commands.h"
#include "protocol/ParamRecord.h"

class TKVComm;

enum class StepResult
{
    Ok,
    Busy,    // another exchange is running; nothing was sent
    NoPort,  // the port could not be opened
    NoReply, // nothing came back in time (or the port is closed)
    Refused, // a reply came, but not "OK"
};

struct IdentifyResult
{
    StepResult result = StepResult::NoReply;
    IdentifyReply identity;
};

struct ReadResult
{
    StepResult result = StepResult::NoReply;
    // The reply as the link gives it: a short reply leaves zero bytes behind it.
    ParamRecord record;
};

class ModuleSession
{
public:
    explicit ModuleSession(TKVComm &link) : link(link) {}

    // Opens the port; true only if it is open afterwards. A port already open is closed first.
    bool OpenPort(int portNumber);
    bool OpenPort(const std::string &portName);
    // OPEN as the user means it: the port, a moment for the line to settle, then identify.
    IdentifyResult Open(const std::string &portName);
    void Close();
    bool PortIsOpen() const;
    bool Busy() const;

    // Any reply at all identifies the module.
    IdentifyResult Identify();
    ReadResult Read();
    StepResult Set(const SetCommandValues &values);
    StepResult RestoreDefaults();
    StepResult SetVolume(const std::string &volumeText);

private:
    StepResult Exchange(const std::string &command);
    StepResult ExchangeExpectingOk(const std::string &command);

    TKVComm &link;
};

// A short phrase for messages: "the module did not answer".
const char *Describe(StepResult result);
