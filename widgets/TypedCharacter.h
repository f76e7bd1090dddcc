#pragma once
// Whether a key press stands for characters the user typed, not a shortcut or an editing key:
// the frequency fields and the selectors' edit parts take the same keys as typing.

#include <QKeyEvent>

#include <algorithm>

inline bool IsTypedCharacter(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString text = event.text();
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}
