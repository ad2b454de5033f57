// Which EWFAPI.dll the watchdog will get, and whether it has every call the
// watchdog imports.
#include "check/library.h"

#include "check/check.h"

HMODULE EwfApiModule = nullptr;

const char *const WatchdogEwfCalls[EWFAPI_CALL_COUNT] = {
    "EwfMgrClose",
    "EwfMgrCommitAndDisableLive",
    "EwfMgrEnable",
    "EwfMgrGetDriveLetterFromVolumeName",
    "EwfMgrGetProtectedVolumeConfig",
    "EwfMgrGetProtectedVolumeList",
    "EwfMgrOpenProtected",
    "EwfMgrVolumeNameEntryPop",
    "EwfMgrVolumeNameListDelete",
    "EwfMgrVolumeNameListIsEmpty",
};

static const char LibraryName[] = "EWFAPI.dll";

static void ReportMissingCalls(HMODULE library, BOOL quiet)
{
    DWORD missing = 0;
    for (const char *call : WatchdogEwfCalls) {
        if (GetProcAddress(library, call) == nullptr) {
            ++missing;
            Say(LevelProblem, "library.calls",
                "%s is missing: Windows will refuse to start the watchdog (XP Embedded needs SP2 "
                "and Feature Pack 2007)",
                call);
        }
    }
    if (missing == 0 && !quiet) {
        Say(LevelOk, "library.calls", "all 10 write filter calls the watchdog imports are there");
    }
}

BOOL ReportLibrary(const Target *target, BOOL quiet)
{
    char beside[MAX_PATH];
    char system[MAX_PATH];
    char folder[MAX_PATH];

    BOOL hasBeside = JoinPath(beside, target->folder, LibraryName) && IsFile(beside);
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        CopyText(folder, MAX_PATH, "the system folder");
    }
    BOOL hasSystem = JoinPath(system, folder, LibraryName) && IsFile(system);

    if (hasBeside) {
        // Whoever could put it there runs code with the watchdog's rights.
        // Look at its exports without letting any of its code run here too.
        Say(LevelProblem, "library",
            "%s: a copy beside the watchdog, loaded instead of the system's; delete it", beside);
        HMODULE copy = LoadLibraryExA(beside, nullptr, DONT_RESOLVE_DLL_REFERENCES);
        if (copy != nullptr) {
            ReportMissingCalls(copy, quiet);
            FreeLibrary(copy);
        }
        if (!hasSystem) {
            return FALSE;
        }
        Say(LevelNote, "library.read", "volumes read through %s", system);
    } else if (!hasSystem) {
        Say(LevelProblem, "library",
            "no %s beside the watchdog or in %s: the write filter library is missing and the "
            "watchdog cannot start",
            LibraryName, folder);
        return FALSE;
    }

    EwfApiModule = LoadLibraryExA(system, nullptr, 0);
    if (EwfApiModule == nullptr) {
        Say(LevelProblem, "library", "%s: cannot be loaded (error %u)", system, GetLastError());
        return FALSE;
    }
    if (!hasBeside) {
        char loaded[MAX_PATH];
        DWORD got = GetModuleFileNameA(EwfApiModule, loaded, MAX_PATH);
        if (got > 0 && got < MAX_PATH) {
            loaded[got] = '\0';
        } else {
            CopyText(loaded, MAX_PATH, system);
        }
        if (!quiet) {
            Say(LevelOk, "library", "%s", loaded);
        }
        ReportMissingCalls(EwfApiModule, quiet);
    }
    return TRUE;
}

void UnloadLibrary()
{
    if (EwfApiModule != nullptr) {
        FreeLibrary(EwfApiModule);
        EwfApiModule = nullptr;
    }
}
