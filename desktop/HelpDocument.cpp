#include "desktop/HelpDocument.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QUrl>

#include <algorithm>

namespace {

qsizetype LastDelimiter(const QString &path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QDir::separator()));
}

// The started handler inherits the current folder; set it for the call and put it back.
class CurrentFolderFor
{
public:
    explicit CurrentFolderFor(const QString &folder) : previous_(QDir::currentPath())
    {
        changed_ = !folder.isEmpty() && QDir::setCurrent(folder);
    }
    ~CurrentFolderFor()
    {
        if (changed_)
            QDir::setCurrent(previous_);
    }
    CurrentFolderFor(const CurrentFolderFor &) = delete;
    CurrentFolderFor &operator=(const CurrentFolderFor &) = delete;

private:
    QString previous_;
    bool changed_ = false;
};

} // namespace

HelpDocument HelpDocumentFor(const QString &executablePath)
{
    const qsizetype delimiter = LastDelimiter(executablePath);
    const qsizetype dot = executablePath.lastIndexOf(QLatin1Char('.'));
    const qsizetype stem = dot > delimiter ? dot : executablePath.size();
    return {executablePath.left(stem) + QStringLiteral(".pdf"), executablePath.left(delimiter + 1)};
}

void OpenHelpDocument()
{
    const HelpDocument document = HelpDocumentFor(QCoreApplication::applicationFilePath());
    const CurrentFolderFor folder(document.workingFolder);
    (void)QDesktopServices::openUrl(QUrl::fromLocalFile(document.path));
}
