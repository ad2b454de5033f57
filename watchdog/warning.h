// The one thing the user ever sees: the overflow warning.
#pragma once

#include <atomic>

#include "platform/kernel32.h"

// The caption, which the installation check looks for in the lists of
// what may close windows before anyone sees them.
#define WARNING_CAPTION "Tovrin V1.00 20070610 Ondrap"

extern const char WarningText[];
extern const char WarningCaption[];

// One OK button, the warning icon, always on top (0x00040030).
#define WARNING_STYLE (MB_OK | MB_ICONWARNING | MB_TOPMOST)

// True from load until the user has dismissed the warning. The warning thread
// clears it and the main thread polls it.
extern std::atomic<bool> WarningShowing;

// The warning thread's routine; its argument is ignored.
DWORD WINAPI ShowOverflowWarning(LPVOID parameter);
