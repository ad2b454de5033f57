// How the watchdog will start at the next log-on: Run values, the Winlogon
// shell, Startup shortcuts and scheduled tasks, read where Windows keeps them
// and never changed. One line a start found.
#include "check/bytes.h"
#include "check/check.h"

#include "check/startfiles.h"
#include "platform/advapi32.h"

StartPlace Starts[MAX_STARTS];
DWORD StartCount = 0;

static const char Recreate[] = "recreate it: schtasks /Create /TN Tovrin /XML tovrin-task.xml /F";

// What every start shares: the machine's shell, whether User Account Control
// filters what Explorer starts, and the starts counted so far.
static struct {
    char shell[MAX_PATH];
    BOOL filtered;
    char systemDrive;
    DWORD counted;
    // The Startup folder being walked: whose, and the shell its user gets.
    const char *sid; // "" for the machine's
    const char *userShell;
    // Who logs on ("" when nobody is known), and whether a place that
    // could hold a start was not read.
    Text account;
    BOOL unread;
} Scene;

struct StartLine {
    Text head;
    Text clauses;
    Level level;
};
// One start's line at a time; kept off the stack, which has no probe for
// frames past a page here.
static StartLine Line;
static Text Where;
// The file being read, or the registry value.
static BYTE FileBytes[TASK_FILE_MAX + 1];

static void Clause(Level level, const char *pattern, ...)
{
    Append(&Line.clauses, Line.clauses.length > 0 ? "; " : ": ");
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(&Line.clauses, pattern, arguments);
    va_end(arguments);
    Line.level = level > Line.level ? level : Line.level;
}

// A start's line begins with where it is and what it starts; `kept` (a file,
// or a registry key on the system volume) is remembered for ReportPersist.
static void BeginStart(const Target *target, const char *where, const char *program,
                       const char *kept, ULONGLONG written)
{
    Clear(&Line.head);
    Clear(&Line.clauses);
    Line.level = LevelOk;
    Format(&Line.head, "%s: %s", where, program);
    if (!SameName(program, target->path)) {
        Clause(LevelWarning, "another file than %s: point it at the checked one", target->path);
    }
    if (StartCount < MAX_STARTS) {
        StartPlace *place = &Starts[StartCount++];
        CopyText(place->where, MAX_PATH, kept);
        place->drive = kept[1] == ':' ? kept[0] : Scene.systemDrive;
        place->written = written;
    }
}

static void EndStart(BOOL counts, const char *good)
{
    Scene.counted += counts;
    Append(&Line.head, Line.clauses.length > 0 ? Line.clauses.chars : good);
    Finding(Line.level, "start", &Line.head);
}

static BOOL IsWatchdog(const Target *target, const char *program)
{
    return SameName(FileNameOf(program), target->name);
}

// A place that could hold a start and was not read, from a prompt that is
// not elevated as a rule: nothing found cannot then mean nothing there.
static void Unread(const char *place, DWORD error)
{
    Scene.unread = TRUE;
    Say(LevelNote, "start", "%s: cannot be read (error %u)", place, error);
}

// ---- the registry ----

// HKLM's own view of the machine's keys, which a 32-bit check on 64-bit
// Windows would otherwise see through Wow6432Node.
static REGSAM Native(BOOL machine)
{
    return machine && TheSystem.is64 ? KEY_WOW64_64KEY : 0;
}

// The last key OpenUnder named, "HKLM\..." or "HKU\SID\...", and why it
// did not open.
static Text KeyPath;
static LONG OpenError;

// Opens, for reading, `rest` `more` under the CurrentVersion key of Windows
// (`nt`: of Windows NT) in the machine's hive (`sid` "") or a user's.
static HKEY OpenUnder(const char *sid, BOOL nt, const char *rest, const char *more = "",
                      REGSAM view = 0)
{
    HKEY root = sid[0] != '\0' ? HKEY_USERS : HKEY_LOCAL_MACHINE;
    Clear(&KeyPath);
    Format(&KeyPath, "%s%s\\Software\\Microsoft\\Windows%s\\CurrentVersion\\%s%s",
           sid[0] != '\0' ? "HKU\\" : "HKLM", sid, nt ? " NT" : "", rest, more);
    HKEY key = nullptr;
    OpenError = RegOpenKeyExA(root, KeyPath.chars + (sid[0] != '\0' ? 4 : 5), 0,
                              KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS |
                                  (view != 0 ? view : Native(root == HKEY_LOCAL_MACHINE)),
                              &key);
    return OpenError == ERROR_SUCCESS ? key : nullptr;
}

// A string value with its %variables% expanded, a leading %USERPROFILE%
// by `profile` when given (another user's, not this check's); FALSE when
// there is none that fits a path.
static BOOL ReadString(HKEY key, const char *name, char *value, const char *profile = nullptr)
{
    char raw[MAX_PATH];
    DWORD type = 0;
    DWORD size = sizeof raw - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)raw, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return FALSE;
    }
    // The registry keeps whatever was stored: no terminator is promised.
    raw[size] = '\0';
    if (profile != nullptr && HoldsName(raw, 13, "%USERPROFILE%")) {
        static Text Joined;
        Clear(&Joined);
        Format(&Joined, "%s%s", profile, raw + 13);
        CopyText(raw, MAX_PATH, Joined.chars);
    }
    if (type == REG_SZ) {
        return CopyText(value, MAX_PATH, raw);
    }
    DWORD length = ExpandEnvironmentStringsA(raw, value, MAX_PATH);
    return length > 0 && length <= MAX_PATH;
}

static BOOL IsExplorer(const char *shell)
{
    char program[MAX_PATH];
    ProgramOf(shell, program);
    return program[0] == '\0' || SameName(FileNameOf(program), "explorer.exe");
}

// Explorer alone starts Run values and Startup shortcuts, and with User
// Account Control on it gives them a filtered token.
static void ExplorerClauses(const char *shell)
{
    if (!IsExplorer(shell)) {
        Clause(LevelProblem,
               "the shell is %s, not Explorer, so this starts nothing; start it by a task", shell);
    } else if (Scene.filtered) {
        Clause(LevelProblem,
               "User Account Control gives it a filtered token: it measures 0; start it by the "
               "task tovrin-task.xml");
    }
}

// Task Manager (from Windows 8) turns a Run value or Startup shortcut off
// without removing it: a binary value of its name whose first byte is odd.
static void Approval(const char *sid, const char *list, const char *name)
{
    HKEY key = OpenUnder(sid, FALSE, "Explorer\\StartupApproved\\", list);
    if (key == nullptr) {
        return;
    }
    BYTE data[16];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size > 0 && (data[0] & 1) != 0) {
        Clause(LevelProblem, "turned off in Task Manager's Startup list: turn it on there");
    }
    RegCloseKey(key);
}

// Run values of the machine (`sid` ""), in one registry view, or of a user.
static void RunValues(const Target *target, const char *sid, REGSAM view, const char *shell)
{
    HKEY key = OpenUnder(sid, FALSE, "Run", "", view);
    if (key == nullptr) {
        if (OpenError != ERROR_FILE_NOT_FOUND) {
            Unread(KeyPath.chars, (DWORD)OpenError);
        }
        return;
    }
    char kept[MAX_PATH];
    CopyText(kept, MAX_PATH, KeyPath.chars);
    // 0 stands for a time not read, so a time read is never 0.
    FILETIME written = {0, 0};
    ULONGLONG time = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS
                         ? Time(&written) | 1
                         : 0;
    BOOL view32 = view == KEY_WOW64_32KEY;
    for (DWORD i = 0; i < 512; ++i) {
        // Files are not read meanwhile: their buffer holds the value.
        char *value = (char *)FileBytes;
        char valueName[128];
        DWORD nameSize = sizeof valueName;
        DWORD size = TASK_FILE_MAX;
        DWORD type = 0;
        LONG result = RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type, FileBytes, &size);
        if (result == (LONG)ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result == (LONG)ERROR_MORE_DATA) {
            Say(LevelNote, "start", "%s: a value too large, not read", kept);
        }
        if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            continue;
        }
        // The registry keeps whatever was stored: no terminator is promised.
        value[size] = '\0';
        char program[MAX_PATH];
        char expanded[MAX_PATH];
        ProgramOf(value, program);
        DWORD length =
            type == REG_EXPAND_SZ ? ExpandEnvironmentStringsA(program, expanded, MAX_PATH) : 0;
        if (length > 0 && length <= MAX_PATH) {
            CopyText(program, MAX_PATH, expanded);
        }
        if (!IsWatchdog(target, program)) {
            continue;
        }
        Clear(&Where);
        Format(&Where, "%s%s Run%s value %s", sid[0] != '\0' ? "HKU\\" : "HKLM", sid,
               view32 ? " (32-bit)" : "", valueName);
        BeginStart(target, Where.chars, program, kept, time);
        Approval(sid, view32 ? "Run32" : "Run", valueName);
        ExplorerClauses(shell);
        EndStart(TRUE, ", at log-on by Explorer");
    }
    RegCloseKey(key);
}

// A string value of a key OpenUnder opens, or `otherwise`.
static void ReadUnder(const char *sid, BOOL nt, const char *rest, const char *more,
                      const char *name, char *value, const char *otherwise,
                      const char *profile = nullptr)
{
    HKEY key = OpenUnder(sid, nt, rest, more);
    if (key == nullptr || !ReadString(key, name, value, profile)) {
        CopyText(value, MAX_PATH, otherwise);
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
}

// Every loaded user hive but the system's own accounts and class stores.
static BOOL IsUserHive(const char *sid)
{
    return sid[0] == 'S' && sid[1] == '-' && !SameName(sid, "S-1-5-18") &&
           !SameName(sid, "S-1-5-19") && !SameName(sid, "S-1-5-20") &&
           !HoldsName(sid, Length(sid), "_Classes");
}

// ---- files ----

static char FileText[TASK_FILE_MAX + 1];

typedef void (*FileVisitor)(const Target *target, const char *path, DWORD size, ULONGLONG written);

#define MAX_FOLDERS 128

// Each file under `base` whose name holds `pattern`, and in its subfolders
// down to `depth` more levels, read into FileBytes for `visit`; `kind`
// formats into Where the path, below `base` when `relative`.
static void WalkFolder(const Target *target, const char *base, BOOL relative, const char *pattern,
                       DWORD depth, const char *kind, FileVisitor visit)
{
    static char Folders[MAX_FOLDERS][MAX_PATH];
    static BYTE Depths[MAX_FOLDERS];
    static WIN32_FIND_DATAA Found;
    DWORD shownAt = relative ? Length(base) : 0;
    DWORD count = CopyText(Folders[0], MAX_PATH, base) ? 1 : 0;
    Depths[0] = (BYTE)depth;
    for (DWORD next = 0; next < count; ++next) {
        char path[MAX_PATH];
        HANDLE find = JoinPath(path, Folders[next], "*") ? FindFirstFileA(path, &Found)
                                                         : INVALID_HANDLE_VALUE;
        DWORD error = GetLastError();
        // A folder that is not there holds no start.
        if (find == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND &&
            error != ERROR_PATH_NOT_FOUND) {
            Unread(Folders[next], error);
        }
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, &Found)) {
            if (Found.cFileName[0] == '.' || !JoinPath(path, Folders[next], Found.cFileName)) {
                continue;
            }
            if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (Depths[next] > 0 && count == MAX_FOLDERS) {
                    Say(LevelNote, "start", "%s: more folders than %u, not read", path,
                        MAX_FOLDERS);
                } else if (Depths[next] > 0) {
                    CopyText(Folders[count], MAX_PATH, path);
                    Depths[count++] = (BYTE)(Depths[next] - 1);
                }
                continue;
            }
            if (!HoldsName(Found.cFileName, Length(Found.cFileName), pattern)) {
                continue;
            }
            ULONGLONG created = Time(&Found.ftCreationTime);
            ULONGLONG written = Time(&Found.ftLastWriteTime);
            DWORD size = 0;
            Clear(&Where);
            Format(&Where, kind, path + shownAt);
            if (!ReadInto(path, FileBytes, TASK_FILE_MAX + 1, &size, &error)) {
                Unread(Where.chars, error);
            } else {
                visit(target, path, size, written > created ? written : created);
            }
        }
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
        }
    }
}

// A start for one account only, which may not be the one that logs on. A
// SID is not compared.
static void ForOne(const char *user)
{
    if (Scene.account.length == 0 || HoldsName(user, 4, "S-1-")) {
        Clause(LevelNote, "starts only for %s", user);
    } else if (!SameName(FileNameOf(user), FileNameOf(Scene.account.chars))) {
        Clause(LevelWarning, "starts only for %s, not %s", user, Scene.account.chars);
    }
}

static void TaskFile(const Target *target, const char *path, DWORD size, ULONGLONG written)
{
    static TaskFacts Task;
    DWORD textLength = 0;
    const char *malformed = ReadTaskFile(FileBytes, size, &Task, FileText, &textLength);
    if (malformed != nullptr) {
        // Whose it is, from its text, or from its bytes where it is not UTF-16.
        if (!HoldsName(FileText, textLength, target->name) &&
            !HoldsName((const char *)FileBytes, size, target->name)) {
            return;
        }
        // Too large is this check's limit, not Task Scheduler's.
        Scene.unread |= size > TASK_FILE_MAX;
        if (size > TASK_FILE_MAX) {
            Say(LevelWarning, "start",
                "%s: too large for this check; see schtasks /Query /TN %s /XML", Where.chars,
                Where.chars + 5);
        } else {
            Say(LevelWarning, "start", "%s: %s, so Task Scheduler cannot run it; %s", Where.chars,
                malformed, Recreate);
        }
        return;
    }
    if (!IsWatchdog(target, Task.command)) {
        return;
    }
    BeginStart(target, Where.chars, Task.command, path, written);
    if (!Task.logon) {
        Clause(LevelWarning, "no log-on trigger");
    }
    if (!Task.enabled) {
        Clause(LevelProblem, "disabled");
    }
    if (!Task.highest) {
        Clause(LevelProblem, "not elevated (RunLevel is not HighestAvailable): it measures 0");
    }
    if (Task.service || !Task.interactive) {
        Clause(LevelProblem, "not in the user's session (%s %s): nobody sees its warning",
               Task.service ? "UserId" : "LogonType", Task.service ? Task.user : Task.logonType);
    } else if (Task.user[0] != '\0') {
        ForOne(Task.user);
    }
    if (!Task.limitRead) {
        Clause(LevelProblem, "ExecutionTimeLimit %s is no duration: set PT0S", Task.limitText);
    } else if (Task.limit != 0) {
        BOOL hours = Task.limit >= 3600;
        Clause(LevelProblem,
               "Task Scheduler stops it %u %s after each log-on (ExecutionTimeLimit %s)",
               (DWORD)Divide(Task.limit, hours ? 3600 : 60), hours ? "hours" : "minutes",
               Task.limitText);
    }
    if (Task.noBatteryStart || Task.batteryStop) {
        Clause(LevelWarning, "%s on batteries",
               Task.noBatteryStart && Task.batteryStop ? "neither started nor kept running"
               : Task.noBatteryStart                   ? "not started"
                                                       : "stopped");
    }
    if (Task.priority >= 7) {
        Clause(LevelWarning, "Priority %u is below normal, slow to react: set 4", Task.priority);
    }
    if (Line.level == LevelProblem) {
        Clause(LevelProblem, Recreate);
    }
    EndStart(Task.logon,
             ", at log-on, elevated, in the user's session, never stopped by Task Scheduler");
}

static void JobFile(const Target *target, const char *path, DWORD size, ULONGLONG written)
{
    static JobFacts Job;
    const char *malformed = size > TASK_FILE_MAX ? "too large" : ReadJobFile(FileBytes, size, &Job);
    if (malformed != nullptr) {
        Say(LevelNote, "start", "%s: %s, not read", Where.chars, malformed);
        return;
    }
    if (!IsWatchdog(target, Job.application)) {
        return;
    }
    BeginStart(target, Where.chars, Job.application, path, written);
    if (!Job.logon) {
        Clause(LevelWarning, "no log-on trigger");
    }
    if ((Job.flags & JOB_DISABLED) != 0) {
        Clause(LevelProblem, "disabled");
    }
    if (Job.maxRunTime != 0xFFFFFFFFu) {
        Clause(LevelProblem,
               "Task Scheduler stops it %u hours after each start: untick \"Stop the task if it "
               "runs for 72 hours\"",
               (DWORD)(Job.maxRunTime / 3600000u));
    }
    if ((Job.flags & (JOB_NO_BATTERY_START | JOB_BATTERY_STOP)) != 0) {
        Clause(LevelWarning, "held back or stopped on batteries");
    }
    EndStart(Job.logon, ", at log-on, never stopped by Task Scheduler");
}

static void LinkFile(const Target *target, const char *path, DWORD size, ULONGLONG written)
{
    char link[MAX_PATH];
    const char *malformed =
        size > TASK_FILE_MAX ? "too large" : ReadShortcut(FileBytes, size, link);
    if (malformed != nullptr) {
        // Most shortcuts are someone else's: only one naming the watchdog is said.
        if (HoldsName((const char *)FileBytes, size, target->name)) {
            Say(LevelNote, "start", "%s: %s, so where it points is not known", Where.chars,
                malformed);
        }
        return;
    }
    if (!IsWatchdog(target, link)) {
        return;
    }
    BeginStart(target, Where.chars, link, path, written);
    Approval(Scene.sid, "StartupFolder", FileNameOf(path));
    ExplorerClauses(Scene.userShell);
    EndStart(TRUE, ", at log-on by Explorer");
}

// The machine's Startup folder (`sid` "") or a user's, as User Shell Folders
// names it.
static void StartupFolder(const Target *target, const char *sid, const char *shell)
{
    char profile[MAX_PATH];
    char folder[MAX_PATH];
    ReadUnder("", TRUE, "ProfileList\\", sid, "ProfileImagePath", profile, "");
    ReadUnder(sid, FALSE, "Explorer\\User Shell Folders", "",
              sid[0] != '\0' ? "Startup" : "Common Startup", folder, "",
              sid[0] != '\0' && profile[0] != '\0' ? profile : nullptr);
    if (folder[0] != '\0') {
        Scene.sid = sid;
        Scene.userShell = shell;
        WalkFolder(target, folder, FALSE, ".lnk", 0, "Startup shortcut %s", LinkFile);
    }
}

// Who logs on: the automatic log-on's account where one is set, otherwise the one at the console
// now, which is this check's own when it runs there. Without Administrators, the kit's task does
// not start for it, and a Run value or shortcut starts the watchdog without rights.
static void LogonAccount()
{
    char value[MAX_PATH];
    char domain[MAX_PATH];
    // Both names at their longest, joined; AppendAccount's 512 too.
    static WCHAR Wide[2 * MAX_PATH];
    Text *name = &Scene.account;
    Clear(name);
    HKEY key = OpenUnder("", TRUE, "Winlogon");
    BOOL automatic = key != nullptr && ReadString(key, "AutoAdminLogon", value) &&
                     SameName(value, "1") && ReadString(key, "DefaultUserName", value);
    if (automatic && !ReadString(key, "DefaultDomainName", domain)) {
        domain[0] = '\0';
    }
    if (key != nullptr) {
        RegCloseKey(key);
    }
    DWORD console;
    DWORD own;
    DWORD member;
    if (automatic) {
        Format(name, domain[0] != '\0' ? "%s\\%s" : "%s%s", domain, value);
        for (DWORD i = 0; i <= name->length; ++i) {
            Wide[i] = (BYTE)name->chars[i];
        }
        member = AdministratorsMembership(Wide);
    } else if (!AtConsole(&console, &own)) {
        Say(LevelNote, "start.account",
            "no automatic log-on, and this check is not at the console: who logs on is not known");
        return;
    } else {
        HANDLE token;
        // TOKEN_USER, then a SID of at most 68 bytes.
        union {
            TOKEN_USER token;
            BYTE bytes[sizeof(TOKEN_USER) + 68];
        } user;
        DWORD size;
        BOOL opened = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
        BOOL read = opened && GetTokenInformation(token, TokenUser, &user, sizeof user, &size);
        member = GetLastError();
        if (opened) {
            CloseHandle(token);
        }
        if (!read) {
            Say(LevelNote, "start.account",
                "no automatic log-on, and the account at the console cannot be read (error %u)",
                member);
            return;
        }
        SID_NAME_USE use;
        member = AppendAccount(name, user.token.User.Sid, &use, Wide)
                     ? AdministratorsMembership(Wide)
                     : GetLastError();
    }
    // An administrator needs no line.
    if (member != 0) {
        Say(member == NOT_A_MEMBER ? LevelProblem : LevelNote, "start.account",
            member == NOT_A_MEMBER ? "%s logs on (%s): not in Administrators, so the watchdog gets "
                                     "no rights"
                                   : "%s logs on (%s): Administrators not read (error %u)",
            name->chars, automatic ? "automatically" : "at the console now", member);
    }
    // Who is at the console now need not be the next to log on: a task for one account is
    // compared with the automatic account only.
    if (!automatic) {
        Clear(name);
    }
}

void ReportStart(const Target *target)
{
    StartCount = 0;
    Scene.counted = 0;
    Scene.unread = FALSE;
    LogonAccount();
    char named[MAX_PATH];
    char readable[MAX_PATH];
    SystemFolder(TheSystem.is64 ? MACHINE_X64 : MACHINE_X86, named, readable);
    Scene.systemDrive = named[1] == ':' ? named[0] : '\0';

    ReadUnder("", TRUE, "Winlogon", "", "Shell", Scene.shell, "");
    HKEY key = OpenUnder("", FALSE, "Policies\\System");
    DWORD lua = 1; // on by default from 6.0
    if (key != nullptr) {
        lua = ReadNumber(key, "EnableLUA", 1);
        RegCloseKey(key);
    }
    Scene.filtered = TheSystem.major >= 6 && lua != 0;

    RunValues(target, "", 0, Scene.shell);
    if (TheSystem.is64) {
        RunValues(target, "", KEY_WOW64_32KEY, Scene.shell);
    }
    StartupFolder(target, "", Scene.shell);
    for (DWORD i = 0; i < 64; ++i) {
        char sid[128];
        DWORD length = sizeof sid;
        if (RegEnumKeyExA(HKEY_USERS, i, sid, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        if (!IsUserHive(sid)) {
            continue;
        }
        // The user's own shell, or the machine's.
        char shell[MAX_PATH];
        ReadUnder(sid, TRUE, "Winlogon", "", "Shell", shell, Scene.shell);
        RunValues(target, sid, 0, shell);
        StartupFolder(target, sid, shell);
    }

    char tasks[MAX_PATH];
    if (JoinPath(tasks, readable, "Tasks")) {
        WalkFolder(target, tasks, TRUE, "", 4, "task %s", TaskFile);
    }
    // The Windows folder holds the system folder, and 1.0's jobs.
    DWORD end = Length(named);
    while (end > 0 && named[end - 1] != '\\') {
        --end;
    }
    if (end > 0) {
        named[end - 1] = '\0';
    }
    if (end > 0 && JoinPath(tasks, named, "Tasks")) {
        WalkFolder(target, tasks, FALSE, ".job", 0, "job %s", JobFile);
    }

    if (Scene.counted == 0) {
        BOOL running = RunningCopies > 0 || Scene.unread;
        Say(running ? LevelWarning : LevelProblem, "start",
            running ? "nothing found starts %s at log-on%s"
                    : "nothing starts %s at log-on: create its task from tovrin-task.xml (on XP "
                      "a Run value for an administrator)",
            target->name,
            Scene.unread ? " in what was read: run the check elevated"
                         : ", though it runs now: start it elevated at every log-on");
    } else if (Scene.counted > 1) {
        Say(LevelWarning, "start.count",
            "%u starts at log-on: two watchdogs would run at once; keep one", Scene.counted);
    }
}
