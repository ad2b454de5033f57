// Who besides Administrators and SYSTEM may change the watchdog's folder, its
// executable or its profile: anyone who can plants a library that runs with
// the watchdog's rights, or sets a limit that commits their own changes.
#include "check/bytes.h"
#include "check/check.h"

#include "platform/advapi32.h"

// Rights that let someone change a file, what a folder holds, or who may.
#define CHANGE_RIGHTS                                                                              \
    (0x2u /* write data, or create files */ | 0x4u /* append, or create folders */ |               \
     0x10u /* write extended attributes */ | 0x40u /* delete child */ |                            \
     0x100u /* write attributes */ | 0x10000u /* delete */ | 0x40000u /* write DAC */ |            \
     0x80000u /* write owner */ | 0x40000000u /* generic write */ | 0x10000000u /* generic all */)

// Rights that let someone swap the install folder for a folder of their own
// (delete or rename it, then create one by its name, which Windows lets
// Users do on a drive's root). In the folder that holds it: delete child, or
// change who may (write DAC, write owner); generic all holds them all, and
// generic write, which does not, is counted to be safe: no default grants it
// on an object itself. On the install folder: delete (a rename is one).
// Windows' own grant to Users on a drive's root, "create folders" (append
// data), makes new folders only, and cannot take an existing one's name.
#define SWAP_IN_PARENT (0x40u | 0x40000u | 0x80000u | 0x40000000u | 0x10000000u)
#define SWAP_FOLDER (0x10000u | 0x10000000u)

// Well-known SIDs besides Administrators', in the same binary form.
static const BYTE SidSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
// From 6.0 on, an entry for OWNER RIGHTS replaces what the owner may do.
static const BYTE SidOwnerRights[] = {1, 1, 0, 0, 0, 0, 0, 3, 4, 0, 0, 0};
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

// CREATOR OWNER, CREATOR GROUP and their server forms (S-1-3-0 to 3) stand
// for whoever creates something: on the object itself they grant no one.
static BOOL IsCreator(const void *sid)
{
    for (BYTE rid = 0; rid < 4; ++rid) {
        const BYTE creator[] = {1, 1, 0, 0, 0, 0, 0, 3, rid, 0, 0, 0};
        if (SidIs(sid, creator)) {
            return TRUE;
        }
    }
    return FALSE;
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

// What every object's finding shares: the version, how User Account Control
// treats an administrator's programs, and the volumes seen so far.
struct Scope {
    DWORD major; // Windows' version, 0 when unknown
    BOOL uac;
    BOOL filterBuiltIn;
    char roots[4][MAX_PATH];
    BOOL keeps[4]; // whether each volume keeps permissions
    DWORD rootCount;
};

static const char PolicyKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

// Under UAC (6.0 on), an administrator's own programs run unelevated as well,
// holding the account but not the Administrators group; only the built-in
// Administrator's run elevated throughout, unless its token is filtered too.
// Where the version is unknown, UAC is taken to be as a 6.x default has it.
static void ReadUac(Scope *scope, DWORD major)
{
    scope->major = major;
    scope->uac = major == 0 || major >= 6;
    scope->filterBuiltIn = FALSE;
    HKEY key = nullptr;
    // Missing, EnableLUA is on. The 64-bit view: a 32-bit check on 64-bit
    // Windows would otherwise read Wow6432Node's copy.
    if (scope->uac && RegOpenKeyExA(HKEY_LOCAL_MACHINE, PolicyKey, 0,
                                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        scope->uac = ReadNumber(key, "EnableLUA", 1) != 0;
        scope->filterBuiltIn = ReadNumber(key, "FilterAdministratorToken", 0) != 0;
        RegCloseKey(key);
    }
}

static DWORD SubAuthority(const BYTE *sid, DWORD i)
{
    const BYTE *part = sid + 8 + 4 * (size_t)i;
    return Read32(part);
}

// S-1-5-21-...-500, the account Windows sets up as Administrator.
static BOOL IsBuiltInAdministrator(const void *sid)
{
    const BYTE *bytes = (const BYTE *)sid;
    return bytes[1] == 5 && bytes[7] == 5 && SubAuthority(bytes, 0) == 21 &&
           SubAuthority(bytes, 4) == 500;
}

// Those who may change an object (or swap the install folder), as the
// finding names them, each once, and the worst level among them.
struct Who {
    const Scope *scope;
    Text names;
    Level level;
    BOOL everyone;
    BOOL uac; // an administrator's account is among them, under UAC
    BYTE named[16][8 + 4 * 15];
    DWORD count;
};

static void StartWho(Who *who, const Scope *scope)
{
    who->scope = scope;
    Clear(&who->names);
    who->level = LevelOk;
    who->everyone = who->uac = FALSE;
    who->count = 0;
}

static BOOL Named(const Who *who, const void *sid)
{
    for (DWORD i = 0; i < who->count; ++i) {
        if (SidIs(sid, who->named[i])) {
            return TRUE;
        }
    }
    return FALSE;
}

// Adds one who may change the object to the finding; the level rises with
// what kind of who it is.
static void AddWho(Who *who, const void *sid, BOOL owner)
{
    const BYTE *bytes = (const BYTE *)sid;
    if (Named(who, sid)) {
        return;
    }
    if (who->count < 16 && bytes[1] <= 15) {
        for (DWORD i = 0; i < SidLength(bytes); ++i) {
            who->named[who->count][i] = bytes[i];
        }
        ++who->count;
    }
    if (who->names.length > 0) {
        Append(&who->names, ", ");
    }
    SID_NAME_USE use = SidTypeUnknown;
    WCHAR account[512];
    BOOL named = AppendAccount(&who->names, sid, &use, account);
    if (owner) {
        Append(&who->names, " (owner)");
    }
    // A group other than the two can hold anyone; an account, or what cannot
    // be named, is one who may be trusted or not.
    BOOL group =
        HoldsEveryUser(sid) ||
        (named && (use == SidTypeGroup || use == SidTypeAlias || use == SidTypeWellKnownGroup));
    Level raised = group ? LevelProblem : LevelWarning;
    if (named && use == SidTypeUser && AdministratorsMembership(account) == 0) {
        Append(&who->names, " (an administrator)");
        BOOL unelevated =
            who->scope->uac && (!IsBuiltInAdministrator(sid) || who->scope->filterBuiltIn);
        who->uac |= unelevated;
        raised = unelevated ? LevelWarning : LevelOk;
    }
    if (raised > who->level) {
        who->level = raised;
    }
}

// Adds those whom the object's entries give any of `rights`, and its owner
// where the owner's own rights hold any: reading and changing the
// permissions, or from 6.0 on, where an OWNER RIGHTS entry applies, just
// what such entries grant.
static void Collect(Who *who, void *descriptor, PACL dacl, DWORD rights)
{
    if (dacl == nullptr && !who->everyone) {
        Append(&who->names, who->names.length > 0 ? ", everyone (no DACL)" : "everyone (no DACL)");
        who->everyone = TRUE;
        who->level = LevelProblem;
    }
    BOOL ownerRights = FALSE;
    DWORD ownerMask = 0;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void *entry = nullptr;
        if (!GetAce(dacl, i, &entry)) {
            continue;
        }
        const ACCESS_ALLOWED_ACE *ace = (const ACCESS_ALLOWED_ACE *)entry;
        const void *sid = &ace->SidStart;
        // An inherit-only entry is for what the folder will hold, not for
        // the folder. Allowed and denied entries (0, 1) share a layout.
        if ((ace->Header.AceFlags & INHERIT_ONLY_ACE) != 0 || ace->Header.AceType > 1) {
            continue;
        }
        BOOL allowed = ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE;
        if (SidIs(sid, SidOwnerRights)) {
            ownerRights = TRUE;
            ownerMask |= allowed ? ace->Mask : 0;
        } else if (allowed && (ace->Mask & rights) != 0 && !Trusted(sid) && !IsCreator(sid)) {
            AddWho(who, sid, FALSE);
        }
    }
    // XP-era Windows ignores OWNER RIGHTS, and so does the check where the
    // version is unknown: the owner then keeps what it may do there.
    if (!ownerRights || who->scope->major < 6) {
        ownerMask = 0x20000u /* read control */ | 0x40000u /* write DAC */;
    }
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if ((ownerMask & rights) != 0 && GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) &&
        owner != nullptr && !Trusted(owner)) {
        AddWho(who, owner, TRUE);
    }
}

// The object's security descriptor (to be freed with LocalFree) and its DACL,
// null for none. Null when it cannot be read, said under `key` if one is
// given.
static void *ReadDescriptor(const char *key, const char *path, PACL *dacl)
{
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    *dacl = nullptr;
    GetFileSecurityA(path, wanted, nullptr, 0, &needed);
    DWORD error = GetLastError();
    void *descriptor = needed > 0 ? LocalAlloc(LMEM_FIXED, needed) : nullptr;
    if (descriptor != nullptr &&
        (!GetFileSecurityA(path, wanted, descriptor, needed, &needed) ||
         !GetSecurityDescriptorDacl(descriptor, &present, dacl, &defaulted))) {
        error = GetLastError();
        LocalFree(descriptor);
        descriptor = nullptr;
    }
    if (descriptor == nullptr && key != nullptr) {
        Say(LevelWarning, key, "%s: its permissions cannot be read (error %u)", path, error);
    }
    if (!present) {
        *dacl = nullptr;
    }
    return descriptor;
}

static const char *UacReason(const Who *who)
{
    return who->uac ? "; with UAC on, an administrator's unelevated programs hold its account "
                      "too and may change it, planting what the elevated watchdog loads"
                    : "";
}

static void ReportObject(const Scope *scope, const char *key, const char *path)
{
    PACL dacl = nullptr;
    void *descriptor = ReadDescriptor(key, path, &dacl);
    if (descriptor == nullptr) {
        return;
    }
    Who who;
    StartWho(&who, scope);
    Collect(&who, descriptor, dacl, CHANGE_RIGHTS);
    LocalFree(descriptor);

    if (who.names.length == 0) {
        Say(LevelOk, key, "%s: only Administrators and SYSTEM may change it", path);
    } else if (who.level == LevelOk) {
        Say(LevelOk, key, "%s: changed only by administrators: %s", path, who.names.chars);
    } else {
        Say(who.level, key, "%s: may also be changed by %s%s; allow only Administrators and SYSTEM",
            path, who.names.chars, UacReason(&who));
    }
}

// Who may swap the install folder for another: by what the folder that holds
// it allows, or by what the install folder allows on itself.
static void ReportParent(const Scope *scope, const char *folder)
{
    DWORD length = Length(folder);
    DWORD slashes = 0;
    for (DWORD i = 0; i < length; ++i) {
        slashes += folder[i] == '\\';
    }
    DWORD cut = length;
    while (cut > 0 && folder[cut - 1] != '\\') {
        --cut;
    }
    BOOL unc = folder[0] == '\\' && folder[1] == '\\';
    // A drive's or a share's root is held by no folder.
    if (cut == 0 || cut == length || (unc && slashes <= 3)) {
        return;
    }
    // The holder keeps its backslash where it is a root: "C:" alone names
    // the current folder of drive C.
    char parent[MAX_PATH];
    DWORD kept = (unc ? slashes == 4 : cut == 3) ? cut : cut - 1;
    for (DWORD i = 0; i < kept; ++i) {
        parent[i] = folder[i];
    }
    parent[kept] = '\0';

    PACL held = nullptr;
    PACL own = nullptr;
    void *holder = ReadDescriptor("access.parent", parent, &held);
    if (holder == nullptr) {
        return;
    }
    // Unreadable, the install folder has its own finding.
    void *itself = ReadDescriptor(nullptr, folder, &own);
    Who who;
    StartWho(&who, scope);
    Collect(&who, holder, held, SWAP_IN_PARENT);
    LocalFree(holder);
    if (itself != nullptr) {
        Collect(&who, itself, own, SWAP_FOLDER);
        LocalFree(itself);
    }

    const char *tool = scope->major >= 6 ? "icacls" : "cacls";
    if (who.names.length == 0) {
        Say(LevelOk, "access.parent",
            "%s: only Administrators and SYSTEM may delete or rename it in %s", folder, parent);
    } else if (who.level == LevelOk) {
        Say(LevelOk, "access.parent", "%s: deleted or renamed in %s only by administrators: %s",
            folder, parent, who.names.chars);
    } else {
        Say(who.level, "access.parent",
            "%s: may be deleted or renamed, and another folder put in its place, by %s%s; allow "
            "only Administrators and SYSTEM to delete in %s (see %s %s and %s %s)",
            folder, who.names.chars, UacReason(&who), parent, tool, parent, tool, folder);
    }
}

// Whether the volume that holds `path` keeps permissions. Said once a volume
// where it does not (FAT, FAT32), or where that cannot be told: its
// permissions are then read as they are.
static BOOL KeepsPermissions(Scope *scope, const char *path)
{
    char root[MAX_PATH];
    DWORD error = 0;
    // A volume that cannot be found is one unknown volume, said once.
    if (!GetVolumePathNameA(path, root, MAX_PATH)) {
        error = GetLastError();
        root[0] = '\0';
    }
    for (DWORD i = 0; i < scope->rootCount; ++i) {
        if (SameName(scope->roots[i], root)) {
            return scope->keeps[i];
        }
    }
    char name[MAX_PATH + 1];
    DWORD flags = 0;
    BOOL read = root[0] != '\0' && GetVolumeInformationA(root, nullptr, 0, nullptr, nullptr, &flags,
                                                         name, sizeof name);
    BOOL keeps = TRUE;
    if (!read) {
        Say(LevelNote, "access.filesystem",
            "%s: its file system cannot be read (error %u); the permissions are read as they are",
            root[0] != '\0' ? root : path, error != 0 ? error : GetLastError());
    } else if ((flags & FILE_PERSISTENT_ACLS) == 0) {
        keeps = FALSE;
        Say(LevelWarning, "access.filesystem",
            "%s is %s, which keeps no permissions: anyone may replace the watchdog, its profile "
            "or a library beside it; only an NTFS volume closes this",
            root, name);
    }
    if (scope->rootCount < 4) {
        CopyText(scope->roots[scope->rootCount], MAX_PATH, root);
        scope->keeps[scope->rootCount++] = keeps;
    }
    return keeps;
}

BOOL ReportAccess(Facts *facts)
{
    const Target *target = &facts->target;
    Scope scope;
    scope.rootCount = 0;
    ReadUac(&scope, facts->system.major);
    // "C:" alone names the current folder of drive C, not its root.
    char folder[MAX_PATH + 1];
    CopyText(folder, MAX_PATH, target->folder);
    DWORD length = Length(folder);
    if (length == 0 || folder[length - 1] == ':') {
        folder[length] = '\\';
        folder[length + 1] = '\0';
    }
    // Without permissions, a line on each would only give impossible advice.
    if (KeepsPermissions(&scope, folder)) {
        ReportObject(&scope, "access.folder", folder);
        ReportParent(&scope, folder);
    }
    if (KeepsPermissions(&scope, target->path)) {
        ReportObject(&scope, "access.file", target->path);
    }
    if (target->profileExists && KeepsPermissions(&scope, target->profile)) {
        ReportObject(&scope, "access.profile", target->profile);
    }
    return TRUE;
}
