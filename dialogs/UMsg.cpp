#include "dialogs/UMsg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <exception>

namespace {

constexpr QSize ClientSize(362, 142);
constexpr QRect MessageGeometry(27, 16, 302, 65);
constexpr QRect ButtonGeometry(128, 104, 75, 25);
const QColor Navy(0, 0, 128);

std::function<void(TfrmMsg &)> &ShownHook()
{
    static std::function<void(TfrmMsg &)> hook;
    return hook;
}

QFont Tahoma(int pixelHeight)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(pixelHeight);
    return font;
}

// Places the dialog's frame centred over the owner's window, kept on the owner's screen so the
// button stays reachable. The dialog's own frame is not known before it is shown; the owner's
// frame margins stand in for it (same window manager).
void CentreOver(QWidget &dialog, const QWidget *owner)
{
    if (owner == nullptr)
        return;
    const QWidget *window = owner->window();
    const QRect ownerFrame = window->frameGeometry();
    const QRect ownerClient = window->geometry();
    const QSize frameExtra(ownerFrame.width() - ownerClient.width(),
                           ownerFrame.height() - ownerClient.height());
    const QSize size = dialog.size() + frameExtra;

    int x = ownerFrame.x() + (ownerFrame.width() - size.width()) / 2;
    int y = ownerFrame.y() + (ownerFrame.height() - size.height()) / 2;
    if (const QScreen *screen = window->screen()) {
        const QRect available = screen->availableGeometry();
        x = std::max(std::min(x, available.x() + available.width() - size.width()), available.x());
        y = std::max(std::min(y, available.y() + available.height() - size.height()),
                     available.y());
    }
    dialog.move(x, y);
}

// A message taller than the label stays centred, cut off at the top and the bottom alike. QLabel
// (and a clipping drawText) stop laying out lines at the bottom edge and so keep the first line
// in view instead; here the whole text is laid out and the label's area clips it.
class MessageLabel final : public QLabel
{
public:
    explicit MessageLabel(QWidget *parent) : QLabel(parent) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setClipRect(contentsRect());
        painter.setPen(palette().color(foregroundRole()));
        painter.drawText(contentsRect(), int(alignment()) | Qt::TextWordWrap | Qt::TextDontClip,
                         text());
    }
};

} // namespace

TfrmMsg::TfrmMsg(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmMsg"));
    setWindowTitle(QStringLiteral("frmMsg"));
    setFixedSize(ClientSize);
    setFont(Tahoma(16));
    // The system window colour, as the main window takes it: a text area's background.
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Base));
    setPalette(background);
    setAutoFillBackground(true);

    lblMsg = new MessageLabel(this);
    lblMsg->setObjectName(QStringLiteral("lblMsg"));
    lblMsg->setGeometry(MessageGeometry);
    lblMsg->setFont(Tahoma(19));
    QPalette navyText = lblMsg->palette();
    navyText.setColor(QPalette::WindowText, Navy);
    lblMsg->setPalette(navyText);
    // Messages are plain text: a "<" in one must not turn it into markup.
    lblMsg->setTextFormat(Qt::PlainText);
    lblMsg->setAlignment(Qt::AlignCenter);
    lblMsg->setWordWrap(true);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(ButtonGeometry);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    Button1->setFocus();
}

void TfrmMsg::SetShownHook(std::function<void(TfrmMsg &)> hook)
{
    ShownHook() = std::move(hook);
}

void TfrmMsg::keyPressEvent(QKeyEvent *event)
{
    // Only OK and the close box end the dialog; Esc is not a way out.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ShowMessageDialog(QWidget *owner, const QString &text)
{
    // A QPointer: should the owner go while the dialog is open, it takes the dialog with it.
    const QPointer<TfrmMsg> dialog = new TfrmMsg(owner);
    const auto destroy = qScopeGuard([&dialog] { delete dialog.data(); });

    dialog->lblMsg->setText(text);
    dialog->setWindowTitle(QStringLiteral("PC_VELKA6"));
    CentreOver(*dialog, owner);

    // An exception must not cross the event loop: catch it there, close the dialog, and let it
    // go on to the caller once the dialog is gone.
    std::exception_ptr failure;
    if (const auto hook = ShownHook()) {
        QTimer::singleShot(0, dialog.data(), [&dialog, &failure, hook] {
            try {
                hook(*dialog);
            } catch (...) {
                failure = std::current_exception();
                if (dialog)
                    dialog->reject();
            }
        });
    }
    dialog->exec();
    if (failure)
        std::rethrow_exception(failure);
}
