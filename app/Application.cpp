#include "Application.h"

#include "WindowFonts.h"

#include <QCoreApplication>

void SetUpApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("nmct"));
    InstallWindowFonts();
}
