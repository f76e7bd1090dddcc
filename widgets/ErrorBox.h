#pragma once

#include <QObject>
#include <QString>

#include <concepts>
#include <exception>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>

// The text of the default error box: a "." appended when the message's last character sorts
// after ".", then cut at the first zero byte. Bytes are read as UTF-8 when they form valid
// UTF-8, else as 8-bit Latin-1 characters.
QString ErrorBoxText(const std::string &message);

// The program's title: the title of the default error box, and the name the desktop lists the
// program under.
inline const QString ApplicationTitle = QStringLiteral("Network Module Communication Tools");

// The default error box: modal, error icon, one OK button, titled with ApplicationTitle.
void ShowErrorBox(const std::string &message);

// Test seam: while set, the hook receives the box's text and no box is shown.
void SetErrorBoxHook(std::function<void(const QString &text)> hook);

// Runs a handler entered from Qt. A std::exception escaping it ends the handler and goes to
// the default error box; the program then goes on. Exceptions must never unwind through Qt.
template <typename F> void RunGuarded(F &&handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (const std::exception &error) {
        ShowErrorBox(error.what());
    }
}

namespace guarded_detail {
template <typename F> struct GuardedCall
{
    F function;
    // Constrained so that Qt can tell how many of the signal's arguments the handler takes.
    template <typename... Args>
    requires std::invocable<F &, Args...>
    void operator()(Args &&...args)
    {
        RunGuarded([&] { std::invoke(function, std::forward<Args>(args)...); });
    }
};
} // namespace guarded_detail

// Connects a signal to a member handler of `receiver` through RunGuarded. The handler may take
// fewer arguments than the signal carries, as with a plain connect. The connection ends with
// the receiver.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
requires std::is_member_function_pointer_v<Handler> QMetaObject::Connection
ConnectGuarded(const Sender *sender, Signal signal, Receiver *receiver, Handler handler,
               Qt::ConnectionType type = Qt::AutoConnection)
{
    auto call = [ receiver, handler ](
        auto &&...args) requires std::invocable<Handler, Receiver *, decltype(args)...>
    {
        std::invoke(handler, receiver, std::forward<decltype(args)>(args)...);
    };
    return QObject::connect(sender, signal, receiver,
                            guarded_detail::GuardedCall<decltype(call)>{std::move(call)}, type);
}

// The same for any callable, with `context` ending the connection.
template <typename Sender, typename Signal, typename Function>
requires(!std::is_member_function_pointer_v<std::decay_t<Function>>) QMetaObject::Connection
    ConnectGuarded(const Sender *sender, Signal signal, const QObject *context, Function &&function,
                   Qt::ConnectionType type = Qt::AutoConnection)
{
    return QObject::connect(
        sender, signal, context,
        guarded_detail::GuardedCall<std::decay_t<Function>>{std::forward<Function>(function)},
        type);
}
