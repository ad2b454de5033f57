#include "watchdog/config.h"

#include "watchdog/watchdog.h"

int ParseLimit(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // Unsigned, so that long values wrap as the 32-bit original did instead of
    // overflowing a signed int.
    DWORD value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10u + (DWORD)(*text - '0');
        ++text;
    }
    if (negative) {
        value = 0u - value;
    }
    return (int)value;
}

BOOL ProfilePathFromModulePath(char *path, DWORD length)
{
    static const char Extension[] = ".ini";

    // 0 is failure; a full buffer is a truncated path, unterminated on XP.
    if (length == 0 || length >= MAX_PATH) {
        return FALSE;
    }
    path[length] = '\0';

    // Only the file name's extension is replaced: a "." in a directory name
    // must not cut the path into another folder.
    DWORD end = length;
    for (DWORD i = length; i > 0; --i) {
        char c = path[i - 1];
        if (c == '\\' || c == '/' || c == ':') {
            break;
        }
        if (c == '.') {
            end = i - 1;
            break;
        }
    }
    if (end + sizeof(Extension) > MAX_PATH) {
        return FALSE;
    }
    for (DWORD i = 0; i < sizeof(Extension); ++i) {
        path[end + i] = Extension[i];
    }
    return TRUE;
}

void ReadLimitValue(const char *path, char *value)
{
    GetPrivateProfileStringA(PROFILE_SECTION, PROFILE_KEY, DEFAULT_LIMIT_TEXT, value, MAX_PATH,
                             path);
}

int ReadLimit()
{
    char path[MAX_PATH];
    char value[MAX_PATH];

    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (!ProfilePathFromModulePath(path, length)) {
        return ParseLimit(DEFAULT_LIMIT_TEXT);
    }
    ReadLimitValue(path, value);
    return ParseLimit(value);
}

BOOL LimitReached(LONGLONG total, int limit)
{
    int mib = (int)(DWORD)(ULONGLONG)(total / BYTES_PER_MIB);
    return mib >= limit;
}
