// Accounts and their SIDs, membership of Administrators, and sessions.
#include "check/bytes.h"
#include "check/check.h"

#include "check/optional.h"
#include "platform/advapi32.h"

// Well-known SIDs, in their binary form: revision, count of sub-authorities,
// the 48-bit authority, then each sub-authority (little-endian).
const BYTE SidAdministrators[16] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};

DWORD SidLength(const BYTE *sid)
{
    return 8 + 4 * (DWORD)sid[1];
}

BOOL SidIs(const void *sid, const void *known)
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

static void AppendSid(Text *text, const void *sid)
{
    const BYTE *bytes = (const BYTE *)sid;
    // Authorities above 32 bits are not in use.
    DWORD authority =
        (DWORD)bytes[4] << 24 | (DWORD)bytes[5] << 16 | (DWORD)bytes[6] << 8 | bytes[7];
    Format(text, "S-%u-%u", (DWORD)bytes[0], authority);
    for (DWORD i = 0; i < bytes[1]; ++i) {
        const BYTE *part = bytes + 8 + 4 * (size_t)i;
        Format(text, "-%u", Read32(part));
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

BOOL AppendAccount(Text *text, const void *sid, SID_NAME_USE *use, WCHAR *account)
{
    WCHAR name[256];
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    if (!LookupAccountSidW(nullptr, (PSID)sid, name, &nameLength, account, &domainLength, use)) {
        AppendSid(text, sid);
        return FALSE;
    }
    if (!IsAscii(name) || !IsAscii(account)) {
        AppendSid(text, sid);
    } else {
        Format(text, account[0] != 0 ? "%w\\%w" : "%w%w", account, name);
    }
    // Joined for NetUserGetLocalGroups, which takes "DOMAIN\name".
    DWORD at = 0;
    while (account[at] != 0) {
        ++at;
    }
    account[at++] = '\\';
    for (DWORD i = 0; i <= nameLength && at < 511; ++i) {
        account[at++] = name[i];
    }
    account[at] = 0;
    return TRUE;
}

DWORD AdministratorsMembership(const WCHAR *account)
{
    auto freeBuffer = LOOKED_UP(NetApiBufferFree);
    auto getGroups = freeBuffer != nullptr ? LOOKED_UP(NetUserGetLocalGroups) : nullptr;
    if (getGroups == nullptr) {
        return GetLastError();
    }
    // The group's name differs between languages of Windows: ask for it.
    WCHAR group[256];
    WCHAR domain[256];
    DWORD groupLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    DWORD result = LookupAccountSidW(nullptr, (PSID)SidAdministrators, group, &groupLength, domain,
                                     &domainLength, &use)
                       ? NOT_A_MEMBER
                       : GetLastError();
    if (result == NOT_A_MEMBER) {
        BYTE *buffer = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        // Indirect: through a group, a domain's global group included.
        DWORD status = getGroups(nullptr, account, 0, LG_INCLUDE_INDIRECT, &buffer,
                                 NETAPI_PREFERRED_LENGTH, &read, &total);
        const LOCALGROUP_USERS_INFO_0 *groups = (const LOCALGROUP_USERS_INFO_0 *)buffer;
        for (DWORD i = 0; status == NETAPI_SUCCESS && groups != nullptr && i < read; ++i) {
            DWORD k = 0;
            while (group[k] != 0 && groups[i].Name[k] == group[k]) {
                ++k;
            }
            result = group[k] == groups[i].Name[k] ? 0 : result;
        }
        result = status != NETAPI_SUCCESS ? status : result;
        if (buffer != nullptr) {
            freeBuffer(buffer);
        }
    }
    return result;
}

BOOL AtConsole(DWORD *console, DWORD *own)
{
    *console = WTSGetActiveConsoleSessionId();
    // Its own session is as good as known: read as the console's if not.
    *own = *console;
    ProcessIdToSessionId(GetCurrentProcessId(), own);
    return *console != NO_CONSOLE_SESSION && *own == *console;
}
