#pragma once
// Why OPEN could not open the port, in words a user can act on. The window shows it as the
// status line's tooltip and writes it to standard error; the README's troubleshooting section
// says the same.

#include "serial/platform/Port.h"

#include <QString>
#include <QStringList>

// The serial adapters plugged in, as "<name> -> <device>" (port::ListSerialAdapters).
QStringList PresentSerialAdapters(const QString &folder = QString());

// The COM name, the device it led to, the system's reason and, for the usual cases, what to
// do; `adapters` as PresentSerialAdapters gives them.
QString OpenFailureAdvice(const QString &portName, const port::OpenFailure &failure,
                          const QStringList &adapters);
