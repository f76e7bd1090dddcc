// Where the window stands: centred on the screen by its frame once the window manager has
// framed it, with a title bar that stays empty.

#include "app/UMainForm.h"

#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

QPoint TfrmMain::CentredFramePosition() const
{
    // The frame's size is known only once the window manager has framed the window; until then
    // it is the client area's.
    const QScreen *screen = this->screen();
    if (screen == nullptr)
        return pos();
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size();
    return {available.x() + (available.width() - frame.width()) / 2,
            available.y() + (available.height() - frame.height()) / 2};
}

void TfrmMain::CentreOnScreen()
{
    move(CentredFramePosition()); // move() places the frame
}

void TfrmMain::KeepTitleBarEmpty()
{
    // On X11 Qt puts the application's name in an empty title bar; a blank keeps it empty while
    // the widget's own title stays empty.
    create();
    windowHandle()->setTitle(QStringLiteral(" "));
}

void TfrmMain::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (centredByFrame)
        return;
    centredByFrame = true;
    // The frame's size is known only after the window manager has framed the shown window, and
    // nothing announces it: look for it for up to a second, then centre the window by it.
    auto *poll = new QTimer(this);
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, this, [this, poll, tries = 0]() mutable {
        if (frameGeometry().size() == size() && ++tries < 50)
            return;
        poll->stop();
        poll->deleteLater();
        CentreOnScreen();
    });
    poll->start();
}
