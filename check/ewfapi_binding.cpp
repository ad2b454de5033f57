// The write filter calls that the check makes, bound at run time to the
// library it has loaded, so that the check starts where the library is
// missing or lacks a call, and can say so. Only calls that change nothing
// are defined: the write-back and the enable are not even reachable.
#include "check/library.h"
#include "platform/ewfapi.h"

// By its index in WatchdogEwfCalls, whose names are the ones looked up.
static FARPROC Bound(EwfCall call)
{
    FARPROC routine =
        EwfApiModule != nullptr ? GetProcAddress(EwfApiModule, WatchdogEwfCalls[call]) : nullptr;
    if (routine == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return routine;
}

// Through a plain function pointer type, which any function pointer may be
// cast to and from.
#define BIND(type, call) ((type)(void (*)(void))Bound(call))

PEWF_VOLUME_NAME_ENTRY WINAPI EwfMgrGetProtectedVolumeList(void)
{
    auto call = BIND(PEWF_VOLUME_NAME_ENTRY(WINAPI *)(void), CallGetProtectedVolumeList);
    return call != nullptr ? call() : nullptr;
}

BOOL WINAPI EwfMgrVolumeNameListIsEmpty(PEWF_VOLUME_NAME_ENTRY list)
{
    auto call = BIND(BOOL(WINAPI *)(PEWF_VOLUME_NAME_ENTRY), CallVolumeNameListIsEmpty);
    // Without the test, the walk would never find an end.
    return call != nullptr ? call(list) : TRUE;
}

VOID WINAPI EwfMgrVolumeNameEntryPop(PEWF_VOLUME_NAME_ENTRY *list)
{
    auto call = BIND(VOID(WINAPI *)(PEWF_VOLUME_NAME_ENTRY *), CallVolumeNameEntryPop);
    if (call != nullptr) {
        call(list);
    }
}

VOID WINAPI EwfMgrVolumeNameListDelete(PEWF_VOLUME_NAME_ENTRY list)
{
    auto call = BIND(VOID(WINAPI *)(PEWF_VOLUME_NAME_ENTRY), CallVolumeNameListDelete);
    if (call != nullptr) {
        call(list);
    }
}

WCHAR WINAPI EwfMgrGetDriveLetterFromVolumeName(LPCWSTR name)
{
    auto call = BIND(WCHAR(WINAPI *)(LPCWSTR), CallGetDriveLetterFromVolumeName);
    return call != nullptr ? call(name) : EWF_NO_DRIVE_LETTER;
}

HANDLE WINAPI EwfMgrOpenProtected(LPCWSTR name)
{
    auto call = BIND(HANDLE(WINAPI *)(LPCWSTR), CallOpenProtected);
    return call != nullptr ? call(name) : INVALID_HANDLE_VALUE;
}

BOOL WINAPI EwfMgrClose(HANDLE volume)
{
    auto call = BIND(BOOL(WINAPI *)(HANDLE), CallClose);
    return call != nullptr ? call(volume) : FALSE;
}

PEWF_VOLUME_CONFIG WINAPI EwfMgrGetProtectedVolumeConfig(HANDLE volume)
{
    auto call = BIND(PEWF_VOLUME_CONFIG(WINAPI *)(HANDLE), CallGetProtectedVolumeConfig);
    return call != nullptr ? call(volume) : nullptr;
}

BOOL WINAPI EwfMgrIsHORMActivated(HANDLE volume)
{
    FARPROC routine = nullptr;
    if (EwfApiModule != nullptr) {
        routine = GetProcAddress(EwfApiModule, "EwfMgrIsHORMActivated");
        if (routine == nullptr) {
            routine = GetProcAddress(EwfApiModule, "EwfMgrIsHormActivated");
        }
    }
    if (routine == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return ((BOOL(WINAPI *)(HANDLE))(void (*)(void))routine)(volume);
}
