#include "app/Application.h"

#include "app/WindowFonts.h"

#include <QCoreApplication>

void SetUpApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("nmct"));
    InstallWindowFonts();
}
