#pragma once
// The window's pictures, kept as raw pixels (binary PPM): "P6", width, height, 255, then the RGB
// triples. Read directly, they need no image decoder: a compressed format would load Qt's image
// plugins and a decoding library at every start, for three small pictures.

#include <QPixmap>
#include <QString>

// The picture in the resource, or a null pixmap (with a warning) when it is not such a file.
QPixmap RawPicture(const QString &resource);
