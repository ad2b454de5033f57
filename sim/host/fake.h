// Host stand-in for KERNEL32, USER32, ADVAPI32 and EWFAPI, linked into the
// unit tests in place of the real libraries. Every call is logged with its
// arguments; failures can be injected into any call (sim::Failure, by API
// name); time is virtual, advanced by Sleep; the warning box waits for the
// test to dismiss it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "sim/model/ewf_model.h"

namespace fake
{

struct Call {
    std::string api;
    std::string args;
    std::string result;
    unsigned long long atMs = 0;
    bool onMainThread = true;
    // "api(args) -> result", or "api(args)" for calls that return nothing.
    std::string Text() const;
};

struct TraceLine {
    std::string format;
    std::vector<std::string> args;
};

struct Box {
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    unsigned style = 0;
    bool onMainThread = false;
};

// Everything the program obtained and did not give back, and every misuse
// the fake noticed (a released handle used, an unknown trace format...).
struct Outstanding {
    size_t lists = 0;
    size_t entries = 0;
    size_t volumeHandles = 0;
    size_t records = 0;
    size_t tokens = 0;
    size_t threadHandles = 0;
    size_t libraries = 0;
    size_t files = 0;
    size_t keys = 0;
    size_t snapshots = 0;
    size_t netBuffers = 0;
    size_t processes = 0;
    std::vector<std::string> misuse;
    bool Nothing() const;
    std::string Text() const;
};

// Thrown out of Sleep once the test's sleep budget is spent, so a program that
// would poll forever returns control to the test.
struct StopRun {
};

// What every call that succeeds leaves as the last error (but Sleep and
// GetCurrentProcess, which leave it alone): no failure sets it.
const DWORD LeftBySuccess = 0xDEAD;

// Fresh platform: no volumes, no failures, clock at 0, empty logs. Releases and
// joins a warning thread left from an earlier run.
void Reset();

void Fail(const std::string &api, DWORD error, const std::string &volume = "", unsigned nth = 0);

std::vector<Call> Calls();
// The texts of the logged calls whose API is in `apis` (all when empty).
std::vector<std::string> CallTexts(const std::vector<std::string> &apis = {});
std::vector<TraceLine> Traces();
std::vector<Box> Boxes();
Outstanding Left();
unsigned long long Now();

// The executable's path as GetModuleFileNameA reports it. A path that does not
// fit the caller's buffer is truncated as XP does (no terminator) or as later
// systems do (terminated, ERROR_INSUFFICIENT_BUFFER).
void SetModulePath(const std::string &path, bool xpTruncation = true);
void SetProfile(const std::string &path, const std::string &contents);

// Called on the main thread after each Sleep has advanced the clock.
void OnSleep(std::function<void(DWORD milliseconds)> hook);
// Called on the main thread before each platform call is carried out.
void OnCall(std::function<void(const std::string &api)> hook);
// Sleep throws StopRun on the call after the `count`th sleep of `milliseconds`
// (of any length when 0).
void StopAfterSleeps(unsigned count, DWORD milliseconds = 0);

// Returns once the warning box is on screen (at once if it has been shown).
void WaitForBox();

// ---- the machine the installation check looks at ----
// Paths compare without case, as on Windows. A SID is given as its text,
// "S-1-5-32-544".

struct Ace {
    std::string sid;
    DWORD mask = 0;
    unsigned char flags = 0; // INHERIT_ONLY_ACE and the like
    unsigned char type = 0;  // ACCESS_ALLOWED_ACE_TYPE
};

struct File {
    bool folder = false;
    std::string bytes;
    // CreateFileA (on a folder FindFirstFileA) fails with this error, when not 0.
    DWORD openError = 0;
    // GetFileSecurityA fails with this error, when not 0.
    DWORD securityError = 0;
    bool nullDacl = false;
    std::string owner = "S-1-5-32-544";
    std::vector<Ace> aces;
    // FILETIMEs; 0, long before any boot, unless a test sets them.
    unsigned long long created = 0;
    unsigned long long written = 0;
    // Set on a folder that is a volume's root (a drive's, or a mount point):
    // its file system as GetVolumeInformationA names it, and its flags. A
    // drive's root left unset is NTFS.
    std::string fileSystem;
    DWORD fileSystemFlags = 0x000700FF; // NTFS's, permissions (0x8) among them
};

// A file or folder; a profile set with SetProfile is a file too. Returns the
// entry to adjust.
File &AddFile(const std::string &path, const std::string &bytes = "");
File &AddFolder(const std::string &path);
// The folder that "EWFAPI.dll" and the like are looked for in; C:\WINDOWS\system32.
void SetSystemDirectory(const std::string &path);
// A library LoadLibraryExA can load, exporting these names, and its file: a
// PE image of this check's machine whose export directory lists them, with
// `forwards` ("EwfMgrClose" -> "evil.EwfMgrClose") as forwarders.
File &AddLibrary(const std::string &path, const std::vector<std::string> &exports,
                 const std::map<std::string, std::string> &forwards = {});
// The bytes of such an image, for a machine (0x14C x86, 0x8664 x64).
std::string PeImage(WORD machine, const std::vector<std::string> &exports,
                    const std::map<std::string, std::string> &forwards = {});
// The ten calls the watchdog imports.
std::vector<std::string> EwfExports();
void SetVersion(DWORD major, DWORD minor, DWORD build, const std::string &servicePack);
// The check's own image: its PE machine (0x14C x86, 0x8664 x64), and what
// IsWow64Process says; `wow64Known` false leaves the call out of KERNEL32.
void SetOwnMachine(WORD machine);
void SetWow64(bool wow64Known, bool wow64);
// Physical memory in bytes, as GlobalMemoryStatusEx gives it; 2 GiB, 1.5 GiB
// available.
void SetMemory(unsigned long long total, unsigned long long available);
// NTDLL's count of free system PTEs (150000); `callKnown` false leaves
// NtQuerySystemInformation out of it.
void SetFreeSystemPtes(DWORD count, bool callKnown = true);
void SetCommandLine(const std::string &line);
void SetCurrentFolder(const std::string &path);
// An environment variable (none when empty); ProgramData is C:\ProgramData.
void SetEnvironment(const std::string &name, const std::string &value);
void SetRegistryDword(const std::string &key, const std::string &name, DWORD value);
// Any value: `key` under HKLM, or "HKU\\SID\\..." for a loaded user hive; a
// 32-bit program on 64-bit Windows sees HKLM's Software under Wow6432Node.
void SetRegistryValue(const std::string &key, const std::string &name, DWORD type,
                      const std::string &data);
// A key's last-write time (a FILETIME) and the error opening it gives (0
// none); the key is created if need be.
void SetKeyWritten(const std::string &key, unsigned long long written, DWORD openError = 0);
// The wall clock at clock 0 (a FILETIME) and the time since boot then.
void SetClock(unsigned long long now, unsigned long long uptimeMs);
// FILETIME units.
const unsigned long long Second = 10000000ull;
const unsigned long long Hour = 3600 * Second;
const unsigned long long Day = 24 * Hour;
unsigned long long WallClock();
// A running process: its name in the process list, and what the check may
// read of it. The defaults are a watchdog started as the guide says: from
// C:\Tovrin, Administrators enabled, in the console's session.
struct Process {
    DWORD id = 0;
    std::string exeFile;
    std::string path; // its full path: at first C:\Tovrin\ and the name
    DWORD session = 1;
    // The groups in its token: SID and attributes (0x4 enabled, 0x10 for deny only).
    std::vector<std::pair<std::string, DWORD>> groups = {{"S-1-1-0", 0x7}, {"S-1-5-32-544", 0xF}};
    bool wow64 = false; // a 32-bit process on 64-bit Windows
    // The call fails with this error, when not 0: OpenProcess, OpenProcessToken,
    // the path's query (or its module snapshot), ProcessIdToSessionId.
    DWORD openError = 0;
    DWORD tokenError = 0;
    DWORD pathError = 0;
    DWORD sessionError = 0;
};
Process &AddProcess(DWORD id, const std::string &exeFile);
// What WTSGetActiveConsoleSessionId says (1 at first, 0xFFFFFFFF for none),
// the check's own session (the console's unless given) and its token's user
// (S-1-5-21-7-7-7-500 at first).
void SetConsoleSession(DWORD session, DWORD checkSession = 0xFFFFFFFEu,
                       const std::string &checkUser = "");
// An account LookupAccountSidW knows (1 user, 2 group, 4 alias, 5 well-known
// group), and the global groups it is in; the well-known groups are known
// from the start.
void AddAccount(const std::string &sid, const std::string &domain, const std::string &name, int use,
                const std::vector<std::string> &groups = {});
// The direct members of Administrators, users or groups.
void SetAdministrators(const std::vector<std::string> &sids);
// What the program wrote on standard output and standard error.
std::string Output();
std::string ErrorOutput();
// The console's Ctrl+C or close, delivered as Windows does, on a thread of
// its own; returns at once. FALSE when no handler is registered.
bool PressCtrl(DWORD event);
// GetTickCount's value at clock 0, to try its wrap.
void SetTickBase(DWORD base);

// The user presses OK. Returns once the warning thread has finished, so the
// program's flag is already clear; when the box is yet to be shown, it will
// return at once.
void DismissWarning();

} // namespace fake
