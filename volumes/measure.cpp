// The measurement: the only write filter calls that change nothing, so the
// installation check links this file and nothing else of volumes/.
#include "volumes/volumes.h"

#include "platform/ewfapi.h"

ResultCode SumRamDataSize()
{
    PEWF_VOLUME_NAME_ENTRY list = nullptr;
    HANDLE volume = INVALID_HANDLE_VALUE;
    PEWF_VOLUME_CONFIG config = nullptr;
    WCHAR driveLetter = 0;
    ResultCode result = 0;

    list = EwfMgrGetProtectedVolumeList();
    if (list == nullptr) {
        result = GetLastError();
        Trace("EwfMgrGetProtectedVolumeList failed LE = %u\n", result);
        goto Cleanup;
    }

    while (!EwfMgrVolumeNameListIsEmpty(list)) {
        // The letter only labels the trace, but a volume the library cannot
        // name is not one to trust with the rest of the walk.
        driveLetter = EwfMgrGetDriveLetterFromVolumeName(list->Name);
        if (driveLetter == EWF_NO_DRIVE_LETTER) {
            result = GetLastError();
            Trace("EwfMgrGetDriveLetterFromVolumeName failed LE = %u\n", result);
            goto Cleanup;
        }
        Trace("%c: = %s\n", driveLetter, list->Name);

        volume = EwfMgrOpenProtected(list->Name);
        if (volume == INVALID_HANDLE_VALUE) {
            result = GetLastError();
            Trace("EwfMgrOpenProtected failed LE = %u\n", result);
            goto Cleanup;
        }

        config = EwfMgrGetProtectedVolumeConfig(volume);
        if (config == nullptr) {
            result = GetLastError();
            Trace("EwfMgrGetProtectedVolumeConfig failed LE = %u\n", result);
            goto Cleanup;
        }
        // Wraps like the 64-bit register sum it stands for, never as
        // undefined signed overflow.
        TotalRamDataSize =
            (LONGLONG)((ULONGLONG)TotalRamDataSize + (ULONGLONG)config->RamOverlay.RamDataSize);
        LocalFree(config);
        config = nullptr;

        // A handle whose close failed is still ours: clean-up tries again.
        if (!EwfMgrClose(volume)) {
            result = GetLastError();
            Trace("EwfMgrClose failed LE = %u\n", result);
            goto Cleanup;
        }
        volume = INVALID_HANDLE_VALUE;
        EwfMgrVolumeNameEntryPop(&list);
    }

Cleanup:
    if (list != nullptr) {
        EwfMgrVolumeNameListDelete(list);
        list = nullptr;
    }
    if (volume != INVALID_HANDLE_VALUE) {
        EwfMgrClose(volume);
    }
    return result;
}
