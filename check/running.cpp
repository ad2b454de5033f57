// Whether the watchdog runs now, as what, with which rights and where.
#include "check/check.h"
#include "check/optional.h"
#include "platform/advapi32.h"

// The watchdogs looked at one by one; more are only counted.
#define PROCESSES_SEEN 16

// The file a process was started from. XP has no call for it: there the
// first module of a module snapshot is the executable, which a process of
// one bitness cannot take of a process of the other.
static void ReportProcessPath(const Facts *facts, DWORD id, HANDLE process, DWORD openError)
{
    const SystemFacts *system = &facts->system;
    char path[MAX_PATH];
    DWORD error = openError;
    BOOL read = FALSE;
    if (system->major >= 6) {
        auto query = LOOKED_UP(QueryFullProcessImageNameA);
        DWORD size = MAX_PATH;
        read = process != nullptr && query != nullptr && query(process, 0, path, &size);
        if (process != nullptr) {
            error = query == nullptr ? ERROR_PROC_NOT_FOUND : GetLastError();
        }
    } else {
        auto isWow64 = LOOKED_UP(IsWow64Process);
        BOOL wow64 = FALSE;
        if (system->is64 && process != nullptr && isWow64 != nullptr && isWow64(process, &wow64) &&
            wow64 != (system->own == MACHINE_X86)) {
            Say(LevelNote, "running.path",
                "%u: its path cannot be read here: a %s process, and this check is %s; the %s "
                "check can read it",
                id, wow64 ? "32-bit" : "64-bit", wow64 ? "64-bit" : "32-bit",
                wow64 ? "x86" : "x64");
            return;
        }
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
        MODULEENTRY32 module;
        module.dwSize = sizeof module;
        read = snapshot != INVALID_HANDLE_VALUE && Module32First(snapshot, &module);
        error = GetLastError();
        if (snapshot != INVALID_HANDLE_VALUE) {
            CloseHandle(snapshot);
        }
        module.szExePath[MAX_PATH - 1] = '\0';
        read = read && CopyText(path, MAX_PATH, module.szExePath);
    }
    if (!read) {
        Say(LevelNote, "running.path", "%u: its path cannot be read (error %u)", id, error);
    } else if (!SameName(path, facts->target.path)) {
        // Another copy reads another profile, and may be another version.
        Say(LevelWarning, "running.path",
            "%u: %s, another file than the one checked (%s): end it and start the one checked, "
            "or check that one",
            id, path, facts->target.path);
    } else {
        Say(LevelOk, "running.path", "%u: %s", id, path);
    }
}

// Whether the token holds Administrators enabled: without it the write
// filter refuses the watchdog every volume, and it measures 0 for ever.
static void ReportProcessRights(const SystemFacts *system, DWORD id, HANDLE process,
                                DWORD openError)
{
    const char *refusing = "OpenProcess";
    DWORD error = openError;
    HANDLE token = nullptr;
    BOOL opened = FALSE;
    BYTE *groups = nullptr;
    DWORD size = 0;
    if (process != nullptr) {
        refusing = "OpenProcessToken";
        opened = OpenProcessToken(process, TOKEN_QUERY, &token);
        error = GetLastError();
    }
    if (opened) {
        refusing = "GetTokenInformation";
        // Asked first for the size the groups take.
        GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
        groups = size > 0 ? (BYTE *)LocalAlloc(LMEM_FIXED, size) : nullptr;
        error = GetLastError();
        if (groups != nullptr && !GetTokenInformation(token, TokenGroups, groups, size, &size)) {
            error = GetLastError();
            LocalFree(groups);
            groups = nullptr;
        }
        CloseHandle(token);
    }
    if (groups == nullptr) {
        Say(LevelNote, "running.rights", "%u: its rights cannot be read: %s failed (error %u)", id,
            refusing, error);
        return;
    }
    const TOKEN_GROUPS *list = (const TOKEN_GROUPS *)groups;
    const SID_AND_ATTRIBUTES *entries = list->Groups;
    const char *without = "not in Administrators";
    // Only as many entries as the bytes given hold.
    for (DWORD i = 0; i < list->GroupCount && (const BYTE *)(entries + i + 1) <= groups + size;
         ++i) {
        if (SidIs(entries[i].Sid, SidAdministrators)) {
            DWORD attributes = entries[i].Attributes;
            without = (attributes & SE_GROUP_USE_FOR_DENY_ONLY) != 0
                          ? "Administrators for deny only: a filtered token"
                      : (attributes & SE_GROUP_ENABLED) == 0 ? "Administrators not enabled"
                                                             : nullptr;
        }
    }
    LocalFree(groups);
    if (without == nullptr) {
        Say(LevelOk, "running.rights", "%u: Administrators enabled in its token", id);
    } else {
        // XP-era systems have no elevation: only the account decides.
        Say(LevelProblem, "running.rights",
            "%u: runs without administrative rights (%s): measures 0; start it %s", id, without,
            system->major >= 6 ? "elevated" : "from an administrator account");
    }
}

// The warning shows in the watchdog's own session: in another one nobody at
// the machine sees it or can press OK.
static void ReportProcessSession(DWORD id, DWORD console)
{
    DWORD session = 0;
    if (!ProcessIdToSessionId(id, &session)) {
        Say(LevelNote, "running.session", "%u: its session cannot be read (error %u)", id,
            GetLastError());
    } else if (console == NO_CONSOLE_SESSION) {
        Say(LevelNote, "running.session",
            "%u: session %u; no session is at the console now, so whether its warning is seen "
            "cannot be told",
            id, session);
    } else if (session != console) {
        // Another user's session, as Fast User Switching leaves it, or
        // session 0: the task's IgnoreNew starts no second copy meanwhile.
        Say(LevelWarning, "running.session",
            "%u: session %u, not the console's session %u: its warning is shown where nobody "
            "looks; log that user off, or restart",
            id, session, console);
    } else {
        Say(LevelOk, "running.session", "%u: session %u, the console's", id, session);
    }
}

BOOL ReportRunning(Facts *facts)
{
    const Target *target = &facts->target;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        Say(LevelWarning, "running", "the process list cannot be read (error %u)", GetLastError());
        return TRUE;
    }
    PROCESSENTRY32 process;
    DWORD seen[PROCESSES_SEEN];
    process.dwSize = sizeof process;
    DWORD found = 0;
    Text ids;
    Clear(&ids);
    for (BOOL more = Process32First(snapshot, &process); more;
         more = Process32Next(snapshot, &process)) {
        process.szExeFile[MAX_PATH - 1] = '\0';
        if (SameName(process.szExeFile, target->name)) {
            Format(&ids, found == 0 ? "%u" : ", %u", process.th32ProcessID);
            if (found < PROCESSES_SEEN) {
                seen[found] = process.th32ProcessID;
            }
            ++found;
        }
    }
    CloseHandle(snapshot);
    facts->runningCopies = found;
    if (found == 0) {
        Say(LevelWarning, "running",
            "%s is not running: log on again, or start it as it starts at log-on", target->name);
        return TRUE;
    }
    if (found == 1) {
        Say(LevelOk, "running", "%s is running, process id %s", target->name, ids.chars);
    } else {
        // Each copy shows its own warning and makes its own pass.
        Say(LevelWarning, "running",
            "%s is running %u times, process ids %s: each shows its own warning and makes its "
            "own pass; keep one start and end the others",
            target->name, found, ids.chars);
    }
    if (facts->written) {
        Say(LevelNote, "running.acted",
            "a protected volume is off until the next boot: the watchdog has written back and "
            "waits only for OK on its warning; press OK, then restart");
    }
    DWORD console;
    DWORD ownSession;
    if (!AtConsole(&console, &ownSession) && console != NO_CONSOLE_SESSION) {
        Say(LevelNote, "running.session", "this check is in session %u, the console in %u",
            ownSession, console);
    }
    for (DWORD i = 0; i < found && i < PROCESSES_SEEN; ++i) {
        // XP-era systems lack the limited right; it is enough from 6.0 on.
        HANDLE opened = OpenProcess(facts->system.major >= 6 ? PROCESS_QUERY_LIMITED_INFORMATION
                                                             : PROCESS_QUERY_INFORMATION,
                                    FALSE, seen[i]);
        DWORD openError = opened == nullptr ? GetLastError() : 0;
        ReportProcessPath(facts, seen[i], opened, openError);
        ReportProcessRights(&facts->system, seen[i], opened, openError);
        ReportProcessSession(seen[i], console);
        if (opened != nullptr) {
            CloseHandle(opened);
        }
    }
    return TRUE;
}
