// The watchdog's executable: where it is, and whether this Windows can
// start it.
#include "check/check.h"
#include "check/pe.h"

static const char ShippedName[] = "tovrin.exe";

static const char CannotRead[] = "%s: cannot be read (error %u)";

static DWORD FileNameAt(const char *path, DWORD length)
{
    while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/') {
        --length;
    }
    return length;
}

BOOL DefaultTargetPath(char *path)
{
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        Say(LevelProblem, "watchdog", "the check's own path cannot be read: give the watchdog's");
        return FALSE;
    }
    DWORD name = FileNameAt(path, length);
    if (!CopyText(path + name, MAX_PATH - name, ShippedName)) {
        Say(LevelProblem, "watchdog", TOO_LONG);
        return FALSE;
    }
    return TRUE;
}

BOOL ResolveTarget(const char *given, Target *target)
{
    target->folder[0] = target->name[0] = target->profile[0] = '\0';

    char *filePart = nullptr;
    DWORD length = GetFullPathNameA(given, MAX_PATH, target->path, &filePart);
    if (length == 0) {
        Say(LevelProblem, "watchdog", "the path cannot be resolved (error %u)", GetLastError());
        return FALSE;
    }
    if (length >= MAX_PATH) {
        Say(LevelProblem, "watchdog", TOO_LONG);
        return FALSE;
    }
    DWORD name = FileNameAt(target->path, length);
    CopyText(target->name, MAX_PATH, target->path + name);
    CopyText(target->folder, MAX_PATH, target->path);
    target->folder[name > 0 ? name - 1 : 0] = '\0';
    return TRUE;
}

static const char *MachineName(WORD machine)
{
    return machine == MACHINE_X86 ? "x86" : machine == MACHINE_X64 ? "x64" : "?";
}

BOOL ReportWatchdogFile(Facts *facts)
{
    Target *target = &facts->target;
    DWORD attributes = GetFileAttributesA(target->path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            Say(LevelProblem, "watchdog",
                "%s: not found; give the watchdog's path: tovrin-check.exe PATH", target->path);
        } else {
            Say(LevelProblem, "watchdog", CannotRead, target->path, error);
        }
        return FALSE;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        Say(LevelProblem, "watchdog", "%s: a folder, not the watchdog's executable", target->path);
        return FALSE;
    }
    BYTE header[4096];
    DWORD got = 0;
    DWORD error = 0;
    if (!ReadInto(target->path, header, sizeof header, &got, &error)) {
        Say(LevelProblem, "watchdog", CannotRead, target->path, error);
        return FALSE;
    }
    target->machine = MachineAt(header, got);
    const char *name = MachineName(target->machine);
    if (target->machine != MACHINE_X86 && target->machine != MACHINE_X64) {
        Say(LevelProblem, "watchdog", "%s: %s", target->path,
            target->machine == 0 ? "not a Windows executable" : "built for neither x86 nor x64");
        return FALSE;
    }
    if (target->machine == MACHINE_X64 && !facts->system.is64) {
        Say(LevelProblem, "watchdog",
            "%s, x64: 32-bit Windows cannot start it; use x86\\tovrin.exe", target->path);
    } else if (target->machine == MACHINE_X86 && facts->system.is64) {
        Say(LevelWarning, "watchdog",
            "%s, x86: 64-bit Windows runs it as 32-bit; x64\\tovrin.exe suits this system",
            target->path);
    } else {
        Say(LevelOk, "watchdog", "%s, %s", target->path, name);
    }

    return TRUE;
}
