#pragma once
// The window manager's request to close the main window, seen before Qt weighs it.
//
// Qt drops a close request for a window that a modal dialog blocks. An operation's exchange
// ends with a modal message, and a request the user made during the exchange can reach the
// program just after it (the window manager passes it on a few milliseconds later): Qt would
// drop it and leave the window open under the message. While `takeOver` says so, such a
// request is the window's own close instead.

#include <QAbstractNativeEventFilter>
#include <QWidget>

#include <cstdint>
#include <functional>

class CloseRequests final : public QAbstractNativeEventFilter
{
public:
    // Watches requests for `window` from the moment it is made until it is destroyed; does
    // nothing on a platform without a window manager's close request (offscreen).
    CloseRequests(QWidget &window, std::function<bool()> takeOver);
    ~CloseRequests() override;
    CloseRequests(const CloseRequests &) = delete;
    CloseRequests &operator=(const CloseRequests &) = delete;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    QWidget &window;
    std::function<bool()> takeOver;
    std::uint32_t protocolsAtom = 0;
    std::uint32_t deleteWindowAtom = 0;
};
