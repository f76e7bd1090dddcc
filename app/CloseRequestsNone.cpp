#include "app/CloseRequests.h"

// Where the platform has no such request to watch, Qt's own handling stands.
CloseRequests::CloseRequests(QWidget &window, std::function<bool()> takeOver)
    : window(window), takeOver(std::move(takeOver))
{}

CloseRequests::~CloseRequests() = default;

bool CloseRequests::nativeEventFilter(const QByteArray &, void *, qintptr *)
{
    return false;
}
