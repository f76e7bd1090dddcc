#pragma once
// Finds a window's control by its object name, as the tests reach every control of the window.

#include <QString>
#include <QWidget>
#include <QtGlobal>

// Never null: a control that is missing or of another kind ends the test program at once,
// naming it (Qt Test reports the test it was in), rather than failing later on a null pointer.
template <class T> T *Control(const QWidget &window, const QString &name)
{
    T *control = window.findChild<T *>(name);
    if (control == nullptr)
        qFatal("%s has no control \"%s\" of the kind the test expects",
               qPrintable(window.objectName()), qPrintable(name));
    return control;
}
