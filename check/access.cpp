// Who besides Administrators and SYSTEM may change the watchdog's folder, its
// executable or its profile: anyone who can plants a library that runs with
// the watchdog's rights, or sets a limit that commits their own changes.
#include "check/check.h"

#include "platform/advapi32.h"
#include "platform/netapi32.h"

// Rights that let someone change a file, what a folder holds, or who may.
#define CHANGE_RIGHTS                                                                              \
    (0x2u /* write data, or create files */ | 0x4u /* append, or create folders */ |               \
     0x10u /* write extended attributes */ | 0x40u /* delete child */ |                            \
     0x100u /* write attributes */ | 0x10000u /* delete */ | 0x40000u /* write DAC */ |            \
     0x80000u /* write owner */ | 0x40000000u /* generic write */ | 0x10000000u /* generic all */)

// Well-known SIDs, in their binary form: revision, count of sub-authorities,
// the 48-bit authority, then each sub-authority (little-endian).
static const BYTE SidAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
static const BYTE SidSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
static const BYTE SidCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};
// The groups that hold every ordinary user.
static const BYTE SidEveryone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
static const BYTE SidUsers[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
static const BYTE SidAuthenticatedUsers[] = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
static const BYTE SidInteractive[] = {1, 1, 0, 0, 0, 0, 0, 5, 4, 0, 0, 0};
static const BYTE SidGuests[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x22, 2, 0, 0};
// Windows' own installer service, which owns system files on Standard 7 and 8.
static const BYTE SidTrustedInstaller[] = {
    1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,    0xB5, 0x89, 0xFB, 0x38,
    0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D, 0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

static DWORD SidLength(const BYTE *sid)
{
    return 8 + 4 * (DWORD)sid[1];
}

static BOOL SidIs(const void *sid, const void *known)
{
    const BYTE *a = (const BYTE *)sid;
    const BYTE *b = (const BYTE *)known;
    if (a[1] != b[1]) {
        return FALSE;
    }
    for (DWORD i = 0; i < SidLength(b); ++i) {
        if (a[i] != b[i]) {
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL Trusted(const void *sid)
{
    return SidIs(sid, SidAdministrators) || SidIs(sid, SidSystem) ||
           SidIs(sid, SidTrustedInstaller);
}

static BOOL HoldsEveryUser(const void *sid)
{
    return SidIs(sid, SidEveryone) || SidIs(sid, SidUsers) || SidIs(sid, SidAuthenticatedUsers) ||
           SidIs(sid, SidInteractive) || SidIs(sid, SidGuests);
}

static void AppendSid(Text *text, const void *sid)
{
    const BYTE *bytes = (const BYTE *)sid;
    // Authorities above 32 bits are not in use.
    DWORD authority =
        (DWORD)bytes[4] << 24 | (DWORD)bytes[5] << 16 | (DWORD)bytes[6] << 8 | bytes[7];
    Format(text, "S-%u-%u", (DWORD)bytes[0], authority);
    for (DWORD i = 0; i < bytes[1]; ++i) {
        const BYTE *part = bytes + 8 + 4 * (size_t)i;
        Format(text, "-%u",
               (DWORD)part[0] | (DWORD)part[1] << 8 | (DWORD)part[2] << 16 | (DWORD)part[3] << 24);
    }
}

static BOOL IsAscii(const WCHAR *text)
{
    for (; *text != 0; ++text) {
        if (!IsPlain(*text)) {
            return FALSE;
        }
    }
    return TRUE;
}

// "DOMAIN\name", or the SID where the name is unknown or not plain ASCII.
// FALSE when the name cannot be looked up.
static BOOL AppendAccount(Text *text, const void *sid, SID_NAME_USE *use)
{
    WCHAR name[256];
    WCHAR domain[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    if (!LookupAccountSidW(nullptr, (PSID)sid, name, &nameLength, domain, &domainLength, use)) {
        AppendSid(text, sid);
        return FALSE;
    }
    if (!IsAscii(name) || !IsAscii(domain)) {
        AppendSid(text, sid);
    } else {
        Format(text, domain[0] != 0 ? "%w\\%w" : "%w%w", domain, name);
    }
    return TRUE;
}

// Whether the account is a direct member of Administrators, asked of the
// local group list. FALSE when that cannot be told.
static BOOL IsAdministrator(const void *sid)
{
    char folder[MAX_PATH];
    UINT length = GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return FALSE;
    }
    // From the system folder by its full path, and its own dependencies from
    // there too, not from beside the check: a copy elsewhere would run its
    // code in this elevated process.
    char path[MAX_PATH];
    HMODULE library = JoinPath(path, folder, "netapi32.dll")
                          ? LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                          : nullptr;
    if (library == nullptr) {
        return FALSE;
    }
    auto getMembers = (NetLocalGroupGetMembersRoutine)(void (*)(void))GetProcAddress(
        library, "NetLocalGroupGetMembers");
    auto freeBuffer =
        (NetApiBufferFreeRoutine)(void (*)(void))GetProcAddress(library, "NetApiBufferFree");
    BOOL member = FALSE;
    WCHAR group[256];
    WCHAR domain[256];
    DWORD groupLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    // The group's name differs between languages of Windows: ask for it.
    if (getMembers != nullptr && freeBuffer != nullptr &&
        LookupAccountSidW(nullptr, (PSID)SidAdministrators, group, &groupLength, domain,
                          &domainLength, &use)) {
        BYTE *buffer = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        if (getMembers(nullptr, group, 0, &buffer, NETAPI_PREFERRED_LENGTH, &read, &total,
                       nullptr) == NETAPI_SUCCESS &&
            buffer != nullptr) {
            const NET_LOCALGROUP_MEMBER *members = (const NET_LOCALGROUP_MEMBER *)buffer;
            for (DWORD i = 0; i < read && !member; ++i) {
                member = SidIs(members[i].Sid, (const BYTE *)sid);
            }
        }
        if (buffer != nullptr) {
            freeBuffer(buffer);
        }
    }
    FreeLibrary(library);
    return member;
}

// Adds one who may change the object to the finding; the level rises with
// what kind of who it is.
static void AddWho(Text *who, Level *level, const void *sid, BOOL owner)
{
    if (who->length > 0) {
        Append(who, ", ");
    }
    SID_NAME_USE use = SidTypeUnknown;
    BOOL named = AppendAccount(who, sid, &use);
    if (owner) {
        Append(who, " (owner)");
    }
    // A group other than the two can hold anyone; an account, or what cannot
    // be named, is one who may be trusted or not.
    BOOL group =
        HoldsEveryUser(sid) ||
        (named && (use == SidTypeGroup || use == SidTypeAlias || use == SidTypeWellKnownGroup));
    Level raised = group ? LevelProblem : LevelWarning;
    if (named && use == SidTypeUser && IsAdministrator(sid)) {
        Append(who, " (an administrator)");
        raised = LevelOk;
    }
    if (raised > *level) {
        *level = raised;
    }
}

static BOOL Named(const void *const *named, DWORD count, const void *sid)
{
    for (DWORD i = 0; i < count; ++i) {
        if (SidIs(sid, named[i])) {
            return TRUE;
        }
    }
    return FALSE;
}

static void ReportObject(const char *key, const char *path)
{
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetFileSecurityA(path, wanted, nullptr, 0, &needed);
    DWORD error = GetLastError();
    void *descriptor = needed > 0 ? LocalAlloc(LMEM_FIXED, needed) : nullptr;
    if (descriptor != nullptr &&
        (!GetFileSecurityA(path, wanted, descriptor, needed, &needed) ||
         !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))) {
        error = GetLastError();
        LocalFree(descriptor);
        descriptor = nullptr;
    }
    if (descriptor == nullptr) {
        Say(LevelWarning, key, "%s: its permissions cannot be read (error %u)", path, error);
        return;
    }

    Text who;
    Clear(&who);
    Level level = LevelOk;
    // Each one named once, however many entries and whether owner too.
    const void *named[16];
    DWORD namedCount = 0;
    if (!present || dacl == nullptr) {
        Append(&who, "everyone (no DACL)");
        level = LevelProblem;
    }
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void *entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            continue;
        }
        const ACCESS_ALLOWED_ACE *ace = (const ACCESS_ALLOWED_ACE *)entry;
        const void *sid = &ace->SidStart;
        // An inherit-only entry is for what the folder will hold, not for
        // the folder; CREATOR OWNER stands for whoever creates something.
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            (ace->Header.AceFlags & INHERIT_ONLY_ACE) == 0 && (ace->Mask & CHANGE_RIGHTS) != 0 &&
            !Trusted(sid) && !SidIs(sid, SidCreatorOwner) && !Named(named, namedCount, sid)) {
            AddWho(&who, &level, sid, FALSE);
            if (namedCount < 16) {
                named[namedCount++] = sid;
            }
        }
    }
    // The owner may always change the permissions, whatever they say.
    PSID owner = nullptr;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner != nullptr &&
        !Trusted(owner) && !Named(named, namedCount, owner)) {
        AddWho(&who, &level, owner, TRUE);
    }
    LocalFree(descriptor);

    if (who.length == 0) {
        Say(LevelOk, key, "%s: only Administrators and SYSTEM may change it", path);
    } else {
        Say(level, key,
            level == LevelOk
                ? "%s: changed only by administrators: %s"
                : "%s: may also be changed by %s; allow only Administrators and SYSTEM",
            path, who.chars);
    }
}

void ReportAccess(const Target *target)
{
    // "C:" alone names the current folder of drive C, not its root.
    char folder[MAX_PATH + 1];
    CopyText(folder, MAX_PATH, target->folder);
    DWORD length = Length(folder);
    if (length == 0 || folder[length - 1] == ':') {
        folder[length] = '\\';
        folder[length + 1] = '\0';
    }
    ReportObject("access.folder", folder);
    ReportObject("access.file", target->path);
    if (target->profileExists) {
        ReportObject("access.profile", target->profile);
    }
}
