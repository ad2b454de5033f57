// Which EWFAPI.dll the watchdog will get, and whether it has every call the
// watchdog imports: read from the file's bytes, so that nothing of a library
// someone may have planted runs in this elevated process.
#include "check/library.h"

#include "check/check.h"
#include "check/optional.h"
#include "check/pe.h"
#include "platform/advapi32.h"

HMODULE EwfApiModule = nullptr;

#define EWF_IMPORTED(returns, name, ...) #name,
#define EWF_READ EWF_IMPORTED
#define EWF_WRITE EWF_IMPORTED
const char *const WatchdogEwfCalls[EwfCallCount] = {
#include "platform/ewfapi_calls.h"
};
#undef EWF_IMPORTED

static const char LibraryName[] = "EWFAPI.dll";
// The real library is tens of KiB; a file past this is no library of it.
#define LIBRARY_MAX_SIZE (4u << 20)

// Whether the watchdog can start with the library at `path` (`shown` in the
// report), and whether any call it imports would load another library.
static void ReportCalls(const SystemFacts *system, const char *path, const char *shown, BOOL quiet)
{
    DWORD size = 0;
    DWORD error = 0;
    BYTE *file = ReadWholeFile(path, LIBRARY_MAX_SIZE, &size, &error);
    if (file == nullptr) {
        Say(LevelProblem, "library.calls", "%s: cannot be read (error %u)", shown, error);
        return;
    }
    ExportTable table;
    const char *malformed = OpenExports(file, size, &table);
    DWORD bad = 0;
    if (malformed != nullptr) {
        ++bad;
        Say(LevelProblem, "library.calls", "%s: %s: Windows will refuse to start the watchdog",
            shown, malformed);
    }
    for (DWORD i = 0; malformed == nullptr && i < EwfCallCount; ++i) {
        char target[96];
        ExportKind kind = FindExport(&table, WatchdogEwfCalls[i], target, sizeof target);
        if (kind == ExportMissing) {
            ++bad;
            // The XP-era libraries without the live commit are XP Embedded's
            // before SP2 with Feature Pack 2007. WEPOS and POSReady 2009 also
            // say 5.1 and have no such documented path.
            Say(LevelProblem, "library.calls",
                "%s is missing: Windows will refuse to start the watchdog%s", WatchdogEwfCalls[i],
                system->major == 5 && system->minor == 1
                    ? " (XP Embedded: SP2 and Feature Pack 2007; WEPOS, POSReady 2009: a newer "
                      "write filter from the image's maker)"
                    : "");
        } else if (kind == ExportForwarded) {
            ++bad;
            DWORD dot = 0;
            while (target[dot] != '\0' && target[dot] != '.') {
                ++dot;
            }
            target[dot] = '\0';
            Say(LevelProblem, "library.calls",
                "%s forwards elsewhere: would load %s.dll, whose code runs with the watchdog's "
                "rights; replace %s",
                WatchdogEwfCalls[i], target, shown);
        }
    }
    if (bad == 0 && !quiet) {
        Say(LevelOk, "library.calls", "all %u write filter calls the watchdog imports are there",
            (DWORD)EwfCallCount);
    }
    LocalFree(file);
}

// The system folder that a program of `machine` searches, by the name that
// program would see (`named`) and by a path this check reads it through
// (`readable`): a 32-bit process on 64-bit Windows is shown SysWOW64 under
// the name system32, and reaches the real one only as Sysnative.
void SystemFolder(const SystemFacts *system, WORD machine, char *named, char *readable)
{
    UINT length = GetSystemDirectoryA(named, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        CopyText(named, MAX_PATH, "the system folder");
    }
    CopyText(readable, MAX_PATH, named);
    if (!system->is64) {
        return;
    }
    if (machine == MACHINE_X86) {
        auto wow64Folder = LOOKED_UP(GetSystemWow64DirectoryA);
        length = wow64Folder != nullptr ? wow64Folder(named, MAX_PATH) : 0;
        if (length > 0 && length < MAX_PATH) {
            CopyText(readable, MAX_PATH, named);
        }
    } else if (system->own == MACHINE_X86) {
        DWORD name = Length(readable);
        while (name > 0 && readable[name - 1] != '\\') {
            --name;
        }
        readable[name] = '\0';
        Text sysnative;
        Clear(&sysnative);
        Format(&sysnative, "%sSysnative", readable);
        CopyText(readable, MAX_PATH, sysnative.chars);
    }
}

// No library where the watchdog looks: the driver may be there all the same,
// in an image built without the library's component.
static void ReportNoLibrary(const char *folder)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Ewf", 0,
                      KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        Say(LevelProblem, "library",
            "no %s beside the watchdog or in %s, though the write filter's driver is installed: "
            "add the Enhanced Write Filter API component to the image; the watchdog cannot "
            "start without it",
            LibraryName, folder);
        return;
    }
    Say(LevelProblem, "library",
        "no %s beside the watchdog or in %s: the write filter is not installed and the "
        "watchdog cannot start",
        LibraryName, folder);
}

BOOL ReportLibrary(const Facts *facts, BOOL quiet)
{
    const Target *target = &facts->target;
    char named[MAX_PATH];
    char readable[MAX_PATH];
    char beside[MAX_PATH];
    char system[MAX_PATH];
    char systemRead[MAX_PATH];
    SystemFolder(&facts->system, target->machine, named, readable);
    BOOL hasBeside = JoinPath(beside, target->folder, LibraryName) && IsFile(beside);
    BOOL hasSystem = JoinPath(system, named, LibraryName) &&
                     JoinPath(systemRead, readable, LibraryName) && IsFile(systemRead);

    if (hasBeside) {
        // Whoever could put it there runs code with the watchdog's rights.
        Say(LevelProblem, "library",
            "%s: a copy beside the watchdog, loaded instead of the system's; delete it", beside);
        ReportCalls(&facts->system, beside, beside, quiet);
    } else if (hasSystem) {
        if (!quiet) {
            Say(LevelOk, "library", "%s", system);
        }
        ReportCalls(&facts->system, systemRead, system, quiet);
    } else {
        ReportNoLibrary(named);
        return FALSE;
    }

    // The volumes are read through the system's library of this check's own
    // architecture, which talks to the same driver; by full path, with its
    // own dependencies searched beside it rather than beside the check.
    char own[MAX_PATH];
    char ownLibrary[MAX_PATH];
    SystemFolder(&facts->system, facts->system.own, named, own);
    if (!JoinPath(ownLibrary, own, LibraryName)) {
        return FALSE;
    }
    EwfApiModule = LoadLibraryExA(ownLibrary, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (EwfApiModule == nullptr) {
        Say(LevelProblem, "library.read", "%s: cannot be loaded (error %u), so no volume is read",
            ownLibrary, GetLastError());
        return FALSE;
    }
    if (hasBeside || !SameName(ownLibrary, systemRead)) {
        Say(LevelNote, "library.read", "volumes read through %s", ownLibrary);
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
