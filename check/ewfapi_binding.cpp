// The write filter calls that the check makes, bound at run time to the
// library it has loaded, so that the check starts where the library is
// missing or lacks a call, and can say so. Only calls that change nothing
// are defined: the write-back and the enable are not even reachable.
#include "check/library.h"
#include "platform/ewfapi.h"

static FARPROC Bound(const char *name)
{
    FARPROC routine = EwfApiModule != nullptr ? GetProcAddress(EwfApiModule, name) : nullptr;
    if (routine == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return routine;
}

// Through a plain function pointer type, which any function pointer may be
// cast to and from.
#define BIND(type, name) ((type)(void (*)(void))Bound(name))

PEWF_VOLUME_NAME_ENTRY WINAPI EwfMgrGetProtectedVolumeList(void)
{
    auto call = BIND(PEWF_VOLUME_NAME_ENTRY(WINAPI *)(void), "EwfMgrGetProtectedVolumeList");
    return call != nullptr ? call() : nullptr;
}

BOOL WINAPI EwfMgrVolumeNameListIsEmpty(PEWF_VOLUME_NAME_ENTRY list)
{
    auto call = BIND(BOOL(WINAPI *)(PEWF_VOLUME_NAME_ENTRY), "EwfMgrVolumeNameListIsEmpty");
    // Without the test, the walk would never find an end.
    return call != nullptr ? call(list) : TRUE;
}

VOID WINAPI EwfMgrVolumeNameEntryPop(PEWF_VOLUME_NAME_ENTRY *list)
{
    auto call = BIND(VOID(WINAPI *)(PEWF_VOLUME_NAME_ENTRY *), "EwfMgrVolumeNameEntryPop");
    if (call != nullptr) {
        call(list);
    }
}

VOID WINAPI EwfMgrVolumeNameListDelete(PEWF_VOLUME_NAME_ENTRY list)
{
    auto call = BIND(VOID(WINAPI *)(PEWF_VOLUME_NAME_ENTRY), "EwfMgrVolumeNameListDelete");
    if (call != nullptr) {
        call(list);
    }
}

WCHAR WINAPI EwfMgrGetDriveLetterFromVolumeName(LPCWSTR name)
{
    auto call = BIND(WCHAR(WINAPI *)(LPCWSTR), "EwfMgrGetDriveLetterFromVolumeName");
    return call != nullptr ? call(name) : EWF_NO_DRIVE_LETTER;
}

HANDLE WINAPI EwfMgrOpenProtected(LPCWSTR name)
{
    auto call = BIND(HANDLE(WINAPI *)(LPCWSTR), "EwfMgrOpenProtected");
    return call != nullptr ? call(name) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI EwfMgrClose(HANDLE volume)
{
    auto call = BIND(BOOL(WINAPI *)(HANDLE), "EwfMgrClose");
    return call != nullptr ? call(volume) : FALSE;
}

PEWF_VOLUME_CONFIG WINAPI EwfMgrGetProtectedVolumeConfig(HANDLE volume)
{
    auto call = BIND(PEWF_VOLUME_CONFIG(WINAPI *)(HANDLE), "EwfMgrGetProtectedVolumeConfig");
    return call != nullptr ? call(volume) : nullptr;
}
