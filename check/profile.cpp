// The profile the watchdog will read, and the limit it will take from it.
#include "check/check.h"
#include "watchdog/config.h"

// The profile path the watchdog forms from its own path; FALSE when none fits.
static BOOL FormProfilePath(Target *target)
{
    if (!CopyText(target->profile, MAX_PATH, target->path) ||
        !ProfilePathFromModulePath(target->profile, Length(target->path))) {
        target->profile[0] = '\0';
        return FALSE;
    }
    return TRUE;
}

void ReadTargetLimit(Target *target, char *raw)
{
    BOOL formed = FormProfilePath(target);
    target->profileExists = formed && IsFile(target->profile);
    if (formed) {
        ReadLimitValue(target->profile, raw);
    } else {
        CopyText(raw, MAX_PATH, DEFAULT_LIMIT_TEXT);
    }
    target->limit = ParseLimit(raw);
}

// Whether a double-null-terminated list of names, as the profile read gives
// sections and keys, holds `name`.
static BOOL ListHolds(const char *list, const char *name)
{
    for (; *list != '\0'; list += Length(list) + 1) {
        if (SameName(list, name)) {
            return TRUE;
        }
    }
    return FALSE;
}

// A UTF-8 byte-order mark right before the section header: the platform's
// profile read does not know it, so the header reads as part of a name and
// the section is lost.
static BOOL MarkBeforeSection(const BYTE *bytes, DWORD size)
{
    if (size < 3 || bytes[0] != 0xEF || bytes[1] != 0xBB || bytes[2] != 0xBF) {
        return FALSE;
    }
    DWORD i = 3;
    while (i < size && (bytes[i] == ' ' || bytes[i] == '\t')) {
        ++i;
    }
    if (i >= size || bytes[i] != '[') {
        return FALSE;
    }
    char name[16];
    DWORD length = 0;
    for (++i; i < size && bytes[i] != ']' && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
        if (bytes[i] == ' ' || bytes[i] == '\t') {
            continue;
        }
        if (length + 1 >= sizeof name) {
            return FALSE;
        }
        name[length++] = (char)bytes[i];
    }
    name[length] = '\0';
    return i < size && bytes[i] == ']' && SameName(name, PROFILE_SECTION);
}

static BOOL HasLeadingDigits(const char *text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    if (*text == '+' || *text == '-') {
        ++text;
    }
    return *text >= '0' && *text <= '9';
}

BOOL ReportProfile(Facts *facts)
{
    Target *target = &facts->target;
    char raw[MAX_PATH];
    ReadTargetLimit(target, raw);
    if (target->profile[0] == '\0') {
        Say(LevelWarning, "profile", "no profile path fits: the watchdog uses 128 MiB");
        return TRUE;
    }
    if (!target->profileExists) {
        Say(LevelWarning, "profile",
            "%s: %s; the watchdog uses 128 MiB. Put the profile beside it, named like the "
            "executable",
            target->profile,
            GetFileAttributesA(target->profile) == INVALID_FILE_ATTRIBUTES ? "missing"
                                                                           : "a folder");
        Say(LevelOk, "limit", "128 MiB (default)");
        return TRUE;
    }

    BYTE start[512];
    DWORD got = 0;
    DWORD error = 0;
    BOOL read = ReadInto(target->profile, start, sizeof start, &got, &error);
    if (!read) {
        Say(LevelWarning, "profile",
            "%s: cannot be read (error %u); the watchdog uses 128 MiB if it cannot either",
            target->profile, error);
    } else {
        Say(LevelOk, "profile", "%s", target->profile);
    }
    if (read && MarkBeforeSection(start, got)) {
        Say(LevelProblem, "profile.bom",
            "UTF-8 byte-order mark before [TOVRIN]: Windows loses the section and the "
            "watchdog uses 128 MiB; save it as ANSI");
    }

    char names[4096];
    GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names, target->profile);
    BOOL section = ListHolds(names, PROFILE_SECTION);
    GetPrivateProfileStringA(PROFILE_SECTION, nullptr, "", names, sizeof names, target->profile);
    BOOL key = section && ListHolds(names, PROFILE_KEY);

    if (!section || !key) {
        Say(LevelWarning, "profile.value", PROFILE_KEY "=%s: %s, so the watchdog uses the default",
            raw,
            section ? "no limit key in [" PROFILE_SECTION "]" : "no [" PROFILE_SECTION "] section");
    } else {
        Say(LevelOk, "profile.value", PROFILE_KEY "=%s", raw);
    }
    if (target->limit <= 0) {
        Say(LevelWarning, "limit",
            "%d MiB: %s, so the watchdog writes back at its first poll after every start",
            target->limit, HasLeadingDigits(raw) ? "0 or below" : "the value has no digits");
    } else {
        Say(LevelOk, "limit", "%d MiB", target->limit);
    }
    return TRUE;
}
