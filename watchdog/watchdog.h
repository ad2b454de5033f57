// The program: its entry point and the constants of its loop.
#pragma once

#include "platform/kernel32.h"

#define POLL_INTERVAL_MS 2000
#define DISMISS_POLL_INTERVAL_MS 100
#define BYTES_PER_MIB 1048576

#if !defined(_WIN32)
extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine,
                              int showCommand);
#endif
