#pragma once
// What the program sets up before its first window: its name and the window fonts.

// The name "nmct" is the window class (WM_CLASS) by which the desktop ties the window to the
// menu entry nmct.desktop, whose Name is the program's title; the window also carries the
// title as its icon name. No application display name is set: Qt would append it to every
// title bar, and the main window's title bar stays empty, the message dialog's reads only
// "PC_VELKA6". Call once, after the application object exists and before any window is made.
void SetUpApplication();
