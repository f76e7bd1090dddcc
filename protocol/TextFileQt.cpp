// The text files where there is no POSIX (Windows): Qt's save file, with every write checked
// before the commit, because a buffered write that failed can still commit.
#include "protocol/TextFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString Name(const std::string &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string Failed(const std::string &path, const std::string &what, const QString &reason)
{
    return path + ": " + what + ": " + reason.toStdString();
}

} // namespace

bool SameFile(const std::string &first, const std::string &second)
{
    const QString a = QFileInfo(Name(first)).canonicalFilePath();
    return !a.isEmpty() && a == QFileInfo(Name(second)).canonicalFilePath();
}

std::optional<int> NamedDescriptor(const std::string &)
{
    return std::nullopt;
}

TextRead ReadTextDescriptor(int descriptor, const std::string &name, std::size_t largest)
{
    QFile file;
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return {{}, Failed(name, "cannot be read", file.errorString())};
    const QByteArray text = file.read(static_cast<qint64>(largest) + 1);
    if (file.error() != QFileDevice::NoError)
        return {{}, Failed(name, "cannot be read", file.errorString())};
    if (static_cast<std::size_t>(text.size()) > largest)
        return {{}, name + ": too large (more than " + std::to_string(largest) + " bytes)"};
    return {text.toStdString(), {}};
}

TextRead ReadTextFile(const std::string &path, std::size_t largest)
{
    if (QFileInfo(Name(path)).isDir())
        return {{}, path + ": cannot be read: is a directory"};
    QFile file(Name(path));
    if (!file.open(QIODevice::ReadOnly))
        return {{}, Failed(path, "cannot be opened", file.errorString())};
    return ReadTextDescriptor(file.handle(), path, largest);
}

std::optional<std::string> WriteTextDescriptor(int descriptor, const std::string &name,
                                               std::string_view text)
{
    QFile file;
    const auto size = static_cast<qint64>(text.size());
    if (!file.open(descriptor, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) ||
        file.write(text.data(), size) != size || !file.flush())
        return Failed(name, "write error", file.errorString());
    return std::nullopt;
}

std::optional<std::string> WriteTextFile(const std::string &path, std::string_view text)
{
    const QFileInfo info(Name(path));
    if (info.exists() && !info.isFile())
        return path + ": cannot be written: not a file";
    QSaveFile file(Name(path));
    const auto size = static_cast<qint64>(text.size());
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), size) != size ||
        !file.flush() || file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Failed(path, "cannot be written", reason);
    }
    if (!file.commit())
        return Failed(path, "cannot be written", file.errorString());
    return std::nullopt;
}
