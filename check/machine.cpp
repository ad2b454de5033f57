// Whether the user will see the warning, and whether the watchdog runs.
#include "check/check.h"

#include "platform/advapi32.h"

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

void ReportWarningVisibility()
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
        Say(LevelOk, "warning", "message boxes are shown to the user");
        return;
    }
    Say(LevelWarning, "warning",
        "Message Box Default Reply is on (EnableDefaultReply=1): the user will never see the "
        "warning; %s",
        logging == 1 ? "its text goes to the event log" : "nor is its text logged");
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
