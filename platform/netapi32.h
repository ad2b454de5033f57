// NETAPI32: local group membership, for the installation check only.
//
// Looked up at run time, never imported: a componentized embedded image may
// leave the library out, and the check must start there all the same.
#pragma once

#include "platform/kernel32.h"

#define NETAPI_SUCCESS 0u
#define NETAPI_PREFERRED_LENGTH ((DWORD)-1)

// Also the local groups an account is in through a global group.
#define LG_INCLUDE_INDIRECT 0x1u

// One local group of an account, as level 0 of the account's list gives it.
typedef struct _LOCALGROUP_USERS_INFO_0 {
    WCHAR *Name;
} LOCALGROUP_USERS_INFO_0;

typedef DWORD(WINAPI *NetUserGetLocalGroupsRoutine)(LPCWSTR servername, LPCWSTR username,
                                                    DWORD level, DWORD flags, BYTE **bufptr,
                                                    DWORD prefmaxlen, LPDWORD entriesread,
                                                    LPDWORD totalentries);
typedef DWORD(WINAPI *NetApiBufferFreeRoutine)(LPVOID buffer);
