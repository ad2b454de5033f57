// USER32: the warning message box and the system restart.
#pragma once

#include "platform/kernel32.h"

#if !defined(_WIN32)

#define MB_OK 0x00000000u
#define MB_ICONWARNING 0x00000030u
#define MB_TOPMOST 0x00040000u
#define IDOK 1
#define EWX_REBOOT 0x00000002u
#define EWX_FORCE 0x00000004u

extern "C" {
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason);
}

#endif
