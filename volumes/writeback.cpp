// The write-back pass and what it is made of: every call here changes the
// write filter's state or restarts the machine.
#include "volumes/volumes.h"

#include "platform/advapi32.h"
#include "platform/ewfapi.h"
#include "platform/user32.h"

ResultCode CommitAndDisableVolume(LPCWSTR volumeName)
{
    HANDLE volume = EwfMgrOpenProtected(volumeName);
    if (volume == INVALID_HANDLE_VALUE) {
        ResultCode code = GetLastError();
        Trace("EwfMgrOpenProtected failed LE = %u\n", code);
        return code;
    }
    if (!EwfMgrCommitAndDisableLive(volume)) {
        ResultCode code = GetLastError();
        Trace("EwfMgrCommit failed LE = %u\n", code);
        EwfMgrClose(volume);
        return code;
    }
    Trace("EwfMgrCommit succeeded\n");
    EwfMgrClose(volume);
    return 0;
}

ResultCode EnableVolume(LPCWSTR volumeName, BOOL restart)
{
    HANDLE volume = EwfMgrOpenProtected(volumeName);
    if (volume == INVALID_HANDLE_VALUE) {
        ResultCode code = GetLastError();
        Trace("EwfMgrOpenProtected failed LE = %u\n", code);
        return code;
    }
    if (!EwfMgrEnable(volume)) {
        ResultCode code = GetLastError();
        Trace("EwfMgrEnable failed LE = %u\n", code);
        EwfMgrClose(volume);
        return code;
    }
    Trace("EwfMgrEnable succeeded\n");
    if (restart) {
        RestartSystem();
    }
    EwfMgrClose(volume);
    return 0;
}

// Whether the pass should write the volume back: FALSE only when its record
// says protection is off. Such a volume was left unprotected on purpose, so
// that what is written there persists; enabling it would discard that data
// at every restart from then on. A record that cannot be read gives TRUE, so
// that a failed read never leaves a protected overlay filling up.
static BOOL OverlayEnabled(LPCWSTR volumeName)
{
    HANDLE volume = EwfMgrOpenProtected(volumeName);
    if (volume == INVALID_HANDLE_VALUE) {
        Trace("EwfMgrOpenProtected failed LE = %u\n", GetLastError());
        return TRUE;
    }
    PEWF_VOLUME_CONFIG config = EwfMgrGetProtectedVolumeConfig(volume);
    BOOL enabled = TRUE;
    if (config == nullptr) {
        Trace("EwfMgrGetProtectedVolumeConfig failed LE = %u\n", GetLastError());
    } else {
        enabled = config->State != EWF_DISABLED;
        LocalFree(config);
    }
    EwfMgrClose(volume);
    return enabled;
}

ResultCode CommitAndReenableAll()
{
    PEWF_VOLUME_NAME_ENTRY list = EwfMgrGetProtectedVolumeList();
    if (list == nullptr) {
        ResultCode code = GetLastError();
        Trace("EwfMgrGetProtectedVolumeList failed LE = %u\n", code);
        return code;
    }
    // Each protected volume is enabled even when its commit failed, and one
    // bad volume must not keep the others' overlays in RAM.
    while (!EwfMgrVolumeNameListIsEmpty(list)) {
        if (OverlayEnabled(list->Name)) {
            CommitAndDisableVolume(list->Name);
            EnableVolume(list->Name, FALSE);
        } else {
            Trace("%s: protection is off, left as it is\n", list->Name);
        }
        EwfMgrVolumeNameEntryPop(&list);
    }
    if (list != nullptr) {
        EwfMgrVolumeNameListDelete(list);
    }
    return 0;
}

ResultCode RestartSystem()
{
    HANDLE token = INVALID_HANDLE_VALUE;
    TOKEN_PRIVILEGES privileges;
    ResultCode result = 0;

    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;

    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        result = GetLastError();
        // Whatever a failed open left in the variable is no handle of ours.
        token = INVALID_HANDLE_VALUE;
    } else if (!LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege",
                                      &privileges.Privileges[0].Luid) ||
               !AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) ||
               !ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) {
        // The first step that failed set the last error.
        result = GetLastError();
    }

    if (token != INVALID_HANDLE_VALUE) {
        CloseHandle(token);
    }
    return result;
}
