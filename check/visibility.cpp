// Whether the user will see the watchdog's warning.
#include "check/check.h"
#include "platform/advapi32.h"
#include "watchdog/warning.h"

static const char ReplyKey[] = "System\\CurrentControlSet\\Control\\Error Message Instrument";

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
        // The package's ConfigurationListPath setting can name another list;
        // no document says where the image keeps it, so it is not read.
        Say(LevelOk, "warning.filter",
            "%s names neither the warning's caption nor %s; a list set elsewhere by "
            "ConfigurationListPath is not read",
            list, target->name);
    }
}

BOOL ReportWarningVisibility(Facts *facts)
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
    if (facts->system.major >= 6) {
        ReportDialogFilter(&facts->target);
    }
    return TRUE;
}
