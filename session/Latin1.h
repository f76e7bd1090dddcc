#pragma once
// Bytes as Qt text and back, a character per byte: nothing is changed on the way, whatever the
// bytes are (a module's reply, a command line's argument). For the two front ends alike.

#include <QString>

#include <string>

inline QString Latin1Text(const std::string &bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string Latin1Bytes(const QString &text)
{
    return text.toLatin1().toStdString();
}
