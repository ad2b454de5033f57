// NETAPI32: local group membership, for the installation check only.
//
// Looked up at run time, never imported: a componentized embedded image may
// leave the library out, and the check must start there all the same.
#pragma once

#include "platform/kernel32.h"

#define NETAPI_SUCCESS 0u
#define NETAPI_PREFERRED_LENGTH ((DWORD)-1)

// One member of a local group, as level 0 of the member list gives it.
typedef struct _NET_LOCALGROUP_MEMBER {
    void *Sid;
} NET_LOCALGROUP_MEMBER;

typedef DWORD(WINAPI *NetLocalGroupGetMembersRoutine)(LPCWSTR servername, LPCWSTR localgroupname,
                                                      DWORD level, BYTE **bufptr, DWORD prefmaxlen,
                                                      LPDWORD entriesread, LPDWORD totalentries,
                                                      ULONG_PTR *resume);
typedef DWORD(WINAPI *NetApiBufferFreeRoutine)(LPVOID buffer);
