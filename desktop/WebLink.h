#pragma once

#include <string>

// Opens address in a new browser instance driven through the automation layer: look up
// "InternetExplorer.Application", create an instance, set Visible to true, call Navigate with
// the address, release it. Every failure throws automation::EOleError; the reference taken so
// far is released on the way out. Needs an automation::AutomationSession on this thread.
void OpenWebPage(const std::string &address);
