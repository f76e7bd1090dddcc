#include "widgets/ErrorBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStringDecoder>

#include <utility>

namespace {
std::function<void(const QString &)> &ErrorBoxHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

// Messages are mostly our own ASCII texts or system texts in UTF-8, but some carry raw 8-bit
// bytes from the module; those are shown one byte per character rather than as replacement marks.
QString DecodeMessageBytes(const std::string &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}
} // namespace

QString ErrorBoxText(const std::string &message)
{
    std::string text = message;
    // The comparison is on the byte's code, so bytes from 0x80 up count as after ".".
    if (!text.empty() && static_cast<unsigned char>(text.back()) > static_cast<unsigned char>('.'))
        text.push_back('.');
    if (const auto zero = text.find('\0'); zero != std::string::npos)
        text.resize(zero);
    return DecodeMessageBytes(text);
}

void ShowErrorBox(const std::string &message)
{
    const QString text = ErrorBoxText(message);
    if (ErrorBoxHook()) {
        ErrorBoxHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, ApplicationTitle, text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // an error text is never markup
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void SetErrorBoxHook(std::function<void(const QString &text)> hook)
{
    ErrorBoxHook() = std::move(hook);
}
