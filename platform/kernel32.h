// KERNEL32: the executable's path, the profile read, sleeping, threads, last
// error and the release of platform-allocated records. Also the base Windows
// types that the other platform headers build on.
//
// On Windows this is <windows.h>. On the Linux host the same names are
// declared here and a test fake defines them at link time.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define MAX_PATH 260
#define TRUE 1
#define FALSE 0

typedef int BOOL;
typedef uint8_t UCHAR;
typedef uint16_t USHORT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef intptr_t LONG_PTR;
typedef size_t SIZE_T;
typedef void VOID;
typedef void *LPVOID;
typedef DWORD *LPDWORD;
typedef char *LPSTR;
typedef const char *LPCSTR;
// Windows' WCHAR is 16 bits wide; Linux's wchar_t is not.
typedef char16_t WCHAR;
typedef const WCHAR *LPCWSTR;
typedef void *HANDLE;
typedef HANDLE *PHANDLE;
typedef HANDLE HINSTANCE;
typedef HANDLE HMODULE;
typedef HANDLE HWND;
typedef HANDLE HLOCAL;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID);

extern "C" {
DWORD WINAPI GetLastError(void);
VOID WINAPI Sleep(DWORD dwMilliseconds);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId);
BOOL WINAPI CloseHandle(HANDLE hObject);
HLOCAL WINAPI LocalFree(HLOCAL hMem);
HANDLE WINAPI GetCurrentProcess(void);
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
}

#endif
