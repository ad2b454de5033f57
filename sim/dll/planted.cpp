// A planted EWFAPI.dll for the end-to-end runs of the check: EwfMgrClose is a
// forwarder to evil.dll, whose code runs the moment anything resolves it.
// The other calls the watchdog imports are here and fail, as a library that
// means harm might do while it waits to be loaded.
#include <windows.h>

extern "C" {

void *WINAPI EwfMgrGetProtectedVolumeList(void)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

BOOL WINAPI EwfMgrVolumeNameListIsEmpty(void *)
{
    return TRUE;
}

VOID WINAPI EwfMgrVolumeNameEntryPop(void *) {}

VOID WINAPI EwfMgrVolumeNameListDelete(void *) {}

WCHAR WINAPI EwfMgrGetDriveLetterFromVolumeName(LPCWSTR)
{
    return (WCHAR)0xFFFF;
}

HANDLE WINAPI EwfMgrOpenProtected(LPCWSTR)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
}

void *WINAPI EwfMgrGetProtectedVolumeConfig(HANDLE)
{
    return nullptr;
}

BOOL WINAPI EwfMgrCommitAndDisableLive(HANDLE)
{
    return FALSE;
}

BOOL WINAPI EwfMgrEnable(HANDLE)
{
    return FALSE;
}

} // extern "C"
