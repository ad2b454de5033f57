// WTSAPI32: who is logged on in a session, and which session this process
// is in, for the installation check only.
//
// Looked up at run time, never imported: an embedded image may leave the
// library out, and where Remote Desktop Services do not run its calls fail.
#pragma once

#include "platform/kernel32.h"

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE) nullptr)
#define WTS_CURRENT_SESSION ((DWORD)-1)

// What WTSQuerySessionInformationW gives: a ULONG, or a string.
#define WTS_SESSION_ID 4
#define WTS_USER_NAME 5
#define WTS_DOMAIN_NAME 7

typedef BOOL(WINAPI *WTSQuerySessionInformationWRoutine)(HANDLE hServer, DWORD SessionId,
                                                         int WTSInfoClass, WCHAR **ppBuffer,
                                                         DWORD *pBytesReturned);
typedef void(WINAPI *WTSFreeMemoryRoutine)(void *pMemory);
