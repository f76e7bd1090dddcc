#include "app/PortAdvice.h"

namespace {
// The hints name Linux's devices, groups and commands; on Windows the ports are the system's.
#ifdef Q_OS_WIN
constexpr bool LinuxHints = false;
#else
constexpr bool LinuxHints = true;
#endif
} // namespace

QStringList PresentSerialAdapters(const QString &folder)
{
    QStringList adapters;
    for (const port::SerialAdapter &adapter : port::ListSerialAdapters(folder.toStdString()))
        adapters << QString::fromStdString(adapter.name + " -> " + adapter.device);
    return adapters;
}

QString OpenFailureAdvice(const QString &portName, const port::OpenFailure &failure,
                          const QStringList &adapters)
{
    const QString device = QString::fromStdString(failure.device);
    QString text = QStringLiteral("%1 (%2) could not be opened: %3.")
                       .arg(portName, device, QString::fromStdString(failure.systemText));
    if (!LinuxHints) {
        if (failure.kind == port::OpenFailureKind::NoSuchDevice)
            text += QStringLiteral("\nThere is no such port: Device Manager lists the ports under "
                                   "\"Ports (COM & LPT)\".");
        else if (failure.kind == port::OpenFailureKind::AccessDenied ||
                 failure.kind == port::OpenFailureKind::Busy)
            text += QStringLiteral("\nAnother program may hold the port: close it and press "
                                   "OPEN again.");
        return text;
    }
    switch (failure.kind) {
    case port::OpenFailureKind::NoSuchDevice:
        text += QStringLiteral("\nThere is no such device.");
        if (adapters.isEmpty()) {
            text += QStringLiteral(" No USB serial adapter is plugged in.");
        } else {
            text += QStringLiteral(" Serial adapters present:");
            for (const QString &adapter : adapters)
                text += QStringLiteral("\n  ") + adapter;
        }
        text += QStringLiteral("\nTo give an adapter the name %1: sudo ln -s /dev/ttyUSB0 /dev/%1 "
                               "(with its device), or a udev rule; see the README, \"Serial "
                               "ports on Linux\".")
                    .arg(portName);
        break;
    case port::OpenFailureKind::AccessDenied:
        text += QStringLiteral("\nYou may not use the device. Join the group dialout (sudo "
                               "usermod -aG dialout \"$USER\") and log in again.");
        break;
    case port::OpenFailureKind::Busy:
        text += QStringLiteral("\nAnother program holds the device: close it (fuser -v %1 "
                               "names it) and press OPEN again.")
                    .arg(device);
        break;
    case port::OpenFailureKind::NotSerialDevice:
        text += QStringLiteral("\nThe device is not a serial port: choose the adapter's COM name.");
        break;
    case port::OpenFailureKind::None:
    case port::OpenFailureKind::Other:
        break;
    }
    return text;
}
