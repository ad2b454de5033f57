// The machine the installation check looks at, shared by the fake's files of
// the platform libraries it calls (kernel32.cpp, advapi32.cpp, netapi32.cpp,
// ntdll.cpp):
// its state, and the helpers that turn the test's data into the platform's
// records.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/host/fake.h"
#include "sim/host/internal.h"

#include "platform/advapi32.h"

namespace fake
{
namespace machine
{

const DWORD ErrorFileNotFound = 2;
const DWORD ErrorInvalidHandle = 6;
const DWORD ErrorInsufficientBuffer = 122;
const DWORD ErrorModNotFound = 126;
const DWORD ErrorProcNotFound = 127;
const DWORD ErrorNoMoreFiles = 18;
const DWORD ErrorNoneMapped = 1332;
const DWORD ErrorInvalidParameter = 87;

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
    std::vector<std::string> groups; // global groups it is in
};

struct RegValue {
    std::string name; // as set, for enumeration
    DWORD type = 0;
    std::string data;
};

struct RegKey {
    std::string name;                       // as set, for enumeration
    std::map<std::string, RegValue> values; // by lower-case name
    unsigned long long written = 0;
    DWORD openError = 0; // RegOpenKeyExA's, when not 0
};

// 2026-12-08 10:00 UTC, as a FILETIME: the test's "now" at clock 0.
const unsigned long long TestNow = 134096472000000000ull;

struct Machine {
    std::mutex lock;
    std::map<std::string, fake::File> files;
    std::map<std::string, std::string> fileNames; // as the test gave them
    std::map<std::string, Library> libraries;
    std::map<HMODULE, std::string> modules;
    std::map<HANDLE, OpenFile> openFiles;
    std::map<HANDLE, size_t> snapshots;
    std::set<HKEY> keys;
    std::set<void *> netBuffers;
    // By lower-case path: HKLM's keys as they are, others after "hku\\".
    std::map<std::string, RegKey> registry;
    std::map<HANDLE, std::pair<std::vector<std::string>, size_t>> finds;
    unsigned long long now = TestNow;
    unsigned long long uptimeMs = 3600000;
    std::deque<fake::Process> processes;
    // Handles the check opened: process (with its id and the rights asked),
    // a token of one (its process id), module snapshots (the process id).
    std::map<HANDLE, std::pair<DWORD, DWORD>> processHandles;
    std::map<HANDLE, DWORD> tokenProcesses;
    std::map<HANDLE, DWORD> moduleSnapshots;
    DWORD consoleSession = 1;
    DWORD checkSession = 1; // the session of the check's own process
    std::string checkUser;  // and its token's user
    std::map<std::string, Account> accounts;
    std::vector<std::string> administrators;
    std::string systemDirectory = "C:\\WINDOWS\\system32";
    std::string wow64Directory = "C:\\WINDOWS\\SysWOW64";
    std::map<std::string, std::string> environment;
    std::string commandLine = "tovrin-check.exe";
    std::string currentFolder = "C:\\Tovrin";
    DWORD major = 5, minor = 1, build = 2600;
    std::string servicePack = "Service Pack 3";
    std::vector<unsigned char> image;
    bool wow64Known = true;
    bool wow64 = false;
    // GlobalMemoryStatusEx's physical memory, and NTDLL's free system PTEs.
    unsigned long long totalPhys = 0;
    unsigned long long availPhys = 0;
    bool ntQueryKnown = true;
    DWORD freeSystemPtes = 0;
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

Machine &M();

// Stand-ins for handles that are not objects of the fake.
HANDLE const StdOutput = (HANDLE)(uintptr_t)0x3001;
HANDLE const StdError = (HANDLE)(uintptr_t)0x3002;
HMODULE const Kernel32 = (HMODULE)(uintptr_t)0x6000000;
HMODULE const Ntdll = (HMODULE)(uintptr_t)0x6100000;

std::string Lower(std::string text);
std::vector<unsigned char> SidBytes(const std::string &text);
std::string SidText(const void *sid);
void Put16(std::vector<unsigned char> &out, size_t at, unsigned value);
void Put32(std::vector<unsigned char> &out, size_t at, unsigned long value);
// A self-relative security descriptor: header, owner, then the DACL.
std::vector<unsigned char> Descriptor(const fake::File &file);
// The file at `path`, from the files or the profiles; false when none.
bool FindFile(const std::string &path, fake::File *file);
std::u16string Wide(const std::string &text);
// The fake's own definitions of what a library exports, by name.
FARPROC Routine(const std::string &name);

// The check's own process, which is not in the process list.
const DWORD OwnProcessId = 7;

// The process the check opened with this handle; null when none.
const fake::Process *OpenedProcess(HANDLE handle);
const fake::Process *ProcessById(DWORD id);

BOOL WINAPI FakeIsWow64Process(HANDLE process, BOOL *wow64);
BOOL WINAPI FakeQueryFullProcessImageNameA(HANDLE process, DWORD flags, LPSTR name, DWORD *size);
ULONGLONG WINAPI FakeGetTickCount64(void);
UINT WINAPI FakeGetSystemWow64DirectoryA(LPSTR buffer, UINT size);
DWORD WINAPI FakeNetUserGetLocalGroups(LPCWSTR server, LPCWSTR user, DWORD level, DWORD flags,
                                       BYTE **buffer, DWORD, LPDWORD read, LPDWORD total);

DWORD WINAPI FakeNetApiBufferFree(LPVOID buffer);
LONG WINAPI FakeNtQuerySystemInformation(ULONG infoClass, LPVOID buffer, ULONG length,
                                         ULONG *returned);

} // namespace machine
} // namespace fake
