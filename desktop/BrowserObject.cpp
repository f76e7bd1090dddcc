#include "desktop/BrowserObject.h"

#include <QDesktopServices>
#include <QRegularExpression>

using namespace automation;

QUrl UrlForAddress(const QString &address)
{
    static const QRegularExpression withScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const QString trimmed = address.trimmed();
    if (trimmed.isEmpty())
        return {};
    return QUrl(withScheme.match(trimmed).hasMatch() ? trimmed
                                                     : QStringLiteral("http://") + trimmed,
                QUrl::StrictMode);
}

namespace {

enum Member : DispId
{
    Visible = 1,
    Navigate = 2,
};

class BrowserObject final : public Dispatch
{
public:
    HResult GetIdOfName(const std::string &name, DispId &id) override
    {
        // Member names are matched regardless of case, as late binding does.
        const QString wanted = QString::fromStdString(name);
        for (const auto &[member, memberName] :
             {std::pair{Visible, "Visible"}, {Navigate, "Navigate"}}) {
            if (wanted.compare(QLatin1String(memberName), Qt::CaseInsensitive) == 0) {
                id = member;
                return Ok;
            }
        }
        return UnknownName;
    }

    HResult Invoke(DispId id, InvokeKind kind, const Variant &argument,
                   ExceptionInfo &exception) override
    {
        switch (id) {
        case Visible:
            if (kind != InvokeKind::PropertyPut)
                return MemberNotFound;
            if (!std::holds_alternative<bool>(argument))
                return TypeMismatch;
            // The desktop's browser shows itself when it opens a page: nothing to keep.
            return Ok;
        case Navigate:
            if (kind != InvokeKind::Method)
                return MemberNotFound;
            if (!std::holds_alternative<std::string>(argument))
                return TypeMismatch;
            return Open(std::get<std::string>(argument), exception);
        default:
            return MemberNotFound;
        }
    }

private:
    static HResult Open(const std::string &address, ExceptionInfo &exception)
    {
        const QUrl url = UrlForAddress(QString::fromStdString(address));
        if (!url.isValid())
            return InvalidArgument;
        if (!QDesktopServices::openUrl(url)) {
            exception.code = Unspecified;
            exception.description = "The desktop could not open " + url.toString().toStdString();
            return ExceptionOccurred;
        }
        return Ok;
    }
};

} // namespace

HResult CreateBrowserObject(Dispatch *&object)
{
    object = new BrowserObject;
    return Ok;
}
