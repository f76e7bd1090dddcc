#pragma once
// The window names Windows font faces. They are not installed here, so each is drawn in the
// closest free face that is: the regular Tahoma of the Wine fonts (loaded from their folder,
// which fontconfig does not scan; its bold is drawn from it), Liberation Serif for the serif
// faces, WenQuanYi Micro Hei for the Chinese ones. The window's fonts name that face.

#include <QFont>
#include <QString>

namespace Face {
inline const QString MsSansSerif = QStringLiteral("MS Sans Serif");
inline const QString MsSerif = QStringLiteral("MS Serif");
inline const QString Tahoma = QStringLiteral("Tahoma");
inline const QString TimesNewRoman = QStringLiteral("Times New Roman");
inline const QString KaiTiGb2312 = QStringLiteral("楷体_GB2312");
inline const QString NSimSun = QStringLiteral("新宋体");
} // namespace Face

// Loads the fonts that fontconfig does not know and installs the face substitutions. Call
// once, after the application object exists and before any window is created.
void InstallWindowFonts();

enum FontStyle
{
    Regular = 0,
    Bold = 1,
    Underline = 2
};

// The face a window face is drawn in here: itself when installed, else the closest that is.
QString InstalledFace(const QString &face);

// A font as the window describes it: a face, a character height in pixels, a style.
QFont WindowFont(const QString &face, int pixelSize, int style = Regular);
