// The system, the watchdog's executable and the profile it will read.
#include "check/bytes.h"
#include "check/check.h"
#include "check/optional.h"

#include "watchdog/config.h"

static const char ShippedName[] = "tovrin.exe";
static const char CannotRead[] = "%s: cannot be read (error %u)";

BOOL IsFile(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

BOOL ReadInto(const char *path, BYTE *bytes, DWORD capacity, DWORD *size, DWORD *error)
{
    HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    *size = 0;
    BOOL read = file != INVALID_HANDLE_VALUE;
    DWORD got = 0;
    while (read && *size < capacity) {
        read = ReadFile(file, bytes + *size, capacity - *size, &got, nullptr);
        if (!read || got == 0) {
            break;
        }
        *size += got;
    }
    *error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return read;
}

BYTE *ReadWholeFile(const char *path, DWORD limit, DWORD *size, DWORD *error)
{
    // One byte more than the limit, to tell a file that is larger.
    BYTE *bytes = (BYTE *)LocalAlloc(LMEM_FIXED, limit + 1);
    *size = 0;
    BOOL read = bytes != nullptr && ReadInto(path, bytes, limit + 1, size, error);
    if (bytes == nullptr) {
        *error = GetLastError();
    } else if (read && *size > limit) {
        *error = ERROR_FILE_TOO_LARGE;
        read = FALSE;
    }
    if (!read && bytes != nullptr) {
        LocalFree(bytes);
        bytes = nullptr;
    }
    return bytes;
}

BOOL JoinPath(char *path, const char *folder, const char *name)
{
    Text joined;
    Clear(&joined);
    Format(&joined, "%s\\%s", folder, name);
    return CopyText(path, MAX_PATH, joined.chars);
}

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

static WORD MachineAt(const BYTE *image, DWORD size)
{
    if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        return 0;
    }
    DWORD header = Read32(image + 0x3C);
    if (header > size - 6 || image[header] != 'P' || image[header + 1] != 'E' ||
        image[header + 2] != 0 || image[header + 3] != 0) {
        return 0;
    }
    return (WORD)Read16(image + header + 4);
}

// The check's own architecture, from its own headers in memory.
static WORD OwnMachine()
{
    return MachineAt((const BYTE *)GetModuleHandleA(nullptr), 0x1000);
}

static const char *MachineName(WORD machine)
{
    return machine == MACHINE_X86 ? "x86" : machine == MACHINE_X64 ? "x64" : "?";
}

BOOL ReportSystem(Facts *facts)
{
    SystemFacts *system = &facts->system;
    system->major = system->minor = 0;
    system->own = OwnMachine();
    system->is64 = system->own == MACHINE_X64;
    if (!system->is64) {
        auto isWow64 = LOOKED_UP(IsWow64Process);
        BOOL wow64 = FALSE;
        system->is64 = isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
    }

    OSVERSIONINFOEXA version;
    version.dwOSVersionInfoSize = sizeof version;
    const char *bits = system->is64 ? "64-bit" : "32-bit";
    if (!GetVersionExA((OSVERSIONINFOA *)&version)) {
        Say(LevelOk, "system", "Windows, version unknown (error %u), %s", GetLastError(), bits);
        return TRUE;
    }
    system->major = version.dwMajorVersion;
    system->minor = version.dwMinorVersion;
    Say(LevelOk, "system", "Windows %u.%u build %u%s%s, %s", version.dwMajorVersion,
        version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion[0] != '\0' ? " " : "",
        version.szCSDVersion, bits);
    return TRUE;
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
    // Larger than a frame may be without a stack probe.
    static BYTE Header[4096];
    DWORD got = 0;
    DWORD error = 0;
    if (!ReadInto(target->path, Header, sizeof Header, &got, &error)) {
        Say(LevelProblem, "watchdog", CannotRead, target->path, error);
        return FALSE;
    }
    target->machine = MachineAt(Header, got);
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

    // Larger than a frame may be without a stack probe.
    static char Names[4096];
    GetPrivateProfileStringA(nullptr, nullptr, "", Names, sizeof Names, target->profile);
    BOOL section = ListHolds(Names, PROFILE_SECTION);
    GetPrivateProfileStringA(PROFILE_SECTION, nullptr, "", Names, sizeof Names, target->profile);
    BOOL key = section && ListHolds(Names, PROFILE_KEY);

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
