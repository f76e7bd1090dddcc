#include "app/RawPicture.h"

#include <QImage>
#include <QList>
#include <QResource>

QPixmap RawPicture(const QString &resource)
{
    const QByteArray file = QResource(resource).uncompressedData();
    QList<QByteArray> header;
    qsizetype at = 0;
    while (header.size() < 4 && at < file.size()) {
        const qsizetype end = file.indexOf('\n', at);
        if (end < 0)
            break;
        header += file.mid(at, end - at).split(' ');
        at = end + 1;
    }
    bool wide = false;
    bool high = false;
    const int width = header.size() == 4 ? header[1].toInt(&wide) : 0;
    const int height = header.size() == 4 ? header[2].toInt(&high) : 0;
    const qsizetype rowBytes = qsizetype(width) * 3;
    if (header.size() != 4 || header[0] != "P6" || header[3] != "255" || !wide || !high ||
        width <= 0 || height <= 0 || file.size() - at != rowBytes * height) {
        qWarning("%s is not a binary PPM picture", qPrintable(resource));
        return {};
    }
    const QImage pixels(reinterpret_cast<const uchar *>(file.constData() + at), width, height,
                        rowBytes, QImage::Format_RGB888);
    return QPixmap::fromImage(pixels.convertToFormat(QImage::Format_RGB32));
}
