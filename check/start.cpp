// How the watchdog will start at the next log-on: Run values, the Winlogon
// shell, Startup shortcuts and scheduled tasks, read where Windows keeps them
// and never changed. One line a start found.
#include "check/bytes.h"
#include "check/check.h"

#include "check/startfiles.h"
#include "platform/advapi32.h"

static const char Recreate[] = "recreate it: schtasks /Create /TN Tovrin /XML tovrin-task.xml /F";

#define MAX_FOLDERS 128

struct StartLine {
    Text head;
    Text clauses;
    Level level;
};

// What the look for starts carries from place to place. Some 160 KiB, two
// task files and a queue of folders: from the heap, not the thread's stack.
struct Walk {
    Facts *facts;
    // What every start shares: the machine's shell, whether User Account
    // Control filters what Explorer starts, and the starts counted so far.
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
    // One start's line at a time, and where the start is.
    StartLine line;
    Text where;
    // The last key OpenUnder named, "HKLM\..." or "HKU\SID\...", and why it
    // did not open.
    Text keyPath;
    LONG openError;
    // The file being read, or the registry value, and the file as text.
    BYTE bytes[TASK_FILE_MAX + 1];
    char text[TASK_FILE_MAX + 1];
    // The folders still to walk.
    char folders[MAX_FOLDERS][MAX_PATH];
    BYTE depths[MAX_FOLDERS];
    WIN32_FIND_DATAA found;
    TaskFacts task;
    JobFacts job;
};

static void Clause(Walk *walk, Level level, const char *pattern, ...)
{
    StartLine *line = &walk->line;
    Append(&line->clauses, line->clauses.length > 0 ? "; " : ": ");
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(&line->clauses, pattern, arguments);
    va_end(arguments);
    line->level = level > line->level ? level : line->level;
}

// A start's line begins with where it is and what it starts; `kept` (a file,
// or a registry key on the system volume) is remembered for ReportPersist.
static void BeginStart(Walk *walk, const char *where, const char *program, const char *kept,
                       ULONGLONG written)
{
    const Target *target = &walk->facts->target;
    Clear(&walk->line.head);
    Clear(&walk->line.clauses);
    walk->line.level = LevelOk;
    Format(&walk->line.head, "%s: %s", where, program);
    if (!SameName(program, target->path)) {
        Clause(walk, LevelWarning, "another file than %s: point it at the checked one",
               target->path);
    }
    Facts *facts = walk->facts;
    if (facts->startCount < MAX_STARTS) {
        StartPlace *place = &facts->starts[facts->startCount++];
        CopyText(place->where, MAX_PATH, kept);
        place->drive = kept[1] == ':' ? kept[0] : walk->systemDrive;
        place->written = written;
    }
}

static void EndStart(Walk *walk, BOOL counts, const char *good)
{
    walk->counted += counts;
    StartLine *line = &walk->line;
    Append(&line->head, line->clauses.length > 0 ? line->clauses.chars : good);
    Finding(line->level, "start", &line->head);
}

static BOOL IsWatchdog(const Walk *walk, const char *program)
{
    return SameName(FileNameOf(program), walk->facts->target.name);
}

// A place that could hold a start and was not read, from a prompt that is
// not elevated as a rule: nothing found cannot then mean nothing there.
static void Unread(Walk *walk, const char *place, DWORD error)
{
    walk->unread = TRUE;
    Say(LevelNote, "start", "%s: cannot be read (error %u)", place, error);
}

// ---- the registry ----

// HKLM's own view of the machine's keys, which a 32-bit check on 64-bit
// Windows would otherwise see through Wow6432Node.
static REGSAM Native(const Walk *walk, BOOL machine)
{
    return machine && walk->facts->system.is64 ? KEY_WOW64_64KEY : 0;
}

// Opens, for reading, `rest` `more` under the CurrentVersion key of Windows
// (`nt`: of Windows NT) in the machine's hive (`sid` "") or a user's.
static HKEY OpenUnder(Walk *walk, const char *sid, BOOL nt, const char *rest, const char *more = "",
                      REGSAM view = 0)
{
    HKEY root = sid[0] != '\0' ? HKEY_USERS : HKEY_LOCAL_MACHINE;
    Text *path = &walk->keyPath;
    Clear(path);
    Format(path, "%s%s\\Software\\Microsoft\\Windows%s\\CurrentVersion\\%s%s",
           sid[0] != '\0' ? "HKU\\" : "HKLM", sid, nt ? " NT" : "", rest, more);
    HKEY key = nullptr;
    walk->openError =
        RegOpenKeyExA(root, path->chars + (sid[0] != '\0' ? 4 : 5), 0,
                      KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS |
                          (view != 0 ? view : Native(walk, root == HKEY_LOCAL_MACHINE)),
                      &key);
    return walk->openError == ERROR_SUCCESS ? key : nullptr;
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
        Text joined;
        Clear(&joined);
        Format(&joined, "%s%s", profile, raw + 13);
        CopyText(raw, MAX_PATH, joined.chars);
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
static void ExplorerClauses(Walk *walk, const char *shell)
{
    if (!IsExplorer(shell)) {
        Clause(walk, LevelProblem,
               "the shell is %s, not Explorer, so this starts nothing; start it by a task", shell);
    } else if (walk->filtered) {
        Clause(walk, LevelProblem,
               "User Account Control gives it a filtered token: it measures 0; start it by the "
               "task tovrin-task.xml");
    }
}

// Task Manager (from Windows 8) turns a Run value or Startup shortcut off
// without removing it: a binary value of its name whose first byte is odd.
static void Approval(Walk *walk, const char *sid, const char *list, const char *name)
{
    HKEY key = OpenUnder(walk, sid, FALSE, "Explorer\\StartupApproved\\", list);
    if (key == nullptr) {
        return;
    }
    BYTE data[16];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size > 0 && (data[0] & 1) != 0) {
        Clause(walk, LevelProblem, "turned off in Task Manager's Startup list: turn it on there");
    }
    RegCloseKey(key);
}

// Run values of the machine (`sid` ""), in one registry view, or of a user.
static void RunValues(Walk *walk, const char *sid, REGSAM view, const char *shell)
{
    HKEY key = OpenUnder(walk, sid, FALSE, "Run", "", view);
    if (key == nullptr) {
        if (walk->openError != ERROR_FILE_NOT_FOUND) {
            Unread(walk, walk->keyPath.chars, (DWORD)walk->openError);
        }
        return;
    }
    char kept[MAX_PATH];
    CopyText(kept, MAX_PATH, walk->keyPath.chars);
    // 0 stands for a time not read, so a time read is never 0.
    FILETIME written = {0, 0};
    ULONGLONG time = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr, &written) == ERROR_SUCCESS
                         ? Time(&written) | 1
                         : 0;
    BOOL view32 = view == KEY_WOW64_32KEY;
    for (DWORD i = 0; i < 512; ++i) {
        // Files are not read meanwhile: their buffer holds the value.
        char *value = (char *)walk->bytes;
        char valueName[128];
        DWORD nameSize = sizeof valueName;
        DWORD size = TASK_FILE_MAX;
        DWORD type = 0;
        LONG result =
            RegEnumValueA(key, i, valueName, &nameSize, nullptr, &type, walk->bytes, &size);
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
        if (!IsWatchdog(walk, program)) {
            continue;
        }
        Clear(&walk->where);
        Format(&walk->where, "%s%s Run%s value %s", sid[0] != '\0' ? "HKU\\" : "HKLM", sid,
               view32 ? " (32-bit)" : "", valueName);
        BeginStart(walk, walk->where.chars, program, kept, time);
        Approval(walk, sid, view32 ? "Run32" : "Run", valueName);
        ExplorerClauses(walk, shell);
        EndStart(walk, TRUE, ", at log-on by Explorer");
    }
    RegCloseKey(key);
}

// A string value of a key OpenUnder opens, or `otherwise`.
static void ReadUnder(Walk *walk, const char *sid, BOOL nt, const char *rest, const char *more,
                      const char *name, char *value, const char *otherwise,
                      const char *profile = nullptr)
{
    HKEY key = OpenUnder(walk, sid, nt, rest, more);
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

typedef void (*FileVisitor)(Walk *walk, const char *path, DWORD size, ULONGLONG written);

// Each file under `base` whose name holds `pattern`, and in its subfolders
// down to `depth` more levels, read into the walk's bytes for `visit`;
// `kind` formats into its `where` the path, below `base` when `relative`.
static void WalkFolder(Walk *walk, const char *base, BOOL relative, const char *pattern,
                       DWORD depth, const char *kind, FileVisitor visit)
{
    char(*folders)[MAX_PATH] = walk->folders;
    BYTE *depths = walk->depths;
    WIN32_FIND_DATAA *found = &walk->found;
    DWORD shownAt = relative ? Length(base) : 0;
    DWORD count = CopyText(folders[0], MAX_PATH, base) ? 1 : 0;
    depths[0] = (BYTE)depth;
    for (DWORD next = 0; next < count; ++next) {
        char path[MAX_PATH];
        HANDLE find =
            JoinPath(path, folders[next], "*") ? FindFirstFileA(path, found) : INVALID_HANDLE_VALUE;
        DWORD error = GetLastError();
        // A folder that is not there holds no start.
        if (find == INVALID_HANDLE_VALUE && error != ERROR_FILE_NOT_FOUND &&
            error != ERROR_PATH_NOT_FOUND) {
            Unread(walk, folders[next], error);
        }
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileA(find, found)) {
            if (found->cFileName[0] == '.' || !JoinPath(path, folders[next], found->cFileName)) {
                continue;
            }
            if ((found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (depths[next] > 0 && count == MAX_FOLDERS) {
                    Say(LevelNote, "start", "%s: more folders than %u, not read", path,
                        MAX_FOLDERS);
                } else if (depths[next] > 0) {
                    CopyText(folders[count], MAX_PATH, path);
                    depths[count++] = (BYTE)(depths[next] - 1);
                }
                continue;
            }
            if (!HoldsName(found->cFileName, Length(found->cFileName), pattern)) {
                continue;
            }
            ULONGLONG created = Time(&found->ftCreationTime);
            ULONGLONG written = Time(&found->ftLastWriteTime);
            DWORD size = 0;
            Clear(&walk->where);
            Format(&walk->where, kind, path + shownAt);
            if (!ReadInto(path, walk->bytes, TASK_FILE_MAX + 1, &size, &error)) {
                Unread(walk, walk->where.chars, error);
            } else {
                visit(walk, path, size, written > created ? written : created);
            }
        }
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
        }
    }
}

// A start for one account only, which may not be the one that logs on. A
// SID is not compared.
static void ForOne(Walk *walk, const char *user)
{
    const Text *account = &walk->account;
    if (account->length == 0 || HoldsName(user, 4, "S-1-")) {
        Clause(walk, LevelNote, "starts only for %s", user);
    } else if (!SameName(FileNameOf(user), FileNameOf(account->chars))) {
        Clause(walk, LevelWarning, "starts only for %s, not %s", user, account->chars);
    }
}

static void TaskFile(Walk *walk, const char *path, DWORD size, ULONGLONG written)
{
    const char *name = walk->facts->target.name;
    const char *where = walk->where.chars;
    TaskFacts *task = &walk->task;
    DWORD textLength = 0;
    const char *malformed = ReadTaskFile(walk->bytes, size, task, walk->text, &textLength);
    if (malformed != nullptr) {
        // Whose it is, from its text, or from its bytes where it is not UTF-16.
        if (!HoldsName(walk->text, textLength, name) &&
            !HoldsName((const char *)walk->bytes, size, name)) {
            return;
        }
        // Too large is this check's limit, not Task Scheduler's.
        walk->unread |= size > TASK_FILE_MAX;
        if (size > TASK_FILE_MAX) {
            Say(LevelWarning, "start",
                "%s: too large for this check; see schtasks /Query /TN %s /XML", where, where + 5);
        } else {
            Say(LevelWarning, "start", "%s: %s, so Task Scheduler cannot run it; %s", where,
                malformed, Recreate);
        }
        return;
    }
    if (!IsWatchdog(walk, task->command)) {
        return;
    }
    BeginStart(walk, where, task->command, path, written);
    if (!task->logon) {
        Clause(walk, LevelWarning, "no log-on trigger");
    }
    if (!task->enabled) {
        Clause(walk, LevelProblem, "disabled");
    }
    if (!task->highest) {
        Clause(walk, LevelProblem,
               "not elevated (RunLevel is not HighestAvailable): it measures 0");
    }
    if (task->service || !task->interactive) {
        Clause(walk, LevelProblem, "not in the user's session (%s %s): nobody sees its warning",
               task->service ? "UserId" : "LogonType",
               task->service ? task->user : task->logonType);
    } else if (task->user[0] != '\0') {
        ForOne(walk, task->user);
    }
    if (!task->limitRead) {
        Clause(walk, LevelProblem, "ExecutionTimeLimit %s is no duration: set PT0S",
               task->limitText);
    } else if (task->limit != 0) {
        BOOL hours = task->limit >= 3600;
        Clause(walk, LevelProblem,
               "Task Scheduler stops it %u %s after each log-on (ExecutionTimeLimit %s)",
               (DWORD)Divide(task->limit, hours ? 3600 : 60), hours ? "hours" : "minutes",
               task->limitText);
    }
    if (task->noBatteryStart || task->batteryStop) {
        Clause(walk, LevelWarning, "%s on batteries",
               task->noBatteryStart && task->batteryStop ? "neither started nor kept running"
               : task->noBatteryStart                    ? "not started"
                                                         : "stopped");
    }
    if (task->priority >= 7) {
        Clause(walk, LevelWarning, "Priority %u is below normal, slow to react: set 4",
               task->priority);
    }
    if (walk->line.level == LevelProblem) {
        Clause(walk, LevelProblem, Recreate);
    }
    EndStart(walk, task->logon,
             ", at log-on, elevated, in the user's session, never stopped by Task Scheduler");
}

static void JobFile(Walk *walk, const char *path, DWORD size, ULONGLONG written)
{
    JobFacts *job = &walk->job;
    const char *malformed =
        size > TASK_FILE_MAX ? "too large" : ReadJobFile(walk->bytes, size, job);
    if (malformed != nullptr) {
        Say(LevelNote, "start", "%s: %s, not read", walk->where.chars, malformed);
        return;
    }
    if (!IsWatchdog(walk, job->application)) {
        return;
    }
    BeginStart(walk, walk->where.chars, job->application, path, written);
    if (!job->logon) {
        Clause(walk, LevelWarning, "no log-on trigger");
    }
    if ((job->flags & JOB_DISABLED) != 0) {
        Clause(walk, LevelProblem, "disabled");
    }
    if (job->maxRunTime != 0xFFFFFFFFu) {
        Clause(walk, LevelProblem,
               "Task Scheduler stops it %u hours after each start: untick \"Stop the task if it "
               "runs for 72 hours\"",
               (DWORD)(job->maxRunTime / 3600000u));
    }
    if ((job->flags & (JOB_NO_BATTERY_START | JOB_BATTERY_STOP)) != 0) {
        Clause(walk, LevelWarning, "held back or stopped on batteries");
    }
    EndStart(walk, job->logon, ", at log-on, never stopped by Task Scheduler");
}

static void LinkFile(Walk *walk, const char *path, DWORD size, ULONGLONG written)
{
    char link[MAX_PATH];
    const char *malformed =
        size > TASK_FILE_MAX ? "too large" : ReadShortcut(walk->bytes, size, link);
    if (malformed != nullptr) {
        // Most shortcuts are someone else's: only one naming the watchdog is said.
        if (HoldsName((const char *)walk->bytes, size, walk->facts->target.name)) {
            Say(LevelNote, "start", "%s: %s, so where it points is not known", walk->where.chars,
                malformed);
        }
        return;
    }
    if (!IsWatchdog(walk, link)) {
        return;
    }
    BeginStart(walk, walk->where.chars, link, path, written);
    Approval(walk, walk->sid, "StartupFolder", FileNameOf(path));
    ExplorerClauses(walk, walk->userShell);
    EndStart(walk, TRUE, ", at log-on by Explorer");
}

// The machine's Startup folder (`sid` "") or a user's, as User Shell Folders
// names it.
static void StartupFolder(Walk *walk, const char *sid, const char *shell)
{
    char profile[MAX_PATH];
    char folder[MAX_PATH];
    ReadUnder(walk, "", TRUE, "ProfileList\\", sid, "ProfileImagePath", profile, "");
    ReadUnder(walk, sid, FALSE, "Explorer\\User Shell Folders", "",
              sid[0] != '\0' ? "Startup" : "Common Startup", folder, "",
              sid[0] != '\0' && profile[0] != '\0' ? profile : nullptr);
    if (folder[0] != '\0') {
        walk->sid = sid;
        walk->userShell = shell;
        WalkFolder(walk, folder, FALSE, ".lnk", 0, "Startup shortcut %s", LinkFile);
    }
}

// Who logs on: the automatic log-on's account where one is set, otherwise the one at the console
// now, which is this check's own when it runs there. Without Administrators, the kit's task does
// not start for it, and a Run value or shortcut starts the watchdog without rights.
static void LogonAccount(Walk *walk)
{
    char value[MAX_PATH];
    char domain[MAX_PATH];
    // Both names at their longest, joined; AppendAccount's 512 too.
    WCHAR wide[2 * MAX_PATH];
    Text *name = &walk->account;
    Clear(name);
    HKEY key = OpenUnder(walk, "", TRUE, "Winlogon");
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
            wide[i] = (BYTE)name->chars[i];
        }
        member = AdministratorsMembership(wide);
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
        member = AppendAccount(name, user.token.User.Sid, &use, wide)
                     ? AdministratorsMembership(wide)
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

// The places looked in, from a walk of its own.
static void LookForStarts(Walk *walk)
{
    Facts *facts = walk->facts;
    LogonAccount(walk);
    char named[MAX_PATH];
    char readable[MAX_PATH];
    SystemFolder(&facts->system, facts->system.is64 ? MACHINE_X64 : MACHINE_X86, named, readable);
    walk->systemDrive = named[1] == ':' ? named[0] : '\0';

    ReadUnder(walk, "", TRUE, "Winlogon", "", "Shell", walk->shell, "");
    HKEY key = OpenUnder(walk, "", FALSE, "Policies\\System");
    DWORD lua = 1; // on by default from 6.0
    if (key != nullptr) {
        lua = ReadNumber(key, "EnableLUA", 1);
        RegCloseKey(key);
    }
    walk->filtered = facts->system.major >= 6 && lua != 0;

    RunValues(walk, "", 0, walk->shell);
    if (facts->system.is64) {
        RunValues(walk, "", KEY_WOW64_32KEY, walk->shell);
    }
    StartupFolder(walk, "", walk->shell);
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
        ReadUnder(walk, sid, TRUE, "Winlogon", "", "Shell", shell, walk->shell);
        RunValues(walk, sid, 0, shell);
        StartupFolder(walk, sid, shell);
    }

    char tasks[MAX_PATH];
    if (JoinPath(tasks, readable, "Tasks")) {
        WalkFolder(walk, tasks, TRUE, "", 4, "task %s", TaskFile);
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
        WalkFolder(walk, tasks, FALSE, ".job", 0, "job %s", JobFile);
    }
}

BOOL ReportStart(Facts *facts)
{
    const Target *target = &facts->target;
    Walk *walk = (Walk *)LocalAlloc(LMEM_FIXED, sizeof(Walk));
    if (walk == nullptr) {
        Say(LevelWarning, "start",
            "the starts at log-on were not looked for: out of memory (error %u)", GetLastError());
        return TRUE;
    }
    walk->facts = facts;
    walk->counted = 0;
    walk->unread = FALSE;
    LookForStarts(walk);
    DWORD counted = walk->counted;
    BOOL unread = walk->unread;
    LocalFree(walk);

    if (counted == 0) {
        BOOL running = facts->runningCopies > 0 || unread;
        Say(running ? LevelWarning : LevelProblem, "start",
            running ? "nothing found starts %s at log-on%s"
                    : "nothing starts %s at log-on: create its task from tovrin-task.xml (on XP "
                      "a Run value for an administrator)",
            target->name,
            unread ? " in what was read: run the check elevated"
                   : ", though it runs now: start it elevated at every log-on");
    } else if (counted > 1) {
        Say(LevelWarning, "start.count",
            "%u starts at log-on: two watchdogs would run at once; keep one", counted);
    }
    return TRUE;
}
