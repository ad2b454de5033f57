// ADVAPI32 of the machine the installation check looks at: permissions,
// accounts, the registry and the groups in a process's token.
#include <stddef.h>
#include <string.h>

#include "sim/host/machine.h"

using namespace fake::detail;
using namespace fake::machine;

extern "C" {

BOOL WINAPI GetFileSecurityA(LPCSTR path, SECURITY_INFORMATION wanted,
                             PSECURITY_DESCRIPTOR descriptor, DWORD length, LPDWORD needed)
{
    sim::SimBeforeCall("GetFileSecurityA");
    std::string args = Quote(path) + ", " + sim::Hex(wanted) + ", " + std::to_string(length);
    if (Failing("GetFileSecurityA", args, "FALSE")) {
        return FALSE;
    }
    fake::File file;
    if (!FindFile(path, &file) || file.securityError != 0) {
        LastError = file.securityError != 0 ? file.securityError : ErrorFileNotFound;
        Log("GetFileSecurityA", args, "FALSE, LE " + std::to_string(LastError));
        return FALSE;
    }
    std::vector<unsigned char> bytes = Descriptor(file);
    *needed = (DWORD)bytes.size();
    if (descriptor == nullptr || length < bytes.size()) {
        LastError = ErrorInsufficientBuffer;
        Log("GetFileSecurityA", args, "FALSE, LE 122");
        return FALSE;
    }
    memcpy(descriptor, bytes.data(), bytes.size());
    Log("GetFileSecurityA", args, "TRUE");
    return TRUE;
}

static DWORD Get32(const unsigned char *at)
{
    return (DWORD)at[0] | (DWORD)at[1] << 8 | (DWORD)at[2] << 16 | (DWORD)at[3] << 24;
}

BOOL WINAPI GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL *dacl,
                                      LPBOOL defaulted)
{
    sim::SimBeforeCall("GetSecurityDescriptorDacl");
    const unsigned char *bytes = (const unsigned char *)descriptor;
    DWORD offset = Get32(bytes + 16);
    *present = TRUE;
    *dacl = offset != 0 ? (PACL)(bytes + offset) : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL WINAPI GetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR descriptor, PSID *owner,
                                       LPBOOL defaulted)
{
    sim::SimBeforeCall("GetSecurityDescriptorOwner");
    const unsigned char *bytes = (const unsigned char *)descriptor;
    DWORD offset = Get32(bytes + 4);
    *owner = offset != 0 ? (PSID)(bytes + offset) : nullptr;
    *defaulted = FALSE;
    return TRUE;
}

BOOL WINAPI GetAce(PACL acl, DWORD index, LPVOID *ace)
{
    sim::SimBeforeCall("GetAce");
    if (index >= acl->AceCount) {
        LastError = 87; // ERROR_INVALID_PARAMETER
        return FALSE;
    }
    unsigned char *at = (unsigned char *)acl + sizeof(ACL);
    for (DWORD i = 0; i < index; ++i) {
        at += at[2] | at[3] << 8;
    }
    *ace = at;
    return TRUE;
}

BOOL WINAPI LookupAccountSidW(LPCWSTR system, PSID sid, LPWSTR name, LPDWORD nameLength,
                              LPWSTR domain, LPDWORD domainLength, PSID_NAME_USE use)
{
    sim::SimBeforeCall("LookupAccountSidW");
    std::string text = SidText(sid);
    std::string args = std::string(system == nullptr ? "local" : "remote") + ", " + text;
    if (Failing("LookupAccountSidW", args, "FALSE")) {
        return FALSE;
    }
    auto found = M().accounts.find(text);
    if (found == M().accounts.end()) {
        LastError = ErrorNoneMapped;
        Log("LookupAccountSidW", args, "FALSE, LE 1332");
        return FALSE;
    }
    std::u16string wideName = Wide(found->second.name);
    std::u16string wideDomain = Wide(found->second.domain);
    if (*nameLength <= wideName.size() || *domainLength <= wideDomain.size()) {
        *nameLength = (DWORD)wideName.size() + 1;
        *domainLength = (DWORD)wideDomain.size() + 1;
        LastError = ErrorInsufficientBuffer;
        Log("LookupAccountSidW", args, "FALSE, LE 122");
        return FALSE;
    }
    memcpy(name, wideName.c_str(), (wideName.size() + 1) * sizeof(WCHAR));
    memcpy(domain, wideDomain.c_str(), (wideDomain.size() + 1) * sizeof(WCHAR));
    *nameLength = (DWORD)wideName.size();
    *domainLength = (DWORD)wideDomain.size();
    *use = (SID_NAME_USE)found->second.use;
    Log("LookupAccountSidW", args, found->second.domain + "\\" + found->second.name);
    return TRUE;
}

// The groups of the token's process as the system gives them: the count,
// the SID and attributes pairs, then the SIDs they point at; for the check's
// own process, its user: one pair, then the SID.
BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information,
                                DWORD length, PDWORD returned)
{
    sim::SimBeforeCall("GetTokenInformation");
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().tokenProcesses.find(token);
    if (found == M().tokenProcesses.end()) {
        Misuse("GetTokenInformation on a token of no process the check opened");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    std::string args = std::to_string(found->second) + ", " + std::to_string((int)kind) + ", " +
                       std::to_string(length);
    bool user = found->second == OwnProcessId;
    if (kind != (user ? TokenUser : TokenGroups)) {
        Misuse("GetTokenInformation of another kind: " + args);
        return FALSE;
    }
    if (Failing("GetTokenInformation", args, "FALSE")) {
        return FALSE;
    }
    const auto &pairs = user ? std::vector<std::pair<std::string, DWORD>>{{M().checkUser, 0}}
                             : ProcessById(found->second)->groups;
    size_t header = user ? 0 : offsetof(TOKEN_GROUPS, Groups);
    size_t size = header + pairs.size() * sizeof(SID_AND_ATTRIBUTES);
    for (const auto &pair : pairs) {
        size += SidBytes(pair.first).size();
    }
    *returned = (DWORD)size;
    if (information == nullptr || length < size) {
        LastError = ErrorInsufficientBuffer;
        Log("GetTokenInformation", args, "FALSE, LE 122");
        return FALSE;
    }
    unsigned char *bytes = (unsigned char *)information;
    if (!user) {
        ((TOKEN_GROUPS *)information)->GroupCount = (DWORD)pairs.size();
    }
    SID_AND_ATTRIBUTES *entries = (SID_AND_ATTRIBUTES *)(bytes + header);
    size_t next = header + pairs.size() * sizeof(SID_AND_ATTRIBUTES);
    for (size_t i = 0; i < pairs.size(); ++i) {
        std::vector<unsigned char> sid = SidBytes(pairs[i].first);
        memcpy(bytes + next, sid.data(), sid.size());
        entries[i].Sid = bytes + next;
        entries[i].Attributes = pairs[i].second;
        next += sid.size();
    }
    Log("GetTokenInformation", args,
        user ? M().checkUser : std::to_string(pairs.size()) + " groups");
    return TRUE;
}

// The rights a reader may ask for: values, subkeys, a view, and the key's
// security descriptor (as KEY_READ holds it).
const REGSAM ReadOnlyRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY |
                              KEY_WOW64_32KEY | 0x20000 /* READ_CONTROL */;

// The registry's path of a key: HKLM's as it is, with a 32-bit program's
// view of Software on 64-bit Windows under Wow6432Node; HKEY_USERS's after
// "hku\".
static std::string KeyPath(HKEY root, const std::string &subKey, REGSAM access)
{
    std::string path = Lower(subKey);
    if (root == HKEY_USERS) {
        return path.empty() ? "hku" : "hku\\" + path;
    }
    bool own64 = M().image[0x84] == 0x64;
    bool is64 = own64 || (M().wow64Known && M().wow64);
    bool view32 = (access & KEY_WOW64_32KEY) != 0 || (!own64 && (access & KEY_WOW64_64KEY) == 0);
    if (is64 && view32 && path.rfind("software\\", 0) == 0 &&
        path.rfind("software\\wow6432node", 0) != 0) {
        path.insert(9, "wow6432node\\");
    }
    return path;
}

static const char *RootName(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? "HKLM" : root == HKEY_USERS ? "HKU" : "other";
}

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key)
{
    sim::SimBeforeCall("RegOpenKeyExA");
    std::string args = std::string(RootName(root)) + ", " + Quote(subKey) + ", " +
                       std::to_string(options) + ", " + sim::Hex(access);
    if (access == 0 || (access & ~ReadOnlyRights) != 0) {
        Misuse("RegOpenKeyExA for more than reading: " + args);
    }
    DWORD error = 0;
    if (sim::ShouldFail("RegOpenKeyExA", nullptr, &error)) {
        Log("RegOpenKeyExA", args, "error " + std::to_string(error));
        return (LONG)error;
    }
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().registry.find(KeyPath(root, subKey != nullptr ? subKey : "", access));
    if ((root != HKEY_LOCAL_MACHINE && root != HKEY_USERS) || found == M().registry.end()) {
        Log("RegOpenKeyExA", args, "error 2");
        return (LONG)ErrorFileNotFound;
    }
    if (found->second.openError != 0) {
        Log("RegOpenKeyExA", args, "error " + std::to_string(found->second.openError));
        return (LONG)found->second.openError;
    }
    // The key's name stands for its handle.
    *key = (HKEY)&found->first;
    M().keys.insert(*key);
    Log("RegOpenKeyExA", args, "key");
    return ERROR_SUCCESS;
}

static bool OpenKey(HKEY key, const char *api)
{
    if (M().keys.count(key) == 0) {
        Misuse(std::string(api) + " on a key not open");
        return false;
    }
    return true;
}

// Copies `data` as the registry does: ERROR_MORE_DATA, with the size needed,
// when it does not fit.
static LONG GiveData(const std::string &data, LPBYTE buffer, LPDWORD size)
{
    if (buffer != nullptr && (size == nullptr || *size < data.size())) {
        if (size != nullptr) {
            *size = (DWORD)data.size();
        }
        return 234; // ERROR_MORE_DATA
    }
    if (buffer != nullptr) {
        memcpy(buffer, data.data(), data.size());
    }
    if (size != nullptr) {
        *size = (DWORD)data.size();
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size)
{
    sim::SimBeforeCall("RegQueryValueExA");
    std::lock_guard<std::mutex> guard(M().lock);
    if (!OpenKey(key, "RegQueryValueExA")) {
        return (LONG)ErrorInvalidHandle;
    }
    const RegKey &entry = M().registry[*(const std::string *)key];
    auto found = entry.values.find(Lower(name != nullptr ? name : ""));
    if (reserved != nullptr || found == entry.values.end()) {
        return (LONG)ErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = found->second.type;
    }
    return GiveData(found->second.data, data, size);
}

LONG WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPDWORD type, LPBYTE data, LPDWORD size)
{
    sim::SimBeforeCall("RegEnumValueA");
    std::lock_guard<std::mutex> guard(M().lock);
    if (!OpenKey(key, "RegEnumValueA")) {
        return (LONG)ErrorInvalidHandle;
    }
    const RegKey &entry = M().registry[*(const std::string *)key];
    if (reserved != nullptr) {
        Misuse("RegEnumValueA with a reserved argument");
    }
    if (index >= entry.values.size()) {
        return 259; // ERROR_NO_MORE_ITEMS
    }
    auto found = entry.values.begin();
    std::advance(found, index);
    const RegValue &value = found->second;
    if (*nameLength <= value.name.size()) {
        return 234;
    }
    memcpy(name, value.name.c_str(), value.name.size() + 1);
    *nameLength = (DWORD)value.name.size();
    if (type != nullptr) {
        *type = value.type;
    }
    return GiveData(value.data, data, size);
}

LONG WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR,
                          LPDWORD, FILETIME *)
{
    sim::SimBeforeCall("RegEnumKeyExA");
    std::lock_guard<std::mutex> guard(M().lock);
    std::string parent;
    if (key == HKEY_USERS) {
        parent = "hku";
    } else if (OpenKey(key, "RegEnumKeyExA")) {
        parent = *(const std::string *)key;
    } else {
        return (LONG)ErrorInvalidHandle;
    }
    // The distinct names right below the parent, in order.
    std::vector<std::string> names;
    for (const auto &entry : M().registry) {
        if (entry.first.rfind(parent + "\\", 0) != 0) {
            continue;
        }
        size_t start = parent.size() + 1;
        size_t end = entry.first.find('\\', start);
        // The name as set: the same length as its lower-case path.
        std::string below = entry.second.name.substr(
            start, (end == std::string::npos ? entry.first.size() : end) - start);
        if (names.empty() || Lower(names.back()) != Lower(below)) {
            names.push_back(below);
        }
    }
    if (index >= names.size()) {
        return 259;
    }
    if (*nameLength <= names[index].size()) {
        return 234;
    }
    memcpy(name, names[index].c_str(), names[index].size() + 1);
    *nameLength = (DWORD)names[index].size();
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryInfoKeyA(HKEY key, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD, LPDWORD,
                             LPDWORD, LPDWORD, LPDWORD, FILETIME *written)
{
    sim::SimBeforeCall("RegQueryInfoKeyA");
    std::lock_guard<std::mutex> guard(M().lock);
    if (!OpenKey(key, "RegQueryInfoKeyA")) {
        return (LONG)ErrorInvalidHandle;
    }
    unsigned long long time = M().registry[*(const std::string *)key].written;
    if (written != nullptr) {
        written->dwLowDateTime = (DWORD)time;
        written->dwHighDateTime = (DWORD)(time >> 32);
    }
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY key)
{
    sim::SimBeforeCall("RegCloseKey");
    std::lock_guard<std::mutex> guard(M().lock);
    if (M().keys.erase(key) == 0) {
        Misuse("RegCloseKey of a key not open");
        return (LONG)ErrorInvalidHandle;
    }
    return ERROR_SUCCESS;
}

} // extern "C"
