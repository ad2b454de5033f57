// Calls that not every Windows the check runs on has: looked up at run time,
// one row each, resolved on first use and kept until the check ends.
#pragma once

#include "platform/kernel32.h"
#include "platform/netapi32.h"
#include "platform/ntdll.h"

// library, name: the routine's type is the name followed by Routine.
// clang-format off
#define OPTIONAL_CALLS(row)                                                    \
    row(Kernel32, IsWow64Process)             /* XP SP2 on */                  \
    row(Kernel32, GetSystemWow64DirectoryA)   /* the 32-bit system folder */   \
    row(Kernel32, QueryFullProcessImageNameA) /* 6.0 on */                     \
    row(Kernel32, GetTickCount64)             /* 6.0 on */                     \
    row(Ntdll, NtQuerySystemInformation)                                       \
    row(Netapi32, NetUserGetLocalGroups)                                       \
    row(Netapi32, NetApiBufferFree)
// clang-format on

#define OPTIONAL_ENUM(library, name) Optional##name,
enum OptionalCall { OPTIONAL_CALLS(OPTIONAL_ENUM) OptionalCallCount };
#undef OPTIONAL_ENUM

// Null, with the error of the library's load or ERROR_PROC_NOT_FOUND, when
// this Windows lacks it.
FARPROC OptionalRoutine(OptionalCall call);
#define LOOKED_UP(name) ((name##Routine)(void (*)(void))OptionalRoutine(Optional##name))

// Unloads what was loaded for the table and forgets every row.
void ReleaseOptionalCalls();
