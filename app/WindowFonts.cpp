#include "app/WindowFonts.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>

namespace {

// Debian's fonts-wine puts its faces here, outside the folders fontconfig scans.
const QString WineFontFolder = QStringLiteral("/usr/share/wine/fonts");

// Wine's "MS Sans Serif" is not loaded on purpose: it is a bitmap face with a single 13-pixel
// cell here, smaller than the 13-pixel character height the window asks for, and it has no bold.
// Tahoma, which took its place on Windows, matches its metrics. Its bold face is not loaded
// either: at the window's sizes its strokes are as thin as the regular ones, while the bold
// drawn from the regular outlines is plainly bold and keeps the regular widths.
const char *const WineFaces[] = {"tahoma.ttf"};

struct Substitution
{
    const QString &face;
    QStringList closest; // first installed one wins
};

const Substitution Substitutions[] = {
    {Face::MsSansSerif, {"Tahoma", "Liberation Sans", "DejaVu Sans"}},
    {Face::Tahoma, {"Liberation Sans", "DejaVu Sans"}},
    {Face::MsSerif, {"Liberation Serif", "DejaVu Serif"}},
    {Face::TimesNewRoman, {"Liberation Serif", "DejaVu Serif"}},
    {Face::KaiTiGb2312, {"WenQuanYi Micro Hei", "DejaVu Sans"}},
    // A monospaced face whose Latin letters are half as wide as its Chinese ones.
    {Face::NSimSun, {"WenQuanYi Micro Hei Mono", "WenQuanYi Micro Hei", "DejaVu Sans Mono"}},
};

} // namespace

void InstallWindowFonts()
{
    for (const char *file : WineFaces) {
        const QString path = QDir(WineFontFolder).filePath(QString::fromLatin1(file));
        if (QFileInfo::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
    for (const Substitution &substitution : Substitutions)
        QFont::insertSubstitutions(substitution.face, substitution.closest);
}

// Asking for a face that is not installed makes Qt query fontconfig's fallbacks for it, twice
// for every size and style (about 5 ms at start); naming the installed face skips that.
QString InstalledFace(const QString &face)
{
    const QStringList installed = QFontDatabase::families();
    if (installed.contains(face, Qt::CaseInsensitive))
        return face;
    for (const Substitution &substitution : Substitutions) {
        if (substitution.face != face)
            continue;
        for (const QString &closest : substitution.closest)
            if (installed.contains(closest, Qt::CaseInsensitive))
                return closest;
    }
    return face;
}

QFont WindowFont(const QString &face, int pixelSize, int style)
{
    QFont font(InstalledFace(face));
    font.setPixelSize(pixelSize);
    font.setBold((style & Bold) != 0);
    // Hinted, Tahoma is drawn from bitmaps embedded for small sizes, which bold does not thicken.
    if ((style & Bold) != 0)
        font.setHintingPreference(QFont::PreferNoHinting);
    font.setUnderline((style & Underline) != 0);
    return font;
}
