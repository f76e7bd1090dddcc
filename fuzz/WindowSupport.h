#pragma once
// The offscreen application and one main window, made once per fuzzing process and kept until
// it ends. Error boxes are counted and recorded instead of shown.

#include "app/UMainForm.h"
#include "tests/support/Controls.h"

#include <QString>

namespace fuzz {

// The window as the program shows it after start-up; made on first use.
TfrmMain &Window();

// The text of the last error box since ClearErrorBoxes, and how many there were.
struct ErrorBoxes
{
    int count = 0;
    QString lastText;
};
const ErrorBoxes &ShownErrorBoxes();
void ClearErrorBoxes();

} // namespace fuzz
