// The rest of the platform, for the installation check: files with their
// permissions, libraries loaded at run time, the registry, the process list,
// the console, the system's version and clock, accounts and local groups.
// Anything that would change the machine (writing a file, opening a key for
// more than reading it) is logged as misuse: the check must change nothing.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "sim/host/fake.h"
#include "sim/host/internal.h"

#include "platform/advapi32.h"
#include "platform/ewfapi.h"
#include "platform/netapi32.h"

using namespace fake::detail;

namespace
{

const DWORD ErrorFileNotFound = 2;
const DWORD ErrorInvalidHandle = 6;
const DWORD ErrorInsufficientBuffer = 122;
const DWORD ErrorModNotFound = 126;
const DWORD ErrorProcNotFound = 127;
const DWORD ErrorNoMoreFiles = 18;
const DWORD ErrorNoneMapped = 1332;

struct OpenFile {
    std::string path;
    size_t position = 0;
};

struct Library {
    std::string path;
    std::set<std::string> exports;
    unsigned loaded = 0;
};

struct Account {
    std::string domain;
    std::string name;
    int use = 0;
};

struct Machine {
    std::mutex lock;
    std::map<std::string, fake::File> files;
    std::map<std::string, Library> libraries;
    std::map<HMODULE, std::string> modules;
    std::map<HANDLE, OpenFile> openFiles;
    std::map<HANDLE, size_t> snapshots;
    std::set<HKEY> keys;
    std::set<void *> netBuffers;
    std::map<std::string, std::map<std::string, DWORD>> registry;
    std::vector<std::pair<DWORD, std::string>> processes;
    std::map<std::string, Account> accounts;
    std::vector<std::string> administrators;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string commandLine = "tovrin-check.exe";
    std::string currentFolder = "C:\\Tovrin";
    DWORD major = 5, minor = 1, build = 2600;
    std::string servicePack = "Service Pack 3";
    std::vector<unsigned char> image;
    bool wow64Known = true;
    bool wow64 = false;
    std::string output;
    std::string errorOutput;
    PHANDLER_ROUTINE handler = nullptr;
    std::vector<std::thread> ctrlThreads;
    // Whether the latest handler has done its work and waits or has returned.
    bool handlerSettled = true;
    std::condition_variable settled;
    DWORD tickBase = 0;
    uintptr_t nextModule = 0x7000000;
};

Machine &M()
{
    static Machine machine;
    return machine;
}

// Stand-ins for handles that are not objects of the fake.
HANDLE const StdOutput = (HANDLE)(uintptr_t)0x3001;
HANDLE const StdError = (HANDLE)(uintptr_t)0x3002;
HMODULE const Kernel32 = (HMODULE)(uintptr_t)0x6000000;

std::string Lower(std::string text)
{
    for (char &c : text) {
        c = (char)tolower((unsigned char)c);
    }
    return text;
}

std::vector<unsigned char> SidBytes(const std::string &text)
{
    // "S-1-5-32-544": revision, authority, sub-authorities.
    std::vector<unsigned long long> parts;
    size_t start = 2;
    while (start <= text.size()) {
        size_t end = text.find('-', start);
        parts.push_back(strtoull(text.substr(start, end - start).c_str(), nullptr, 10));
        start = end == std::string::npos ? text.size() + 1 : end + 1;
    }
    std::vector<unsigned char> bytes = {(unsigned char)parts[0], (unsigned char)(parts.size() - 2)};
    for (int shift = 40; shift >= 0; shift -= 8) {
        bytes.push_back((unsigned char)(parts[1] >> shift));
    }
    for (size_t i = 2; i < parts.size(); ++i) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back((unsigned char)(parts[i] >> shift));
        }
    }
    return bytes;
}

std::string SidText(const void *sid)
{
    const unsigned char *bytes = (const unsigned char *)sid;
    unsigned long long authority = 0;
    for (int i = 2; i < 8; ++i) {
        authority = authority << 8 | bytes[i];
    }
    std::string text = "S-" + std::to_string(bytes[0]) + "-" + std::to_string(authority);
    for (int i = 0; i < bytes[1]; ++i) {
        const unsigned char *part = bytes + 8 + 4 * i;
        text += "-" + std::to_string((unsigned long)part[0] | (unsigned long)part[1] << 8 |
                                     (unsigned long)part[2] << 16 | (unsigned long)part[3] << 24);
    }
    return text;
}

void Put16(std::vector<unsigned char> &out, size_t at, unsigned value)
{
    out[at] = (unsigned char)value;
    out[at + 1] = (unsigned char)(value >> 8);
}

void Put32(std::vector<unsigned char> &out, size_t at, unsigned long value)
{
    for (int i = 0; i < 4; ++i) {
        out[at + i] = (unsigned char)(value >> (8 * i));
    }
}

// A self-relative security descriptor: header, owner, then the DACL.
std::vector<unsigned char> Descriptor(const fake::File &file)
{
    std::vector<unsigned char> out(20, 0);
    out[0] = 1;
    Put16(out, 2, 0x8000 /* self-relative */ | 0x0004 /* DACL present */);
    std::vector<unsigned char> owner = SidBytes(file.owner);
    Put32(out, 4, (unsigned long)out.size());
    out.insert(out.end(), owner.begin(), owner.end());
    if (file.nullDacl) {
        return out;
    }
    size_t acl = out.size();
    Put32(out, 16, (unsigned long)acl);
    out.resize(acl + 8, 0);
    out[acl] = 2;
    for (const fake::Ace &ace : file.aces) {
        std::vector<unsigned char> sid = SidBytes(ace.sid);
        size_t at = out.size();
        out.resize(at + 8 + sid.size(), 0);
        out[at] = ace.type;
        out[at + 1] = ace.flags;
        Put16(out, at + 2, (unsigned)(8 + sid.size()));
        Put32(out, at + 4, ace.mask);
        memcpy(&out[at + 8], sid.data(), sid.size());
    }
    Put16(out, acl + 2, (unsigned)(out.size() - acl));
    Put16(out, acl + 4, (unsigned)file.aces.size());
    return out;
}

// The file at `path`, from the files or the profiles; null when none.
bool FindFile(const std::string &path, fake::File *file)
{
    auto found = M().files.find(Lower(path));
    if (found != M().files.end()) {
        *file = found->second;
        return true;
    }
    std::string contents;
    if (ProfileContents(path, &contents)) {
        *file = fake::File();
        file->bytes = contents;
        return true;
    }
    return false;
}

void FillLookupDefaults()
{
    M().accounts = {
        {"S-1-5-32-544", {"BUILTIN", "Administrators", 4}},
        {"S-1-5-18", {"NT AUTHORITY", "SYSTEM", 5}},
        {"S-1-5-32-545", {"BUILTIN", "Users", 4}},
        {"S-1-5-32-546", {"BUILTIN", "Guests", 4}},
        {"S-1-5-11", {"NT AUTHORITY", "Authenticated Users", 5}},
        {"S-1-5-4", {"NT AUTHORITY", "INTERACTIVE", 5}},
        {"S-1-1-0", {"", "Everyone", 5}},
        {"S-1-3-0", {"", "CREATOR OWNER", 5}},
    };
}

std::vector<unsigned char> Image(WORD machine)
{
    std::vector<unsigned char> image(0x1000, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x80);
    memcpy(&image[0x80], "PE\0\0", 4);
    Put16(image, 0x84, machine);
    return image;
}

BOOL WINAPI FakeIsWow64Process(HANDLE process, BOOL *wow64)
{
    sim::SimBeforeCall("IsWow64Process");
    *wow64 = M().wow64;
    Log("IsWow64Process", process == (HANDLE)(LONG_PTR)-1 ? "process" : "other",
        M().wow64 ? "TRUE, wow64" : "TRUE, native");
    return TRUE;
}

std::u16string Wide(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

DWORD WINAPI FakeNetLocalGroupGetMembers(LPCWSTR server, LPCWSTR group, DWORD level, BYTE **buffer,
                                         DWORD, LPDWORD read, LPDWORD total, ULONG_PTR *)
{
    sim::SimBeforeCall("NetLocalGroupGetMembers");
    std::string name = sim::Narrow(group != nullptr ? group : u"");
    std::string args = std::string(server == nullptr ? "local" : "remote") + ", " + name + ", " +
                       std::to_string(level);
    DWORD error = 0;
    if (sim::ShouldFail("NetLocalGroupGetMembers", nullptr, &error)) {
        Log("NetLocalGroupGetMembers", args, "error " + std::to_string(error));
        return error;
    }
    if (level != 0 || name != "Administrators") {
        Log("NetLocalGroupGetMembers", args, "no such group");
        return 2220; // NERR_GroupNotFound
    }
    // One block: the member records, then the SIDs they point at.
    const std::vector<std::string> &members = M().administrators;
    size_t size = members.size() * sizeof(NET_LOCALGROUP_MEMBER);
    for (const std::string &sid : members) {
        size += SidBytes(sid).size();
    }
    unsigned char *block = (unsigned char *)calloc(1, size + 1);
    NET_LOCALGROUP_MEMBER *records = (NET_LOCALGROUP_MEMBER *)block;
    unsigned char *next = block + members.size() * sizeof(NET_LOCALGROUP_MEMBER);
    for (size_t i = 0; i < members.size(); ++i) {
        std::vector<unsigned char> sid = SidBytes(members[i]);
        memcpy(next, sid.data(), sid.size());
        records[i].Sid = next;
        next += sid.size();
    }
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().netBuffers.insert(block);
    }
    *buffer = block;
    *read = *total = (DWORD)members.size();
    Log("NetLocalGroupGetMembers", args, std::to_string(members.size()) + " members");
    return NETAPI_SUCCESS;
}

DWORD WINAPI FakeNetApiBufferFree(LPVOID buffer)
{
    sim::SimBeforeCall("NetApiBufferFree");
    bool known;
    {
        std::lock_guard<std::mutex> guard(M().lock);
        known = M().netBuffers.erase(buffer) != 0;
    }
    if (!known) {
        Misuse("NetApiBufferFree of a buffer not handed out");
        return 87;
    }
    free(buffer);
    Log("NetApiBufferFree", "buffer", "");
    return NETAPI_SUCCESS;
}

// The fake's own definitions of what a library exports, by name.
FARPROC Routine(const std::string &name)
{
    static const std::map<std::string, FARPROC> Routines = {
        {"EwfMgrClose", (FARPROC)(void (*)(void))EwfMgrClose},
        {"EwfMgrCommitAndDisableLive", (FARPROC)(void (*)(void))EwfMgrCommitAndDisableLive},
        {"EwfMgrEnable", (FARPROC)(void (*)(void))EwfMgrEnable},
        {"EwfMgrGetDriveLetterFromVolumeName",
         (FARPROC)(void (*)(void))EwfMgrGetDriveLetterFromVolumeName},
        {"EwfMgrGetProtectedVolumeConfig", (FARPROC)(void (*)(void))EwfMgrGetProtectedVolumeConfig},
        {"EwfMgrGetProtectedVolumeList", (FARPROC)(void (*)(void))EwfMgrGetProtectedVolumeList},
        {"EwfMgrOpenProtected", (FARPROC)(void (*)(void))EwfMgrOpenProtected},
        {"EwfMgrVolumeNameEntryPop", (FARPROC)(void (*)(void))EwfMgrVolumeNameEntryPop},
        {"EwfMgrVolumeNameListDelete", (FARPROC)(void (*)(void))EwfMgrVolumeNameListDelete},
        {"EwfMgrVolumeNameListIsEmpty", (FARPROC)(void (*)(void))EwfMgrVolumeNameListIsEmpty},
        {"NetLocalGroupGetMembers", (FARPROC)(void (*)(void))FakeNetLocalGroupGetMembers},
        {"NetApiBufferFree", (FARPROC)(void (*)(void))FakeNetApiBufferFree},
    };
    auto found = Routines.find(name);
    return found != Routines.end() ? found->second : nullptr;
}

} // namespace

// ---- hooks for fake.cpp ----

namespace fake
{
namespace detail
{

void HandlerSettled()
{
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().handlerSettled = true;
    }
    M().settled.notify_all();
}

bool CloseMachineHandle(HANDLE handle, std::string *kind)
{
    std::lock_guard<std::mutex> guard(M().lock);
    if (M().openFiles.erase(handle) != 0) {
        *kind = "file";
        return true;
    }
    if (M().snapshots.erase(handle) != 0) {
        *kind = "snapshot";
        return true;
    }
    return false;
}

bool LibraryPath(HMODULE module, std::string *path)
{
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().modules.find(module);
    if (found == M().modules.end()) {
        return false;
    }
    *path = M().libraries[found->second].path;
    return true;
}

void ResetMachine()
{
    Machine &m = M();
    for (std::thread &thread : m.ctrlThreads) {
        thread.join();
    }
    std::lock_guard<std::mutex> guard(m.lock);
    for (void *buffer : m.netBuffers) {
        free(buffer);
    }
    m.ctrlThreads.clear();
    m.files.clear();
    m.libraries.clear();
    m.modules.clear();
    m.openFiles.clear();
    m.snapshots.clear();
    m.keys.clear();
    m.netBuffers.clear();
    m.registry.clear();
    m.processes.clear();
    FillLookupDefaults();
    m.administrators.clear();
    m.systemDirectory = "C:\\WINDOWS\\system32";
    m.commandLine = "tovrin-check.exe";
    m.currentFolder = "C:\\Tovrin";
    m.major = 5;
    m.minor = 1;
    m.build = 2600;
    m.servicePack = "Service Pack 3";
    m.image = Image(0x14C);
    m.wow64Known = true;
    m.wow64 = false;
    m.output.clear();
    m.errorOutput.clear();
    m.handler = nullptr;
    m.tickBase = 0;
}

void MachineLeft(Outstanding *left)
{
    std::lock_guard<std::mutex> guard(M().lock);
    for (const auto &library : M().libraries) {
        left->libraries += library.second.loaded;
    }
    left->files = M().openFiles.size();
    left->keys = M().keys.size();
    left->snapshots = M().snapshots.size();
    left->netBuffers = M().netBuffers.size();
}

} // namespace detail

// ---- the test's controls ----

File &AddFile(const std::string &path, const std::string &bytes)
{
    File &file = M().files[Lower(path)];
    file = File();
    file.bytes = bytes;
    return file;
}

File &AddFolder(const std::string &path)
{
    File &file = AddFile(path);
    file.folder = true;
    return file;
}

void SetSystemDirectory(const std::string &path)
{
    M().systemDirectory = path;
}

void AddLibrary(const std::string &path, const std::vector<std::string> &exports)
{
    AddFile(path, "MZ");
    Library &library = M().libraries[Lower(path)];
    library.path = path;
    library.exports = std::set<std::string>(exports.begin(), exports.end());
}

std::vector<std::string> EwfExports()
{
    return {"EwfMgrClose",
            "EwfMgrCommitAndDisableLive",
            "EwfMgrEnable",
            "EwfMgrGetDriveLetterFromVolumeName",
            "EwfMgrGetProtectedVolumeConfig",
            "EwfMgrGetProtectedVolumeList",
            "EwfMgrOpenProtected",
            "EwfMgrVolumeNameEntryPop",
            "EwfMgrVolumeNameListDelete",
            "EwfMgrVolumeNameListIsEmpty"};
}

void SetVersion(DWORD major, DWORD minor, DWORD build, const std::string &servicePack)
{
    M().major = major;
    M().minor = minor;
    M().build = build;
    M().servicePack = servicePack;
}

void SetOwnMachine(WORD machine)
{
    M().image = Image(machine);
}

void SetWow64(bool wow64Known, bool wow64)
{
    M().wow64Known = wow64Known;
    M().wow64 = wow64;
}

void SetCommandLine(const std::string &line)
{
    M().commandLine = line;
}

void SetCurrentFolder(const std::string &path)
{
    M().currentFolder = path;
}

void SetRegistryDword(const std::string &key, const std::string &name, DWORD value)
{
    M().registry[Lower(key)][name] = value;
}

void AddProcess(DWORD id, const std::string &exeFile)
{
    M().processes.push_back({id, exeFile});
}

void AddAccount(const std::string &sid, const std::string &domain, const std::string &name, int use)
{
    M().accounts[sid] = {domain, name, use};
}

void SetAdministrators(const std::vector<std::string> &sids)
{
    M().administrators = sids;
}

std::string Output()
{
    std::lock_guard<std::mutex> guard(M().lock);
    return M().output;
}

std::string ErrorOutput()
{
    std::lock_guard<std::mutex> guard(M().lock);
    return M().errorOutput;
}

bool PressCtrl(DWORD event)
{
    Machine &m = M();
    PHANDLER_ROUTINE handler;
    {
        std::lock_guard<std::mutex> guard(m.lock);
        handler = m.handler;
    }
    if (handler == nullptr) {
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m.lock);
        m.handlerSettled = false;
    }
    m.ctrlThreads.emplace_back([handler, event] {
        handler(event);
        HandlerSettled();
    });
    // As if the system's thread had run at once: whatever the handler sets
    // before it waits is set when the program goes on.
    std::unique_lock<std::mutex> guard(m.lock);
    m.settled.wait_for(guard, std::chrono::seconds(20), [&m] { return m.handlerSettled; });
    return true;
}

void SetTickBase(DWORD base)
{
    M().tickBase = base;
}

} // namespace fake

// ---- the platform calls ----

extern "C" {

VOID WINAPI SetLastError(DWORD error)
{
    LastError = error;
}

// The machine's ANSI code page is 932, as on the Japanese systems the check
// is run on.
BOOL WINAPI IsDBCSLeadByte(BYTE c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

LPSTR WINAPI GetCommandLineA(void)
{
    sim::SimBeforeCall("GetCommandLineA");
    Log("GetCommandLineA", "", Quote(M().commandLine.c_str()));
    return &M().commandLine[0];
}

HANDLE WINAPI GetStdHandle(DWORD which)
{
    sim::SimBeforeCall("GetStdHandle");
    HANDLE handle = which == STD_OUTPUT_HANDLE  ? StdOutput
                    : which == STD_ERROR_HANDLE ? StdError
                                                : INVALID_HANDLE_VALUE;
    Log("GetStdHandle", std::to_string((int)which),
        handle == StdOutput  ? "output"
        : handle == StdError ? "error"
                             : "INVALID");
    return handle;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED)
{
    sim::SimBeforeCall("WriteFile");
    if (file != StdOutput && file != StdError) {
        Misuse("WriteFile to something other than the console");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    std::string text((const char *)buffer, count);
    {
        std::lock_guard<std::mutex> guard(M().lock);
        (file == StdOutput ? M().output : M().errorOutput) += text;
    }
    *written = count;
    return TRUE;
}

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add)
{
    sim::SimBeforeCall("SetConsoleCtrlHandler");
    std::lock_guard<std::mutex> guard(M().lock);
    if (add) {
        M().handler = handler;
    } else if (M().handler == handler) {
        M().handler = nullptr;
    }
    return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD flags, HANDLE)
{
    sim::SimBeforeCall("CreateFileA");
    std::string args = Quote(path) + ", " + sim::Hex(access) + ", " + sim::Hex(share) + ", " +
                       std::to_string(disposition) + ", " + sim::Hex(flags);
    if (access != GENERIC_READ || disposition != OPEN_EXISTING) {
        Misuse("CreateFileA for more than reading what exists: " + args);
    }
    fake::File file;
    if (Failing("CreateFileA", args, "INVALID")) {
        return INVALID_HANDLE_VALUE;
    }
    if (!FindFile(path, &file) || file.openError != 0) {
        LastError = file.openError != 0 ? file.openError : ErrorFileNotFound;
        Log("CreateFileA", args, "INVALID, LE " + std::to_string(LastError));
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = NewHandle();
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().openFiles[handle] = {path, 0};
    }
    Log("CreateFileA", args, "file");
    return handle;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED)
{
    sim::SimBeforeCall("ReadFile");
    std::string path;
    size_t position = 0;
    {
        std::lock_guard<std::mutex> guard(M().lock);
        auto open = M().openFiles.find(handle);
        if (open == M().openFiles.end()) {
            Misuse("ReadFile of a handle not open");
            LastError = ErrorInvalidHandle;
            return FALSE;
        }
        path = open->second.path;
        position = open->second.position;
    }
    if (Failing("ReadFile", path, "FALSE")) {
        return FALSE;
    }
    fake::File file;
    FindFile(path, &file);
    size_t available = position < file.bytes.size() ? file.bytes.size() - position : 0;
    size_t copied = available < count ? available : count;
    memcpy(buffer, file.bytes.data() + position, copied);
    *read = (DWORD)copied;
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().openFiles[handle].position = position + copied;
    }
    Log("ReadFile", path, std::to_string(copied));
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR path)
{
    sim::SimBeforeCall("GetFileAttributesA");
    if (Failing("GetFileAttributesA", Quote(path), "INVALID")) {
        return INVALID_FILE_ATTRIBUTES;
    }
    fake::File file;
    if (!FindFile(path, &file)) {
        LastError = ErrorFileNotFound;
        Log("GetFileAttributesA", Quote(path), "INVALID, LE 2");
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = file.folder ? FILE_ATTRIBUTE_DIRECTORY : 0x80 /* normal */;
    Log("GetFileAttributesA", Quote(path), sim::Hex(attributes));
    return attributes;
}

DWORD WINAPI GetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR *filePart)
{
    sim::SimBeforeCall("GetFullPathNameA");
    if (Failing("GetFullPathNameA", Quote(path), "0")) {
        return 0;
    }
    std::string given = path;
    bool absolute = (given.size() >= 2 && given[1] == ':') || given.rfind("\\\\", 0) == 0;
    std::string full = absolute ? given : M().currentFolder + "\\" + given;
    if (full.size() >= size) {
        Log("GetFullPathNameA", Quote(path), std::to_string(full.size() + 1) + " needed");
        return (DWORD)full.size() + 1;
    }
    memcpy(buffer, full.c_str(), full.size() + 1);
    if (filePart != nullptr) {
        size_t slash = full.find_last_of('\\');
        *filePart = buffer + (slash == std::string::npos ? 0 : slash + 1);
    }
    Log("GetFullPathNameA", Quote(path), Quote(buffer));
    return (DWORD)full.size();
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size)
{
    sim::SimBeforeCall("GetSystemDirectoryA");
    if (Failing("GetSystemDirectoryA", std::to_string(size), "0")) {
        return 0;
    }
    const std::string &folder = M().systemDirectory;
    if (folder.size() >= size) {
        return (UINT)folder.size() + 1;
    }
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    Log("GetSystemDirectoryA", std::to_string(size), Quote(buffer));
    return (UINT)folder.size();
}

HMODULE WINAPI LoadLibraryExA(LPCSTR path, HANDLE, DWORD flags)
{
    sim::SimBeforeCall("LoadLibraryExA");
    std::string args = Quote(path) + ", " + sim::Hex(flags);
    if (Failing("LoadLibraryExA", args, "null")) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().libraries.find(Lower(path));
    if (found == M().libraries.end()) {
        LastError = ErrorModNotFound;
        Log("LoadLibraryExA", args, "null, LE 126");
        return nullptr;
    }
    ++found->second.loaded;
    HMODULE module = nullptr;
    for (const auto &entry : M().modules) {
        if (entry.second == found->first) {
            module = entry.first;
        }
    }
    if (module == nullptr) {
        module = (HMODULE)M().nextModule;
        M().nextModule += 0x10000;
        M().modules[module] = found->first;
    }
    Log("LoadLibraryExA", args, "module");
    return module;
}

BOOL WINAPI FreeLibrary(HMODULE module)
{
    sim::SimBeforeCall("FreeLibrary");
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().modules.find(module);
    if (found == M().modules.end() || M().libraries[found->second].loaded == 0) {
        Misuse("FreeLibrary of a module not loaded");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    --M().libraries[found->second].loaded;
    Log("FreeLibrary", M().libraries[found->second].path, "TRUE");
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    sim::SimBeforeCall("GetProcAddress");
    std::string args = Quote(name);
    if (module == Kernel32) {
        if (strcmp(name, "IsWow64Process") == 0 && M().wow64Known) {
            Log("GetProcAddress", "kernel32, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeIsWow64Process;
        }
        LastError = ErrorProcNotFound;
        Log("GetProcAddress", "kernel32, " + args, "null, LE 127");
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().modules.find(module);
    if (found == M().modules.end() || M().libraries[found->second].loaded == 0) {
        Misuse("GetProcAddress on a module not loaded");
        LastError = ErrorInvalidHandle;
        return nullptr;
    }
    const Library &library = M().libraries[found->second];
    args = library.path + ", " + args;
    FARPROC routine = library.exports.count(name) != 0 ? Routine(name) : nullptr;
    if (routine == nullptr) {
        LastError = ErrorProcNotFound;
        Log("GetProcAddress", args, "null, LE 127");
        return nullptr;
    }
    Log("GetProcAddress", args, "routine");
    return routine;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    sim::SimBeforeCall("GetModuleHandleA");
    if (name == nullptr) {
        Log("GetModuleHandleA", "null", "image");
        return (HMODULE)M().image.data();
    }
    if (strcasecmp(name, "kernel32.dll") == 0 || strcasecmp(name, "kernel32") == 0) {
        Log("GetModuleHandleA", Quote(name), "kernel32");
        return Kernel32;
    }
    LastError = ErrorModNotFound;
    Log("GetModuleHandleA", Quote(name), "null");
    return nullptr;
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info)
{
    sim::SimBeforeCall("GetVersionExA");
    OSVERSIONINFOEXA *version = (OSVERSIONINFOEXA *)info;
    if (version->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXA)) {
        Misuse("GetVersionExA given a record size of " +
               std::to_string(version->dwOSVersionInfoSize));
    }
    if (Failing("GetVersionExA", "", "FALSE")) {
        return FALSE;
    }
    version->dwMajorVersion = M().major;
    version->dwMinorVersion = M().minor;
    version->dwBuildNumber = M().build;
    version->dwPlatformId = 2;
    memset(version->szCSDVersion, 0, sizeof version->szCSDVersion);
    strncpy(version->szCSDVersion, M().servicePack.c_str(), sizeof version->szCSDVersion);
    Log("GetVersionExA", "", "TRUE");
    return TRUE;
}

VOID WINAPI GetLocalTime(LPSYSTEMTIME time)
{
    sim::SimBeforeCall("GetLocalTime");
    // The clock starts at 10:00:00.000 on the day of the test.
    unsigned long long ms = fake::Now() + 10ull * 3600 * 1000;
    memset(time, 0, sizeof *time);
    time->wYear = 2026;
    time->wMonth = 12;
    time->wDay = 8;
    time->wHour = (WORD)(ms / 3600000 % 24);
    time->wMinute = (WORD)(ms / 60000 % 60);
    time->wSecond = (WORD)(ms / 1000 % 60);
    time->wMilliseconds = (WORD)(ms % 1000);
}

DWORD WINAPI GetTickCount(void)
{
    sim::SimBeforeCall("GetTickCount");
    return (DWORD)(M().tickBase + fake::Now());
}

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T size)
{
    sim::SimBeforeCall("LocalAlloc");
    if (Failing("LocalAlloc", std::to_string(size), "null")) {
        return nullptr;
    }
    void *block = calloc(1, size);
    TrackRecord(block);
    Log("LocalAlloc", std::to_string(flags) + ", " + std::to_string(size), "block");
    return block;
}

HANDLE WINAPI CreateToolhelp32Snapshot(DWORD flags, DWORD process)
{
    sim::SimBeforeCall("CreateToolhelp32Snapshot");
    std::string args = sim::Hex(flags) + ", " + std::to_string(process);
    if (Failing("CreateToolhelp32Snapshot", args, "INVALID")) {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = NewHandle();
    {
        std::lock_guard<std::mutex> guard(M().lock);
        M().snapshots[handle] = 0;
    }
    Log("CreateToolhelp32Snapshot", args, "snapshot");
    return handle;
}

static BOOL NextProcess(const char *api, HANDLE snapshot, LPPROCESSENTRY32 entry, bool first)
{
    sim::SimBeforeCall(api);
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().snapshots.find(snapshot);
    if (found == M().snapshots.end()) {
        Misuse(std::string(api) + " on a snapshot not open");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    if (entry->dwSize != sizeof(PROCESSENTRY32)) {
        Misuse(std::string(api) + " given a record size of " + std::to_string(entry->dwSize));
    }
    if (first) {
        found->second = 0;
    }
    if (found->second >= M().processes.size()) {
        LastError = ErrorNoMoreFiles;
        return FALSE;
    }
    const auto &process = M().processes[found->second++];
    entry->th32ProcessID = process.first;
    memset(entry->szExeFile, 0, sizeof entry->szExeFile);
    strncpy(entry->szExeFile, process.second.c_str(), sizeof entry->szExeFile - 1);
    return TRUE;
}

BOOL WINAPI Process32First(HANDLE snapshot, LPPROCESSENTRY32 entry)
{
    return NextProcess("Process32First", snapshot, entry, true);
}

BOOL WINAPI Process32Next(HANDLE snapshot, LPPROCESSENTRY32 entry)
{
    return NextProcess("Process32Next", snapshot, entry, false);
}

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

LONG WINAPI RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM access, PHKEY key)
{
    sim::SimBeforeCall("RegOpenKeyExA");
    std::string args = std::string(root == HKEY_LOCAL_MACHINE ? "HKLM" : "other") + ", " +
                       Quote(subKey) + ", " + std::to_string(options) + ", " + sim::Hex(access);
    if (access != KEY_QUERY_VALUE) {
        Misuse("RegOpenKeyExA for more than reading values: " + args);
    }
    DWORD error = 0;
    if (sim::ShouldFail("RegOpenKeyExA", nullptr, &error)) {
        Log("RegOpenKeyExA", args, "error " + std::to_string(error));
        return (LONG)error;
    }
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().registry.find(Lower(subKey != nullptr ? subKey : ""));
    if (root != HKEY_LOCAL_MACHINE || found == M().registry.end()) {
        Log("RegOpenKeyExA", args, "error 2");
        return (LONG)ErrorFileNotFound;
    }
    // The key's name stands for its handle.
    *key = (HKEY)&found->first;
    M().keys.insert(*key);
    Log("RegOpenKeyExA", args, "key");
    return ERROR_SUCCESS;
}

LONG WINAPI RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                             LPDWORD size)
{
    sim::SimBeforeCall("RegQueryValueExA");
    std::lock_guard<std::mutex> guard(M().lock);
    if (M().keys.count(key) == 0) {
        Misuse("RegQueryValueExA on a key not open");
        return (LONG)ErrorInvalidHandle;
    }
    const std::map<std::string, DWORD> &values = M().registry[*(const std::string *)key];
    auto found = values.find(name != nullptr ? name : "");
    if (reserved != nullptr || found == values.end()) {
        return (LONG)ErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = REG_DWORD;
    }
    if (data != nullptr) {
        if (size == nullptr || *size < sizeof(DWORD)) {
            return 234; // ERROR_MORE_DATA
        }
        memcpy(data, &found->second, sizeof(DWORD));
    }
    if (size != nullptr) {
        *size = sizeof(DWORD);
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
