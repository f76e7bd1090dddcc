#pragma once
// The named colours of the main window.

#include <QColor>

namespace FormColor {
inline const QColor Panel{15, 179, 240};
inline const QColor StatusBar{0, 128, 255};
inline const QColor Green{0, 128, 0};
inline const QColor Olive{128, 128, 0};
inline const QColor Navy{0, 0, 128};
inline const QColor Silver{192, 192, 192};
inline const QColor Grey{128, 128, 128};
inline const QColor Yellow{255, 255, 0};
// Qt has no role for the desktop's scroll-bar colour; this is the usual default.
inline const QColor ScrollBar{200, 200, 200};
} // namespace FormColor
