#pragma once

#include "desktop/Automation.h"

#include <QString>
#include <QUrl>

// The object behind "InternetExplorer.Application": Visible is accepted, Navigate hands the address
// to the desktop's URL handler, which opens it in the user's browser.
automation::HResult CreateBrowserObject(automation::Dispatch *&object);

// The URL for an address as a user types it: one with a scheme ("https://...") is taken as it
// stands, a bare "www.example.com" is a web address and gets "http://".
QUrl UrlForAddress(const QString &address);
