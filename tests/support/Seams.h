#pragma once
// What tests, fuzz targets and benchmarks may reach past the public API: the link under a
// session, and the session under the window. The classes befriend these seams; nothing that
// ships includes this header.

#include "app/UMainForm.h"
#include "link/UComm.h"
#include "session/ModuleSession.h"

struct SessionSeam
{
    static TKVComm &Link(ModuleSession &session) { return *session.link; }
};

struct WindowSeam
{
    static ModuleSession &Session(TfrmMain &window) { return *window.session; }
};

// The link under the window's session, to watch or feed its traffic.
inline TKVComm &LinkOf(TfrmMain &window)
{
    return SessionSeam::Link(WindowSeam::Session(window));
}
