#include "app/CloseRequests.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

xcb_atom_t Atom(xcb_connection_t *connection, const char *name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

} // namespace

CloseRequests::CloseRequests(QWidget &window, std::function<bool()> takeOver)
    : window(window), takeOver(std::move(takeOver))
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 != nullptr ? x11->connection() : nullptr;
    if (connection == nullptr) // another platform, such as offscreen
        return;
    protocolsAtom = Atom(connection, "WM_PROTOCOLS");
    deleteWindowAtom = Atom(connection, "WM_DELETE_WINDOW");
    if (protocolsAtom != XCB_ATOM_NONE && deleteWindowAtom != XCB_ATOM_NONE)
        qApp->installNativeEventFilter(this);
}

CloseRequests::~CloseRequests()
{
    if (qApp != nullptr)
        qApp->removeNativeEventFilter(this);
}

bool CloseRequests::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
        return false;
    const auto *request = static_cast<const xcb_client_message_event_t *>(message);
    if (request->format != 32 || request->type != protocolsAtom ||
        request->data.data32[0] != deleteWindowAtom ||
        request->window != static_cast<xcb_window_t>(window.internalWinId()))
        return false;
    return takeOver();
}
