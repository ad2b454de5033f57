// NTDLL: the system's native calls, looked up at run time (never imported):
// the time of the last boot where KERNEL32 has no uptime that does not wrap.
#pragma once

#include "platform/kernel32.h"

// SystemTimeOfDayInformation: the time of the last boot, among others.
#define SYSTEM_TIME_OF_DAY_INFORMATION 3u

struct SystemTimeOfDay {
    LONGLONG bootTime; // FILETIME units, UTC
    LONGLONG currentTime;
    LONGLONG timeZoneBias;
    ULONG timeZoneId;
    ULONG reserved;
    ULONGLONG bootTimeBias;
    ULONGLONG sleepTimeBias;
};

// NtQuerySystemInformation: an NTSTATUS, 0 on success.
typedef LONG(WINAPI *NtQuerySystemInformationRoutine)(ULONG informationClass, void *information,
                                                      ULONG length, ULONG *returned);
