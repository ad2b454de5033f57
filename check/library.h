// The write filter's manager library as the check reaches it: loaded at run
// time, so that the check starts, and can say so, where the library is
// missing or lacks a call; never imported.
#pragma once

#include "platform/kernel32.h"

#define EWFAPI_CALL_COUNT 10

// Indexes into WatchdogEwfCalls.
enum EwfCall {
    CallClose,
    CallCommitAndDisableLive,
    CallEnable,
    CallGetDriveLetterFromVolumeName,
    CallGetProtectedVolumeConfig,
    CallGetProtectedVolumeList,
    CallOpenProtected,
    CallVolumeNameEntryPop,
    CallVolumeNameListDelete,
    CallVolumeNameListIsEmpty
};

// Every write filter call the watchdog imports: a library without one of
// them cannot start the watchdog.
extern const char *const WatchdogEwfCalls[EWFAPI_CALL_COUNT];

// The library the EwfMgr calls go to; null when none is loaded.
extern HMODULE EwfApiModule;
