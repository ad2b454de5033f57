// The write filter's manager library as the check reaches it: loaded at run
// time, so that the check starts, and can say so, where the library is
// missing or lacks a call; never imported.
#pragma once

#include "platform/kernel32.h"

// Every write filter call the watchdog imports, by its index in
// WatchdogEwfCalls: a library without one of them cannot start the watchdog.
#define EWF_IMPORTED(returns, name, ...) Call##name,
#define EWF_READ EWF_IMPORTED
#define EWF_WRITE EWF_IMPORTED
enum EwfCall {
#include "platform/ewfapi_calls.h"
    EwfCallCount
};
#undef EWF_IMPORTED

extern const char *const WatchdogEwfCalls[EwfCallCount];

// The library the EwfMgr calls go to; null when none is loaded.
extern HMODULE EwfApiModule;
