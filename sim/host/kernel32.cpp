// KERNEL32 of the machine the installation check looks at: files, the
// console, libraries loaded at run time, the system's version and clock, the
// process list and what may be read of each process.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "sim/host/machine.h"

using namespace fake::detail;
using namespace fake::machine;

namespace fake
{
namespace machine
{

BOOL WINAPI FakeIsWow64Process(HANDLE process, BOOL *wow64)
{
    sim::SimBeforeCall("IsWow64Process");
    const fake::Process *opened = nullptr;
    if (process != (HANDLE)(LONG_PTR)-1) {
        std::lock_guard<std::mutex> guard(M().lock);
        opened = OpenedProcess(process);
        if (opened == nullptr) {
            Misuse("IsWow64Process on a process not opened");
            LastError = ErrorInvalidHandle;
            return FALSE;
        }
    }
    *wow64 = opened != nullptr ? opened->wow64 : M().wow64;
    Log("IsWow64Process", opened == nullptr ? "process" : std::to_string(opened->id),
        *wow64 ? "TRUE, wow64" : "TRUE, native");
    return TRUE;
}

BOOL WINAPI FakeQueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, DWORD *size)
{
    sim::SimBeforeCall("QueryFullProcessImageNameA");
    std::lock_guard<std::mutex> guard(M().lock);
    const fake::Process *opened = OpenedProcess(process);
    if (opened == nullptr) {
        Misuse("QueryFullProcessImageNameA on a process not opened");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    std::string args =
        std::to_string(opened->id) + ", " + std::to_string(flags) + ", " + std::to_string(*size);
    DWORD error = opened->pathError;
    if (error == 0 && *size <= opened->path.size()) {
        error = ErrorInsufficientBuffer;
    }
    if (error != 0) {
        LastError = error;
        Log("QueryFullProcessImageNameA", args, "FALSE, LE " + std::to_string(error));
        return FALSE;
    }
    memcpy(name, opened->path.c_str(), opened->path.size() + 1);
    *size = (DWORD)opened->path.size();
    Log("QueryFullProcessImageNameA", args, opened->path);
    return TRUE;
}

UINT WINAPI FakeGetSystemWow64DirectoryA(LPSTR buffer, UINT size)
{
    sim::SimBeforeCall("GetSystemWow64DirectoryA");
    bool is64 = M().image[0x84] == 0x64 || (M().wow64Known && M().wow64);
    if (!is64) {
        LastError = 120; // ERROR_CALL_NOT_IMPLEMENTED, as on 32-bit Windows
        Log("GetSystemWow64DirectoryA", std::to_string(size), "0, LE 120");
        return 0;
    }
    const std::string &folder = M().wow64Directory;
    if (size <= folder.size()) {
        Log("GetSystemWow64DirectoryA", std::to_string(size), "too small");
        return (UINT)folder.size() + 1;
    }
    memcpy(buffer, folder.c_str(), folder.size() + 1);
    Log("GetSystemWow64DirectoryA", std::to_string(size), folder);
    return (UINT)folder.size();
}

ULONGLONG WINAPI FakeGetTickCount64(void)
{
    sim::SimBeforeCall("GetTickCount64");
    return M().uptimeMs + fake::Now();
}

// Whether a library at `path` may be loaded: only from a system folder by
// its full path, with its dependencies searched there rather than beside
// the check.
bool LoadedAsASystemLibrary(const std::string &path, DWORD flags)
{
    std::string folder = Lower(path.substr(0, path.find_last_of('\\') + 1));
    return (flags & 0x8) != 0 && (folder == Lower(M().systemDirectory) + "\\" ||
                                  folder == Lower(M().wow64Directory) + "\\");
}

} // namespace machine
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

DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    sim::SimBeforeCall("GetEnvironmentVariableA");
    std::string args = Quote(name) + ", " + std::to_string(size);
    auto found = M().environment.find(Lower(name));
    if (found == M().environment.end()) {
        LastError = 203; // ERROR_ENVVAR_NOT_FOUND
        Log("GetEnvironmentVariableA", args, "0, LE 203");
        return 0;
    }
    const std::string &value = found->second;
    if (size <= value.size()) {
        Log("GetEnvironmentVariableA", args, "too small");
        return (DWORD)value.size() + 1;
    }
    memcpy(buffer, value.c_str(), value.size() + 1);
    Log("GetEnvironmentVariableA", args, value);
    return (DWORD)value.size();
}

// The volume's root: the longest leading folder of the path that is a mount
// point, or else its drive's root.
BOOL WINAPI GetVolumePathNameA(LPCSTR path, LPSTR root, DWORD size)
{
    sim::SimBeforeCall("GetVolumePathNameA");
    if (Failing("GetVolumePathNameA", Quote(path), "FALSE")) {
        return FALSE;
    }
    std::string given = path;
    std::string found = given.substr(0, 2) + "\\";
    for (size_t end = 4; end <= given.size(); ++end) {
        fake::File folder;
        if ((end == given.size() || given[end] == '\\') &&
            FindFile(given.substr(0, end), &folder) && !folder.fileSystem.empty()) {
            found = given.substr(0, end) + "\\";
        }
    }
    snprintf(root, size, "%s", found.c_str());
    Log("GetVolumePathNameA", Quote(path), Quote(root));
    return TRUE;
}

BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial,
                                  LPDWORD longest, LPDWORD flags, LPSTR name, DWORD nameSize)
{
    sim::SimBeforeCall("GetVolumeInformationA");
    if (Failing("GetVolumeInformationA", Quote(root), "FALSE")) {
        return FALSE;
    }
    std::string path = root;
    fake::File volume;
    // A mount point is kept as its folder, without the final backslash.
    if ((!FindFile(path, &volume) || volume.fileSystem.empty()) &&
        !FindFile(path.substr(0, path.size() - 1), &volume)) {
        volume = fake::File();
    }
    if (volume.fileSystem.empty()) {
        volume.fileSystem = "NTFS";
    }
    if (label != nullptr && labelSize > 0) {
        label[0] = '\0';
    }
    if (serial != nullptr) {
        *serial = 0x1234ABCD;
    }
    if (longest != nullptr) {
        *longest = 255;
    }
    if (flags != nullptr) {
        *flags = volume.fileSystemFlags;
    }
    if (name != nullptr) {
        snprintf(name, nameSize, "%s", volume.fileSystem.c_str());
    }
    Log("GetVolumeInformationA", Quote(root),
        volume.fileSystem + ", " + sim::Hex(volume.fileSystemFlags));
    return TRUE;
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
    if (!LoadedAsASystemLibrary(path, flags)) {
        Misuse("LoadLibraryExA(" + args +
               "): a library may run its code only when it is "
               "the system's, loaded by full path with LOAD_WITH_ALTERED_SEARCH_PATH");
    }
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
    if (module == Ntdll) {
        if (strcmp(name, "NtQuerySystemInformation") == 0 && M().ntQueryKnown) {
            Log("GetProcAddress", "ntdll, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeNtQuerySystemInformation;
        }
        LastError = ErrorProcNotFound;
        Log("GetProcAddress", "ntdll, " + args, "null, LE 127");
        return nullptr;
    }
    if (module == Kernel32) {
        if (strcmp(name, "IsWow64Process") == 0 && M().wow64Known) {
            Log("GetProcAddress", "kernel32, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeIsWow64Process;
        }
        if (strcmp(name, "QueryFullProcessImageNameA") == 0 && M().major >= 6) {
            Log("GetProcAddress", "kernel32, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeQueryFullProcessImageNameA;
        }
        if (strcmp(name, "GetTickCount64") == 0 && M().major >= 6) {
            Log("GetProcAddress", "kernel32, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeGetTickCount64;
        }
        if (strcmp(name, "GetSystemWow64DirectoryA") == 0) {
            Log("GetProcAddress", "kernel32, " + args, "routine");
            return (FARPROC)(void (*)(void))FakeGetSystemWow64DirectoryA;
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
    if (strcasecmp(name, "ntdll.dll") == 0) {
        Log("GetModuleHandleA", Quote(name), "ntdll");
        return Ntdll;
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
    if ((flags & ~(TH32CS_SNAPPROCESS | TH32CS_SNAPMODULE)) != 0 ||
        (flags == TH32CS_SNAPPROCESS) == (process != 0)) {
        Misuse("CreateToolhelp32Snapshot of something else: " + args);
    }
    HANDLE handle = NewHandle();
    std::lock_guard<std::mutex> guard(M().lock);
    if ((flags & TH32CS_SNAPMODULE) != 0) {
        const fake::Process *of = ProcessById(process);
        // Across bitness the modules cannot be read: XP x64 says so with
        // ERROR_PARTIAL_COPY.
        bool own32 = M().image[0x84] != 0x64;
        bool crossed = (!own32 || M().wow64) && of != nullptr && of->wow64 != own32;
        DWORD error = of == nullptr        ? ErrorInvalidParameter
                      : of->pathError != 0 ? of->pathError
                      : crossed            ? 299
                                           : 0;
        if (error != 0) {
            LastError = error;
            Log("CreateToolhelp32Snapshot", args, "INVALID, LE " + std::to_string(error));
            return INVALID_HANDLE_VALUE;
        }
        M().moduleSnapshots[handle] = process;
    } else {
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
    entry->th32ProcessID = process.id;
    memset(entry->szExeFile, 0, sizeof entry->szExeFile);
    strncpy(entry->szExeFile, process.exeFile.c_str(), sizeof entry->szExeFile - 1);
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

static void TimeOf(unsigned long long time, FILETIME *to)
{
    to->dwLowDateTime = (DWORD)time;
    to->dwHighDateTime = (DWORD)(time >> 32);
}

// The entries right inside the folder that `pattern` ("FOLDER\\*") names.
HANDLE WINAPI FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA found)
{
    sim::SimBeforeCall("FindFirstFileA");
    std::string given = pattern;
    if (Failing("FindFirstFileA", Quote(pattern), "INVALID")) {
        return INVALID_HANDLE_VALUE;
    }
    if (given.size() < 2 || given.compare(given.size() - 2, 2, "\\*") != 0) {
        Misuse("FindFirstFileA with a pattern other than FOLDER\\*: " + given);
    }
    std::string folder = Lower(given.substr(0, given.size() - 1));
    // A folder's openError refuses its listing too.
    auto self = M().files.find(folder.substr(0, folder.size() - 1));
    if (self != M().files.end() && self->second.openError != 0) {
        LastError = self->second.openError;
        Log("FindFirstFileA", Quote(pattern), "INVALID, LE " + std::to_string(LastError));
        return INVALID_HANDLE_VALUE;
    }
    std::vector<std::string> paths;
    for (const auto &entry : M().files) {
        if (entry.first.rfind(folder, 0) == 0 && entry.first.size() > folder.size() &&
            entry.first.find('\\', folder.size()) == std::string::npos) {
            paths.push_back(entry.first);
        }
    }
    if (paths.empty()) {
        LastError = ErrorFileNotFound;
        Log("FindFirstFileA", Quote(pattern), "INVALID, LE 2");
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = NewHandle();
    M().finds[handle] = {paths, 0};
    Log("FindFirstFileA", Quote(pattern), "find");
    FindNextFileA(handle, found);
    return handle;
}

BOOL WINAPI FindNextFileA(HANDLE handle, LPWIN32_FIND_DATAA found)
{
    sim::SimBeforeCall("FindNextFileA");
    auto open = M().finds.find(handle);
    if (open == M().finds.end()) {
        Misuse("FindNextFileA of a search not open");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    auto &walk = open->second;
    if (walk.second >= walk.first.size()) {
        LastError = ErrorNoMoreFiles;
        return FALSE;
    }
    const std::string &path = walk.first[walk.second++];
    const fake::File &file = M().files[path];
    memset(found, 0, sizeof *found);
    found->dwFileAttributes = file.folder ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    TimeOf(file.created, &found->ftCreationTime);
    TimeOf(file.written, &found->ftLastWriteTime);
    found->nFileSizeLow = (DWORD)file.bytes.size();
    const std::string &given = M().fileNames[path];
    strncpy(found->cFileName, given.substr(given.find_last_of('\\') + 1).c_str(), MAX_PATH - 1);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE handle)
{
    sim::SimBeforeCall("FindClose");
    if (M().finds.erase(handle) == 0) {
        Misuse("FindClose of a search not open");
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetFileAttributesExA(LPCSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID information)
{
    sim::SimBeforeCall("GetFileAttributesExA");
    if (Failing("GetFileAttributesExA", Quote(path), "FALSE")) {
        return FALSE;
    }
    fake::File file;
    if (level != GetFileExInfoStandard || !FindFile(path, &file)) {
        LastError = ErrorFileNotFound;
        Log("GetFileAttributesExA", Quote(path), "FALSE, LE 2");
        return FALSE;
    }
    WIN32_FILE_ATTRIBUTE_DATA *data = (WIN32_FILE_ATTRIBUTE_DATA *)information;
    memset(data, 0, sizeof *data);
    data->dwFileAttributes = file.folder ? FILE_ATTRIBUTE_DIRECTORY : 0x80;
    TimeOf(file.created, &data->ftCreationTime);
    TimeOf(file.written, &data->ftLastWriteTime);
    data->nFileSizeLow = (DWORD)file.bytes.size();
    Log("GetFileAttributesExA", Quote(path), "TRUE");
    return TRUE;
}

VOID WINAPI GetSystemTimeAsFileTime(FILETIME *time)
{
    sim::SimBeforeCall("GetSystemTimeAsFileTime");
    TimeOf(fake::WallClock(), time);
}

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR source, LPSTR target, DWORD size)
{
    sim::SimBeforeCall("ExpandEnvironmentStringsA");
    std::string text = source;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        auto value = end == std::string::npos
                         ? M().environment.end()
                         : M().environment.find(Lower(text.substr(i + 1, end - i - 1)));
        if (value == M().environment.end()) {
            out += text[i];
            continue;
        }
        out += value->second;
        i = end;
    }
    if (out.size() < size) {
        memcpy(target, out.c_str(), out.size() + 1);
    }
    Log("ExpandEnvironmentStringsA", Quote(source), Quote(out.c_str()));
    return (DWORD)out.size() + 1;
}

BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX status)
{
    sim::SimBeforeCall("GlobalMemoryStatusEx");
    if (status->dwLength != sizeof(MEMORYSTATUSEX)) {
        Misuse("GlobalMemoryStatusEx given a record size of " + std::to_string(status->dwLength));
    }
    if (Failing("GlobalMemoryStatusEx", "", "FALSE")) {
        return FALSE;
    }
    memset((char *)status + sizeof status->dwLength, 0xA5,
           sizeof *status - sizeof status->dwLength);
    status->ullTotalPhys = M().totalPhys;
    status->ullAvailPhys = M().availPhys;
    Log("GlobalMemoryStatusEx", "",
        "TRUE, " + std::to_string(M().availPhys) + " of " + std::to_string(M().totalPhys));
    return TRUE;
}

// The first module of a process, which is its executable.
BOOL WINAPI Module32First(HANDLE snapshot, LPMODULEENTRY32 entry)
{
    sim::SimBeforeCall("Module32First");
    std::lock_guard<std::mutex> guard(M().lock);
    auto found = M().moduleSnapshots.find(snapshot);
    if (found == M().moduleSnapshots.end()) {
        Misuse("Module32First on a module snapshot not open");
        LastError = ErrorInvalidHandle;
        return FALSE;
    }
    if (entry->dwSize != sizeof(MODULEENTRY32)) {
        Misuse("Module32First given a record size of " + std::to_string(entry->dwSize));
    }
    const fake::Process *process = ProcessById(found->second);
    entry->th32ProcessID = process->id;
    memset(entry->szExePath, 0, sizeof entry->szExePath);
    strncpy(entry->szExePath, process->path.c_str(), sizeof entry->szExePath - 1);
    Log("Module32First", std::to_string(process->id), process->path);
    return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inherit, DWORD id)
{
    sim::SimBeforeCall("OpenProcess");
    std::string args =
        sim::Hex(access) + ", " + (inherit ? "TRUE" : "FALSE") + ", " + std::to_string(id);
    if ((access & ~(PROCESS_QUERY_INFORMATION | PROCESS_QUERY_LIMITED_INFORMATION)) != 0 ||
        inherit) {
        Misuse("OpenProcess for more than querying: " + args);
    }
    if (M().major < 6 && (access & PROCESS_QUERY_LIMITED_INFORMATION) != 0) {
        Misuse("OpenProcess with a right XP lacks: " + args);
    }
    if (Failing("OpenProcess", args, "null")) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(M().lock);
    const fake::Process *process = ProcessById(id);
    DWORD error = process == nullptr ? ErrorInvalidParameter : process->openError;
    if (error != 0) {
        LastError = error;
        Log("OpenProcess", args, "null, LE " + std::to_string(error));
        return nullptr;
    }
    HANDLE handle = NewHandle();
    M().processHandles[handle] = {id, access};
    Log("OpenProcess", args, "process");
    return handle;
}

DWORD WINAPI GetCurrentProcessId(void)
{
    return OwnProcessId;
}

BOOL WINAPI ProcessIdToSessionId(DWORD id, DWORD *session)
{
    sim::SimBeforeCall("ProcessIdToSessionId");
    std::lock_guard<std::mutex> guard(M().lock);
    if (id == OwnProcessId) {
        *session = M().checkSession;
        return TRUE;
    }
    const fake::Process *process = ProcessById(id);
    DWORD error = process == nullptr ? ErrorInvalidParameter : process->sessionError;
    if (error != 0) {
        LastError = error;
        Log("ProcessIdToSessionId", std::to_string(id), "FALSE, LE " + std::to_string(error));
        return FALSE;
    }
    *session = process->session;
    Log("ProcessIdToSessionId", std::to_string(id), std::to_string(process->session));
    return TRUE;
}

DWORD WINAPI WTSGetActiveConsoleSessionId(void)
{
    sim::SimBeforeCall("WTSGetActiveConsoleSessionId");
    Log("WTSGetActiveConsoleSessionId", "", std::to_string(M().consoleSession));
    return M().consoleSession;
}

} // extern "C"
