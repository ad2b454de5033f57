// NTDLL: for the installation check only, the free system page table entries
// and the time of the last boot where KERNEL32 has no uptime that does not
// wrap.
//
// Looked up at run time, never imported: the call is the system's own, not a
// published interface, and the check must start wherever it is missing.
#pragma once

#include <stddef.h>

#include "platform/kernel32.h"

// The information class that fills the system's performance record.
#define SYSTEM_PERFORMANCE_INFORMATION_CLASS 2u
// The record's size as XP fills it. Later versions only add to its end and
// still accept this size, while some refuse a length they do not know.
#define SYSTEM_PERFORMANCE_INFORMATION_SIZE 0x138u

// The record's start, up to the field read: four 64-bit counters (idle time,
// I/O transfers), then 26 32-bit page, I/O and pool counters, then the count
// of free system PTEs. The same on 32-bit and 64-bit Windows.
typedef struct _SYSTEM_PERFORMANCE_START {
    LONGLONG Times[4];
    ULONG Counters[26];
    ULONG FreeSystemPtes;
} SYSTEM_PERFORMANCE_START;

// Nothing else here can catch a mistake in the layout.
static_assert(offsetof(SYSTEM_PERFORMANCE_START, FreeSystemPtes) == 0x88,
              "FreeSystemPtes lies at byte 0x88 of the performance record");

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

// Returns an NTSTATUS: 0 and above succeed.
typedef LONG(WINAPI *NtQuerySystemInformationRoutine)(ULONG SystemInformationClass,
                                                      LPVOID SystemInformation,
                                                      ULONG SystemInformationLength,
                                                      ULONG *ReturnLength);
