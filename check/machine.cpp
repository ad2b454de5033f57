// Whether the user will see the warning, and whether the watchdog runs.
#include "check/check.h"

#include "platform/advapi32.h"
#include "watchdog/warning.h"

static const char ReplyKey[] = "System\\CurrentControlSet\\Control\\Error Message Instrument";

// A REG_DWORD of the key, or `otherwise` when it is missing or of another type.
static DWORD ReadNumber(HKEY key, const char *name, DWORD otherwise)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, name, nullptr, &type, (BYTE *)&value, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value) {
        return otherwise;
    }
    return value;
}

// Whether `needle` (plain ASCII) is in the bytes, without case, as 8-bit
// text or as UTF-16LE: a list may be saved either way.
static BOOL Mentions(const BYTE *bytes, DWORD size, const char *needle)
{
    DWORD length = Length(needle);
    for (DWORD width = 1; width <= 2; ++width) {
        for (DWORD at = 0; length * width <= size && at <= size - length * width; ++at) {
            DWORD i = 0;
            while (i < length && (bytes[at + i * width] | 0x20) == (needle[i] | 0x20) &&
                   (width == 1 || bytes[at + i * width + 1] == 0)) {
                ++i;
            }
            if (i == length) {
                return TRUE;
            }
        }
    }
    return FALSE;
}

// The Dialog Filter of the 6.x editions moves every new top-level window off
// screen and presses a button on those its list names.
static void ReportDialogFilter(const Target *target)
{
    char folder[MAX_PATH];
    char list[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("ProgramData", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        !JoinPath(list, folder, "Microsoft\\DialogFilter\\ConfigurationList.xml")) {
        Say(LevelNote, "warning.filter",
            "the Dialog Filter's list cannot be looked for: ProgramData is not set");
        return;
    }
    // No list: no Dialog Filter, or one with nothing to close.
    if (GetFileAttributesA(list) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return;
        }
    }
    DWORD size = 0;
    DWORD error = 0;
    BYTE *bytes = ReadWholeFile(list, 1u << 20, &size, &error);
    if (bytes == nullptr) {
        Say(LevelNote, "warning.filter",
            "%s: the Dialog Filter's list cannot be read (error %u); make sure it names neither "
            "\"" WARNING_CAPTION "\" nor %s",
            list, error, target->name);
        return;
    }
    BOOL caption = Mentions(bytes, size, WARNING_CAPTION);
    BOOL process = Mentions(bytes, size, target->name);
    LocalFree(bytes);
    if (caption || process) {
        Say(LevelProblem, "warning.filter",
            "%s names %s: the Dialog Filter would close the warning before anyone sees it; "
            "remove that entry",
            list, caption ? "the warning's caption" : target->name);
    } else {
        Say(LevelOk, "warning.filter", "%s names neither the warning's caption nor %s", list,
            target->name);
    }
}

void ReportWarningVisibility(const Target *target)
{
    HKEY key = nullptr;
    DWORD reply = 0;
    DWORD logging = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ReplyKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        reply = ReadNumber(key, "EnableDefaultReply", 0);
        logging = ReadNumber(key, "EnableLogging", 0);
        RegCloseKey(key);
    }
    if (reply != 1) {
        Say(LevelOk, "warning", "Message Box Default Reply is off (EnableDefaultReply is not 1)");
    } else {
        Say(LevelWarning, "warning",
            "Message Box Default Reply is on (EnableDefaultReply=1): the user will never see the "
            "warning; %s",
            logging == 1 ? "its text goes to the event log" : "nor is its text logged");
    }
    if (TheSystem.major >= 6) {
        ReportDialogFilter(target);
    }
}

DWORD RunningCopies = 0;

void ReportRunning(const Target *target)
{
    RunningCopies = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        Say(LevelWarning, "running", "the process list cannot be read (error %u)", GetLastError());
        return;
    }
    static PROCESSENTRY32 Process;
    Process.dwSize = sizeof Process;
    DWORD found = 0;
    Text ids;
    Clear(&ids);
    for (BOOL more = Process32First(snapshot, &Process); more;
         more = Process32Next(snapshot, &Process)) {
        Process.szExeFile[MAX_PATH - 1] = '\0';
        if (SameName(Process.szExeFile, target->name)) {
            Format(&ids, found == 0 ? "%u" : ", %u", Process.th32ProcessID);
            ++found;
        }
    }
    CloseHandle(snapshot);
    RunningCopies = found;
    if (found == 0) {
        Say(LevelWarning, "running",
            "%s is not running: log on again, or start it as it starts at log-on", target->name);
    } else {
        Say(LevelOk, "running", "%s is running, process %s %s", target->name,
            found == 1 ? "id" : "ids", ids.chars);
    }
}
