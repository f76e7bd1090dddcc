#pragma once

#include <functional>

// Sounds the system beep, or calls the hook when one is set (a seam for tests).
void Beep();
void SetBeepHook(std::function<void()> hook);
