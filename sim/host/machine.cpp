// The rest of the platform, for the installation check: files with their
// permissions, libraries loaded at run time, the registry, the process list,
// the console, the system's version and clock, accounts and local groups,
// physical memory and free system PTEs.
// This file holds the machine's state and the test's controls; each platform
// library's calls are in the file named for it. Anything that would change
// the machine (writing a file, opening a key for more than reading it) is
// logged as misuse: the check must change nothing.
#include "sim/host/machine.h"

#include <stdlib.h>
#include <string.h>

#include "platform/ewfapi.h"

using namespace fake::detail;

namespace fake
{
namespace machine
{

Machine &M()
{
    static Machine machine;
    return machine;
}

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
        {"S-1-5-32-544", {"BUILTIN", "Administrators", 4, {}}},
        {"S-1-5-18", {"NT AUTHORITY", "SYSTEM", 5, {}}},
        {"S-1-5-32-545", {"BUILTIN", "Users", 4, {}}},
        {"S-1-5-32-546", {"BUILTIN", "Guests", 4, {}}},
        {"S-1-5-11", {"NT AUTHORITY", "Authenticated Users", 5, {}}},
        {"S-1-5-4", {"NT AUTHORITY", "INTERACTIVE", 5, {}}},
        {"S-1-1-0", {"", "Everyone", 5, {}}},
        {"S-1-3-0", {"", "CREATOR OWNER", 5, {}}},
    };
}

std::vector<unsigned char> Image(WORD machine)
{
    // As much of the check's own image as it reads of itself in memory.
    std::string headers = fake::PeImage(machine, {});
    std::vector<unsigned char> image(headers.begin(), headers.end());
    image.resize(0x1000, 0);
    return image;
}

std::u16string Wide(const std::string &text)
{
    return std::u16string(text.begin(), text.end());
}

// The fake's own definitions of what a library exports, by name.
FARPROC Routine(const std::string &name)
{
    static const std::map<std::string, FARPROC> Routines = {
#define EWF_ROUTINE(returns, name, ...) {#name, (FARPROC)(void (*)(void))name},
#define EWF_READ EWF_ROUTINE
#define EWF_WRITE EWF_ROUTINE
#define EWF_LOOKED_UP EWF_ROUTINE
#include "platform/ewfapi_calls.h"
#undef EWF_ROUTINE
        {"EwfMgrIsHormActivated", (FARPROC)(void (*)(void))EwfMgrIsHORMActivated},
        {"NetUserGetLocalGroups", (FARPROC)(void (*)(void))FakeNetUserGetLocalGroups},

        {"NetApiBufferFree", (FARPROC)(void (*)(void))FakeNetApiBufferFree},
        {"GetTickCount64", (FARPROC)(void (*)(void))FakeGetTickCount64},
    };
    auto found = Routines.find(name);
    return found != Routines.end() ? found->second : nullptr;
}

const fake::Process *ProcessById(DWORD id)
{
    for (const fake::Process &process : M().processes) {
        if (process.id == id) {
            return &process;
        }
    }
    return nullptr;
}

const fake::Process *OpenedProcess(HANDLE handle)
{
    auto found = M().processHandles.find(handle);
    return found != M().processHandles.end() ? ProcessById(found->second.first) : nullptr;
}

} // namespace machine
} // namespace fake

using namespace fake::machine;

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
    if (M().snapshots.erase(handle) != 0 || M().moduleSnapshots.erase(handle) != 0) {
        *kind = "snapshot";
        return true;
    }
    if (M().processHandles.erase(handle) != 0) {
        *kind = "process";
        return true;
    }
    return false;
}

bool MachineProcessToken(HANDLE process, DWORD access, HANDLE token, DWORD *error)
{
    std::lock_guard<std::mutex> guard(M().lock);
    if (process == (HANDLE)(LONG_PTR)-1) {
        M().tokenProcesses[token] = OwnProcessId;
        return true;
    }
    const fake::Process *opened = OpenedProcess(process);
    *error = ErrorInvalidHandle;
    if (opened == nullptr) {
        Misuse("OpenProcessToken on a process not opened");
        return false;
    }
    if (access != TOKEN_QUERY) {
        Misuse("OpenProcessToken for more than querying: " + sim::Hex(access));
    }
    *error = opened->tokenError;
    if (*error != 0) {
        return false;
    }
    M().tokenProcesses[token] = opened->id;
    return true;
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
    m.fileNames.clear();
    m.libraries.clear();
    m.modules.clear();
    m.openFiles.clear();
    m.snapshots.clear();
    m.keys.clear();
    m.netBuffers.clear();
    m.registry.clear();
    m.finds.clear();
    m.now = TestNow;
    m.uptimeMs = 3600000;
    m.processes.clear();
    m.processHandles.clear();
    m.tokenProcesses.clear();
    m.moduleSnapshots.clear();
    m.consoleSession = 1;
    m.checkSession = 1;
    m.checkUser = "S-1-5-21-7-7-7-500";
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
    m.totalPhys = 2048ull << 20;
    m.availPhys = 1536ull << 20;
    m.ntQueryKnown = true;
    m.freeSystemPtes = 150000;
    m.output.clear();
    m.errorOutput.clear();
    m.handler = nullptr;
    m.tickBase = 0;
    m.environment = {
        {"programdata", "C:\\ProgramData"}, {"systemroot", "C:\\WINDOWS"}, {"systemdrive", "C:"}};
}

void MachineLeft(Outstanding *left)
{
    std::lock_guard<std::mutex> guard(M().lock);
    for (const auto &library : M().libraries) {
        left->libraries += library.second.loaded;
    }
    left->files = M().openFiles.size() + M().finds.size();
    left->keys = M().keys.size();
    left->snapshots = M().snapshots.size() + M().moduleSnapshots.size();
    left->processes = M().processHandles.size();
    left->netBuffers = M().netBuffers.size();
}

} // namespace detail

// ---- the test's controls ----

File &AddFile(const std::string &path, const std::string &bytes)
{
    File &file = M().files[Lower(path)];
    M().fileNames[Lower(path)] = path;
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

std::string PeImage(WORD machine, const std::vector<std::string> &exports,
                    const std::map<std::string, std::string> &forwards)
{
    // Headers, then one section at RVA 0x1000 holding the export directory,
    // its three arrays and their strings; functions that are not forwarders
    // point past every section, where code would be.
    bool wide = machine == 0x8664;
    size_t optionalSize = wide ? 240 : 224;
    std::vector<unsigned char> image(0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x80);
    memcpy(&image[0x80], "PE\0\0", 4);
    Put16(image, 0x84, machine);
    Put16(image, 0x86, 1);
    Put16(image, 0x94, (unsigned)optionalSize);
    size_t optional = 0x98;
    Put16(image, optional, wide ? 0x20B : 0x10B);
    size_t directories = optional + (wide ? 112 : 96);
    Put32(image, directories - 4, 16);

    std::set<std::string> names(exports.begin(), exports.end());
    for (const auto &forward : forwards) {
        names.insert(forward.first);
    }
    const unsigned long base = 0x1000;
    std::vector<unsigned char> data(40, 0);
    size_t count = names.size();
    size_t functions = data.size();
    size_t namePointers = functions + 4 * count;
    size_t ordinals = namePointers + 4 * count;
    data.resize(ordinals + 2 * count, 0);
    size_t i = 0;
    for (const std::string &name : names) {
        Put32(data, namePointers + 4 * i, base + (unsigned long)data.size());
        data.insert(data.end(), name.begin(), name.end());
        data.push_back(0);
        Put16(data, ordinals + 2 * i, (unsigned)i);
        auto forward = forwards.find(name);
        if (forward != forwards.end()) {
            Put32(data, functions + 4 * i, base + (unsigned long)data.size());
            data.insert(data.end(), forward->second.begin(), forward->second.end());
            data.push_back(0);
        } else {
            Put32(data, functions + 4 * i, 0x8000 + 0x10 * (unsigned long)i);
        }
        ++i;
    }
    Put32(data, 20, (unsigned long)count);
    Put32(data, 24, (unsigned long)count);
    Put32(data, 28, base + (unsigned long)functions);
    Put32(data, 32, base + (unsigned long)namePointers);
    Put32(data, 36, base + (unsigned long)ordinals);
    Put32(image, directories, base);
    Put32(image, directories + 4, (unsigned long)data.size());

    size_t section = optional + optionalSize;
    memcpy(&image[section], ".edata", 6);
    Put32(image, section + 8, (unsigned long)data.size());
    Put32(image, section + 12, base);
    Put32(image, section + 16, (unsigned long)data.size());
    Put32(image, section + 20, 0x200);
    image.insert(image.end(), data.begin(), data.end());
    return std::string(image.begin(), image.end());
}

File &AddLibrary(const std::string &path, const std::vector<std::string> &exports,
                 const std::map<std::string, std::string> &forwards)
{
    WORD machine = (WORD)(M().image[0x84] | M().image[0x85] << 8);
    Library &library = M().libraries[Lower(path)];
    library.path = path;
    library.exports = std::set<std::string>(exports.begin(), exports.end());
    return AddFile(path, PeImage(machine, exports, forwards));
}

std::vector<std::string> EwfExports()
{
#define EWF_IMPORTED(returns, name, ...) #name,
#define EWF_READ EWF_IMPORTED
#define EWF_WRITE EWF_IMPORTED
    return {
#include "platform/ewfapi_calls.h"
    };
#undef EWF_IMPORTED
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

void SetMemory(unsigned long long total, unsigned long long available)
{
    M().totalPhys = total;
    M().availPhys = available;
}

void SetFreeSystemPtes(DWORD count, bool callKnown)
{
    M().freeSystemPtes = count;
    M().ntQueryKnown = callKnown;
}

void SetCommandLine(const std::string &line)
{
    M().commandLine = line;
}

void SetCurrentFolder(const std::string &path)
{
    M().currentFolder = path;
}

void SetEnvironment(const std::string &name, const std::string &value)
{
    if (value.empty()) {
        M().environment.erase(Lower(name));
    } else {
        M().environment[Lower(name)] = value;
    }
}

void SetRegistryDword(const std::string &key, const std::string &name, DWORD value)
{
    SetRegistryValue(key, name, 4, std::string((const char *)&value, sizeof value));
}

void SetRegistryValue(const std::string &key, const std::string &name, DWORD type,
                      const std::string &data)
{
    RegKey &entry = M().registry[Lower(key)];
    entry.name = key;
    entry.values[Lower(name)] = {name, type, data};
}

void SetKeyWritten(const std::string &key, unsigned long long written, DWORD openError)
{
    RegKey &entry = M().registry[Lower(key)];
    entry.name = key;
    entry.written = written;
    entry.openError = openError;
}

void SetClock(unsigned long long now, unsigned long long uptimeMs)
{
    M().now = now;
    M().uptimeMs = uptimeMs;
}

unsigned long long WallClock()
{
    return M().now + fake::Now() * 10000;
}

Process &AddProcess(DWORD id, const std::string &exeFile)
{
    Process process;
    process.id = id;
    process.exeFile = exeFile;
    process.path = "C:\\Tovrin\\" + exeFile;
    M().processes.push_back(process);
    return M().processes.back();
}

void SetConsoleSession(DWORD session, DWORD checkSession, const std::string &checkUser)
{
    M().consoleSession = session;
    M().checkSession = checkSession == 0xFFFFFFFEu ? session : checkSession;
    M().checkUser = checkUser.empty() ? M().checkUser : checkUser;
}

void AddAccount(const std::string &sid, const std::string &domain, const std::string &name, int use,
                const std::vector<std::string> &groups)
{
    M().accounts[sid] = {domain, name, use, groups};
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
