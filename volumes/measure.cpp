// The measurement: the only write filter calls that change nothing, so the
// installation check links this file and nothing else of volumes/.
#include "volumes/volumes.h"

#include "platform/ewfapi.h"

// The first failure's code is the one returned.
static void KeepFirst(ResultCode code, ResultCode *result, BOOL *failed)
{
    if (!*failed) {
        *result = code;
        *failed = TRUE;
    }
}

ResultCode SumRamDataSize()
{
    PEWF_VOLUME_NAME_ENTRY list = nullptr;
    HANDLE volume = INVALID_HANDLE_VALUE;
    // A handle whose close failed is still ours: it is closed once more
    // before another takes its place, or in clean-up.
    HANDLE unclosed = INVALID_HANDLE_VALUE;
    PEWF_VOLUME_CONFIG config = nullptr;
    const char *failure = nullptr;
    WCHAR driveLetter = 0;
    ResultCode result = 0;
    BOOL failed = FALSE;

    list = EwfMgrGetProtectedVolumeList();
    if (list == nullptr) {
        result = GetLastError();
        Trace("EwfMgrGetProtectedVolumeList failed LE = %u\n", result);
        goto Cleanup;
    }

    // The list may hold volumes without a letter and volumes the filter does
    // not protect: one that cannot be opened or read is skipped, so that it
    // never hides the overlays of the volumes after it.
    for (; !EwfMgrVolumeNameListIsEmpty(list); EwfMgrVolumeNameEntryPop(&list)) {
        // The letter only labels the trace.
        driveLetter = EwfMgrGetDriveLetterFromVolumeName(list->Name);
        if (driveLetter == EWF_NO_DRIVE_LETTER) {
            driveLetter = '?';
        }
        Trace("%c: = %s\n", driveLetter, list->Name);

        // The failure's trace names the call that failed; none when the
        // record was read.
        volume = EwfMgrOpenProtected(list->Name);
        failure = "EwfMgrOpenProtected failed LE = %u\n";
        if (volume != INVALID_HANDLE_VALUE) {
            config = EwfMgrGetProtectedVolumeConfig(volume);
            failure = "EwfMgrGetProtectedVolumeConfig failed LE = %u\n";
        }
        if (config != nullptr) {
            // Wraps like the 64-bit register sum it stands for, never as
            // undefined signed overflow.
            TotalRamDataSize =
                (LONGLONG)((ULONGLONG)TotalRamDataSize + (ULONGLONG)config->RamOverlay.RamDataSize);
            LocalFree(config);
            config = nullptr;
        } else {
            ResultCode code = GetLastError();
            Trace(failure, code);
            KeepFirst(code, &result, &failed);
        }

        if (volume != INVALID_HANDLE_VALUE && !EwfMgrClose(volume)) {
            ResultCode code = GetLastError();
            Trace("EwfMgrClose failed LE = %u\n", code);
            KeepFirst(code, &result, &failed);
            if (unclosed != INVALID_HANDLE_VALUE) {
                EwfMgrClose(unclosed);
            }
            unclosed = volume;
        }
    }

Cleanup:
    if (list != nullptr) {
        EwfMgrVolumeNameListDelete(list);
        list = nullptr;
    }
    if (unclosed != INVALID_HANDLE_VALUE) {
        EwfMgrClose(unclosed);
    }
    return result;
}
