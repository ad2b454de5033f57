#include "sim/host/fake.h"
#include "sim/host/internal.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "common/tovrin.h"
#include "platform/advapi32.h"
#include "platform/user32.h"

namespace
{

// Long enough for any honest wait, short enough that a broken test fails
// instead of hanging CI.
const std::chrono::seconds RealTimeout(20);

const DWORD ErrorInsufficientBuffer = 122;
const DWORD ErrorInvalidHandle = 6;

struct State {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<fake::Call> calls;
    std::vector<fake::TraceLine> traces;
    std::vector<fake::Box> boxes;
    std::vector<std::string> misuse;
    std::set<void *> records;
    std::set<HANDLE> tokens;
    std::set<HANDLE> threadHandles;
    uintptr_t nextHandle = 0x20000;
    unsigned long long clockMs = 0;
    unsigned sleeps = 0;
    unsigned sleepBudget = 100000;
    DWORD budgetedSleep = 0;
    std::string modulePath = "C:\\Tovrin\\tovrin.exe";
    bool xpTruncation = true;
    std::map<std::string, std::string> profiles;
    std::function<void(DWORD)> onSleep;
    std::function<void(const std::string &)> onCall;
    std::thread warningThread;
    bool warningThreadRunning = false;
    bool dismissed = false;
    std::thread::id mainThread = std::this_thread::get_id();
};

State &S()
{
    static State state;
    return state;
}

bool OnMainThread()
{
    return std::this_thread::get_id() == S().mainThread;
}

} // namespace

thread_local DWORD fake::detail::LastError = 0;

namespace fake
{
namespace detail
{

void Log(const char *api, const std::string &args, const std::string &result)
{
    State &s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    fake::Call call;
    call.api = api;
    call.args = args;
    call.result = result;
    call.atMs = s.clockMs;
    call.onMainThread = OnMainThread();
    s.calls.push_back(call);
}

void Misuse(const std::string &what)
{
    std::lock_guard<std::mutex> guard(S().lock);
    S().misuse.push_back(what);
}

HANDLE NewHandle()
{
    std::lock_guard<std::mutex> guard(S().lock);
    HANDLE handle = (HANDLE)S().nextHandle;
    S().nextHandle += 4;
    return handle;
}

void TrackRecord(void *record)
{
    std::lock_guard<std::mutex> guard(S().lock);
    S().records.insert(record);
}

// Injected failure of a non-EWF call: sets the last error and logs it.
bool Failing(const char *api, const std::string &args, const char *failedResult)
{
    DWORD error = 0;
    if (!sim::ShouldFail(api, nullptr, &error)) {
        return false;
    }
    LastError = error;
    Log(api, args, std::string(failedResult) + ", LE " + std::to_string(error));
    return true;
}

std::string Quote(const char *text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}

bool ProfileContents(const std::string &path, std::string *contents)
{
    std::lock_guard<std::mutex> guard(S().lock);
    for (const auto &profile : S().profiles) {
        if (strcasecmp(profile.first.c_str(), path.c_str()) == 0) {
            *contents = profile.second;
            return true;
        }
    }
    return false;
}

} // namespace detail
} // namespace fake

using namespace fake::detail;

namespace
{

std::string Trim(const std::string &text)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool SameIgnoringCase(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The profile read's rules: section and key names are not case-sensitive and
// blanks around names and values are dropped; lines starting with ';' are
// comments. A null section lists the sections, a null key the section's keys,
// each followed by a null.
bool LookUpProfile(const std::string &contents, const char *section, const char *key,
                   std::string *value)
{
    bool inSection = false;
    bool found = false;
    std::string list;
    size_t start = 0;
    while (start <= contents.size()) {
        size_t end = contents.find('\n', start);
        if (end == std::string::npos) {
            end = contents.size();
        }
        std::string line = Trim(contents.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') {
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.find(']');
            std::string name = close != std::string::npos ? Trim(line.substr(1, close - 1)) : "";
            inSection =
                section != nullptr && close != std::string::npos && SameIgnoringCase(name, section);
            if (section == nullptr && close != std::string::npos) {
                list += name + '\0';
            }
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos) {
            continue;
        }
        std::string name = Trim(line.substr(0, equals));
        if (key == nullptr) {
            list += name + '\0';
        } else if (!found && SameIgnoringCase(name, key)) {
            *value = Trim(line.substr(equals + 1));
            found = true;
        }
    }
    if (section == nullptr || key == nullptr) {
        *value = list;
        return true;
    }
    return found;
}

void ReleaseWarningThread()
{
    State &s = S();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.dismissed = true;
    }
    s.changed.notify_all();
    if (s.warningThread.joinable()) {
        s.warningThread.join();
    }
}

} // namespace

// ---- the environment the write filter model runs in ----

namespace sim
{

void SimSetLastError(DWORD error)
{
    LastError = error;
}

void *SimAllocRecord(size_t size)
{
    void *record = calloc(1, size);
    TrackRecord(record);
    return record;
}

void SimBeforeCall(const char *api)
{
    // Windows promises nothing of the last error after a call that succeeds,
    // so leave a value there that no failure sets: a code read one call too
    // late is then a wrong code. The few calls documented to leave it alone
    // do so here too; a call that fails sets its own code after this.
    static const char *const LeaveItAlone[] = {"Sleep", "GetCurrentProcess"};
    bool touches = true;
    for (const char *name : LeaveItAlone) {
        touches = touches && strcmp(api, name) != 0;
    }
    if (touches) {
        LastError = fake::LeftBySuccess;
    }
    if (OnMainThread() && S().onCall) {
        S().onCall(api);
    }
}

void SimJournal(const char *api, const std::string &args, const std::string &result)
{
    Log(api, args, result);
}

} // namespace sim

// ---- the platform calls ----

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return LastError;
}

VOID WINAPI Sleep(DWORD milliseconds)
{
    State &s = S();
    // Virtual time belongs to the main thread. Another thread (a console
    // handler waiting for the main thread) gives up the processor for real.
    if (!OnMainThread()) {
        Log("Sleep", std::to_string(milliseconds), "");
        HandlerSettled();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    bool counted = s.budgetedSleep == 0 || s.budgetedSleep == milliseconds;
    if (counted && s.sleeps >= s.sleepBudget) {
        throw fake::StopRun();
    }
    sim::SimBeforeCall("Sleep");
    s.sleeps += counted;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.clockMs += milliseconds;
    }
    sim::AdvanceTime(milliseconds);
    Log("Sleep", std::to_string(milliseconds), "");
    // Time is virtual, but a real Sleep gives up the processor: let the
    // warning thread run, as it would.
    std::this_thread::yield();
    if (s.onSleep) {
        s.onSleep(milliseconds);
    }
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                           LPTHREAD_START_ROUTINE routine, LPVOID parameter, DWORD flags,
                           LPDWORD threadId)
{
    sim::SimBeforeCall("CreateThread");
    std::string args = std::string(attributes == nullptr ? "null" : "attributes") + ", " +
                       std::to_string(stackSize) + ", routine, " +
                       (parameter == nullptr ? "null" : "parameter") + ", " +
                       std::to_string(flags) + ", " + (threadId == nullptr ? "null" : "id");
    if (Failing("CreateThread", args, "null")) {
        return nullptr;
    }
    State &s = S();
    HANDLE handle = NewHandle();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.threadHandles.insert(handle);
        s.warningThreadRunning = true;
    }
    Log("CreateThread", args, "thread");
    s.warningThread = std::thread([routine, parameter] {
        routine(parameter);
        {
            std::lock_guard<std::mutex> guard(S().lock);
            S().warningThreadRunning = false;
        }
        S().changed.notify_all();
    });
    return handle;
}

BOOL WINAPI CloseHandle(HANDLE handle)
{
    sim::SimBeforeCall("CloseHandle");
    State &s = S();
    std::string kind;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.tokens.count(handle) != 0) {
            kind = "token";
        } else if (s.threadHandles.count(handle) != 0) {
            kind = "thread";
        }
    }
    if (kind.empty() && CloseMachineHandle(handle, &kind)) {
        Log("CloseHandle", kind, "TRUE");
        return TRUE;
    }
    // A close that fails leaves the handle open.
    if (!kind.empty() && Failing("CloseHandle", kind, "FALSE")) {
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.tokens.erase(handle);
        s.threadHandles.erase(handle);
    }
    if (kind.empty()) {
        Misuse("CloseHandle of a handle not open: " + sim::Hex((uintptr_t)handle));
        LastError = ErrorInvalidHandle;
        Log("CloseHandle", sim::Hex((uintptr_t)handle), "FALSE");
        return FALSE;
    }
    Log("CloseHandle", kind, "TRUE");
    return TRUE;
}

HLOCAL WINAPI LocalFree(HLOCAL memory)
{
    sim::SimBeforeCall("LocalFree");
    bool known;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        known = S().records.erase(memory) != 0;
    }
    if (!known) {
        Misuse("LocalFree of memory not handed out");
        Log("LocalFree", "unknown", "");
        return memory;
    }
    free(memory);
    Log("LocalFree", "record", "");
    return nullptr;
}

HANDLE WINAPI GetCurrentProcess(void)
{
    sim::SimBeforeCall("GetCurrentProcess");
    Log("GetCurrentProcess", "", "process");
    return (HANDLE)(LONG_PTR)-1;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    sim::SimBeforeCall("GetModuleFileNameA");
    State &s = S();
    std::string args =
        std::string(module == nullptr ? "null" : "module") + ", " + std::to_string(size);
    if (Failing("GetModuleFileNameA", args, "0")) {
        return 0;
    }
    std::string library;
    const std::string &path =
        module != nullptr && LibraryPath(module, &library) ? library : s.modulePath;
    if (path.size() < size) {
        memcpy(buffer, path.c_str(), path.size() + 1);
        Log("GetModuleFileNameA", args, std::to_string(path.size()));
        return (DWORD)path.size();
    }
    if (s.xpTruncation) {
        memcpy(buffer, path.c_str(), size);
    } else if (size > 0) {
        memcpy(buffer, path.c_str(), size - 1);
        buffer[size - 1] = '\0';
        LastError = ErrorInsufficientBuffer;
    }
    Log("GetModuleFileNameA", args, std::to_string(size) + " (truncated)");
    return size;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                                      DWORD size, LPCSTR fileName)
{
    sim::SimBeforeCall("GetPrivateProfileStringA");
    std::string args = Quote(section) + ", " + Quote(key) + ", " + Quote(defaultValue) +
                       ", buffer, " + std::to_string(size) + ", " + Quote(fileName);
    std::string value = defaultValue != nullptr ? defaultValue : "";
    std::string contents;
    bool listing = section == nullptr || key == nullptr;
    if (ProfileContents(fileName != nullptr ? fileName : "", &contents)) {
        LookUpProfile(contents, section, key, &value);
    } else if (listing) {
        value.clear();
    }
    DWORD copied = 0;
    if (listing) {
        // A list ends in two nulls, cut to fit as the platform cuts it.
        if (size >= 2) {
            copied = (DWORD)(value.size() < size - 1 ? value.size() : size - 2);
            memcpy(buffer, value.data(), copied);
            buffer[copied] = '\0';
            buffer[copied + 1] = '\0';
        }
        Log("GetPrivateProfileStringA", args, std::to_string(copied) + " listed");
        return copied;
    }
    if (size > 0) {
        copied = (DWORD)(value.size() < size ? value.size() : size - 1);
        memcpy(buffer, value.c_str(), copied);
        buffer[copied] = '\0';
    }
    Log("GetPrivateProfileStringA", args, Quote(buffer));
    return copied;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    sim::SimBeforeCall("MessageBoxA");
    State &s = S();
    fake::Box box;
    box.owner = owner;
    box.text = text != nullptr ? text : "";
    box.caption = caption != nullptr ? caption : "";
    box.style = style;
    box.onMainThread = OnMainThread();
    Log("MessageBoxA",
        std::string(owner == nullptr ? "null" : "owner") + ", text, " + Quote(caption) + ", " +
            sim::Hex(style),
        "shown");
    std::unique_lock<std::mutex> guard(s.lock);
    s.boxes.push_back(box);
    s.changed.notify_all();
    if (!s.changed.wait_for(guard, RealTimeout, [&s] { return s.dismissed; })) {
        s.misuse.push_back("the warning was never dismissed");
    }
    return IDOK;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason)
{
    sim::SimBeforeCall("ExitWindowsEx");
    std::string args = sim::Hex(flags) + ", " + std::to_string(reason);
    if (Failing("ExitWindowsEx", args, "FALSE")) {
        return FALSE;
    }
    Log("ExitWindowsEx", args, "TRUE");
    return TRUE;
}

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token)
{
    sim::SimBeforeCall("OpenProcessToken");
    std::string args = std::string(process == (HANDLE)(LONG_PTR)-1 ? "process" : "other") + ", " +
                       sim::Hex(access);
    HANDLE opened = NewHandle();
    DWORD refused = 0;
    if (Failing("OpenProcessToken", args, "FALSE") ||
        !MachineProcessToken(process, access, opened, &refused)) {
        if (refused != 0) {
            LastError = refused;
            Log("OpenProcessToken", args, "FALSE, LE " + std::to_string(refused));
        }
        // The variable is not to be trusted after a failure.
        *token = nullptr;
        return FALSE;
    }
    *token = opened;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        S().tokens.insert(*token);
    }
    Log("OpenProcessToken", args, "token");
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid)
{
    sim::SimBeforeCall("LookupPrivilegeValueA");
    std::string args = Quote(systemName) + ", " + Quote(name);
    if (Failing("LookupPrivilegeValueA", args, "FALSE")) {
        return FALSE;
    }
    // SE_SHUTDOWN_PRIVILEGE's identifier.
    luid->LowPart = 19;
    luid->HighPart = 0;
    Log("LookupPrivilegeValueA", args, "TRUE");
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState,
                                  DWORD bufferLength, PTOKEN_PRIVILEGES previousState,
                                  PDWORD returnLength)
{
    sim::SimBeforeCall("AdjustTokenPrivileges");
    bool known;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        known = S().tokens.count(token) != 0;
    }
    std::string args =
        std::string(known ? "token" : "unknown") + ", " + (disableAll ? "TRUE" : "FALSE") + ", ";
    if (newState == nullptr) {
        args += "null";
    } else {
        args += std::to_string(newState->PrivilegeCount) + " x {" +
                std::to_string(newState->Privileges[0].Luid.LowPart) + ":" +
                std::to_string(newState->Privileges[0].Luid.HighPart) + ", " +
                sim::Hex(newState->Privileges[0].Attributes) + "}";
    }
    args += ", " + std::to_string(bufferLength) + ", " +
            (previousState == nullptr ? "null" : "previous") + ", " +
            (returnLength == nullptr ? "null" : "length");
    if (Failing("AdjustTokenPrivileges", args, "FALSE")) {
        return FALSE;
    }
    Log("AdjustTokenPrivileges", args, "TRUE");
    return TRUE;
}

} // extern "C"

// ---- the trace recorder ----

void Trace(const char *format, ...)
{
    // How each message's arguments were passed: L a 64-bit count, u a 32-bit
    // code, c a character, W a wide string.
    static const std::map<std::string, std::string> Kinds = {
        {"Ewf API Sample\n\n", ""},
        {"Total Ram Data Size : %u bytes\n", "L"},
        {"Total Ram Data Size : %u MB\n", "L"},
        {"%c: = %s\n", "cW"},
        {"EwfMgrGetProtectedVolumeList failed LE = %u\n", "u"},
        {"EwfMgrGetDriveLetterFromVolumeName failed LE = %u\n", "u"},
        {"EwfMgrOpenProtected failed LE = %u\n", "u"},
        {"EwfMgrGetProtectedVolumeConfig failed LE = %u\n", "u"},
        {"EwfMgrClose failed LE = %u\n", "u"},
        {"EwfMgrCommit failed LE = %u\n", "u"},
        {"EwfMgrCommit succeeded\n", ""},
        {"EwfMgrEnable failed LE = %u\n", "u"},
        {"EwfMgrEnable succeeded\n", ""},
        {"%s: protection is off, left as it is\n", "W"},
    };
    fake::TraceLine line;
    line.format = format;
    auto kinds = Kinds.find(format);
    if (kinds == Kinds.end()) {
        Misuse(std::string("Trace with an unknown message: ") + format);
    } else {
        va_list args;
        va_start(args, format);
        for (char kind : kinds->second) {
            switch (kind) {
            case 'L':
                line.args.push_back(std::to_string(va_arg(args, LONGLONG)));
                break;
            case 'u':
                line.args.push_back(std::to_string(va_arg(args, DWORD)));
                break;
            case 'c':
                line.args.push_back(std::string(1, (char)va_arg(args, int)));
                break;
            case 'W':
                line.args.push_back(sim::Narrow(va_arg(args, const WCHAR *)));
                break;
            }
        }
        va_end(args);
    }
    std::lock_guard<std::mutex> guard(S().lock);
    S().traces.push_back(line);
}

// ---- the test's controls ----

namespace fake
{

std::string Call::Text() const
{
    return api + "(" + args + ")" + (result.empty() ? "" : " -> " + result);
}

bool Outstanding::Nothing() const
{
    return lists == 0 && entries == 0 && volumeHandles == 0 && records == 0 && tokens == 0 &&
           threadHandles == 0 && libraries == 0 && files == 0 && keys == 0 && snapshots == 0 &&
           netBuffers == 0 && processes == 0 && misuse.empty();
}

std::string Outstanding::Text() const
{
    std::string text =
        "lists " + std::to_string(lists) + ", entries " + std::to_string(entries) +
        ", volume handles " + std::to_string(volumeHandles) + ", records " +
        std::to_string(records) + ", tokens " + std::to_string(tokens) + ", thread handles " +
        std::to_string(threadHandles) + ", libraries " + std::to_string(libraries) + ", files " +
        std::to_string(files) + ", registry keys " + std::to_string(keys) + ", snapshots " +
        std::to_string(snapshots) + ", network buffers " + std::to_string(netBuffers) +
        ", process handles " + std::to_string(processes);
    for (const std::string &what : misuse) {
        text += "; " + what;
    }
    return text;
}

void Reset()
{
    ReleaseWarningThread();
    ResetMachine();
    State &s = S();
    std::lock_guard<std::mutex> guard(s.lock);
    for (void *record : s.records) {
        free(record);
    }
    s.calls.clear();
    s.traces.clear();
    s.boxes.clear();
    s.misuse.clear();
    s.records.clear();
    s.tokens.clear();
    s.threadHandles.clear();
    s.clockMs = 0;
    s.sleeps = 0;
    s.sleepBudget = 100000;
    s.budgetedSleep = 0;
    s.modulePath = "C:\\Tovrin\\tovrin.exe";
    s.xpTruncation = true;
    s.profiles.clear();
    s.onSleep = nullptr;
    s.onCall = nullptr;
    s.warningThreadRunning = false;
    s.dismissed = false;
    s.mainThread = std::this_thread::get_id();
    sim::ResetWorld();
    LastError = 0;
}

void Fail(const std::string &api, DWORD error, const std::string &volume, unsigned nth)
{
    sim::Failure rule;
    rule.api = api;
    rule.error = error;
    rule.volume = volume;
    rule.nth = nth;
    sim::TheWorld().failures.push_back(rule);
}

std::vector<Call> Calls()
{
    std::lock_guard<std::mutex> guard(S().lock);
    return S().calls;
}

std::vector<std::string> CallTexts(const std::vector<std::string> &apis)
{
    std::vector<std::string> texts;
    for (const Call &call : Calls()) {
        bool wanted = apis.empty();
        for (const std::string &api : apis) {
            wanted = wanted || call.api == api;
        }
        if (wanted) {
            texts.push_back(call.Text());
        }
    }
    return texts;
}

std::vector<TraceLine> Traces()
{
    std::lock_guard<std::mutex> guard(S().lock);
    return S().traces;
}

std::vector<Box> Boxes()
{
    std::lock_guard<std::mutex> guard(S().lock);
    return S().boxes;
}

Outstanding Left()
{
    Outstanding left;
    // The machine's lock is only ever taken before the fake's, never inside it.
    MachineLeft(&left);
    left.lists = sim::OutstandingLists();
    left.entries = sim::OutstandingEntries();
    left.volumeHandles = sim::OutstandingHandles();
    left.misuse = sim::TheWorld().misuse;
    std::lock_guard<std::mutex> guard(S().lock);
    left.records = S().records.size();
    left.tokens = S().tokens.size();
    left.threadHandles = S().threadHandles.size();
    left.misuse.insert(left.misuse.end(), S().misuse.begin(), S().misuse.end());
    return left;
}

unsigned long long Now()
{
    std::lock_guard<std::mutex> guard(S().lock);
    return S().clockMs;
}

void SetModulePath(const std::string &path, bool xpTruncation)
{
    S().modulePath = path;
    S().xpTruncation = xpTruncation;
}

void SetProfile(const std::string &path, const std::string &contents)
{
    S().profiles[path] = contents;
}

void OnSleep(std::function<void(DWORD)> hook)
{
    S().onSleep = std::move(hook);
}

void OnCall(std::function<void(const std::string &)> hook)
{
    S().onCall = std::move(hook);
}

void StopAfterSleeps(unsigned count, DWORD milliseconds)
{
    S().sleepBudget = count;
    S().budgetedSleep = milliseconds;
}

void WaitForBox()
{
    State &s = S();
    std::unique_lock<std::mutex> guard(s.lock);
    if (!s.changed.wait_for(guard, RealTimeout, [&s] { return !s.boxes.empty(); })) {
        s.misuse.push_back("no warning was shown");
    }
}

void DismissWarning()
{
    State &s = S();
    std::unique_lock<std::mutex> guard(s.lock);
    s.dismissed = true;
    s.changed.notify_all();
    if (!s.changed.wait_for(guard, RealTimeout, [&s] { return !s.warningThreadRunning; })) {
        s.misuse.push_back("the warning thread did not end after OK");
    }
}

} // namespace fake
