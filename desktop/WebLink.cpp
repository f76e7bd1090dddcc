#include "desktop/WebLink.h"

#include "desktop/Automation.h"

using namespace automation;

void OpenWebPage(const std::string &address)
{
    ClassId classId;
    Check(ClassIdFromProgId("InternetExplorer.Application", classId));

    DispatchRef browser;
    Check(CreateInstance(classId, InProcServer | LocalServer, browser.put()));

    PutProperty(*browser.get(), "Visible", true);
    CallMethod(*browser.get(), "Navigate", address);
    // browser releases its reference here and on every way out above; the window it opened
    // stays open on its own.
}
