// Host stand-in for KERNEL32, USER32, ADVAPI32 and EWFAPI, linked into the
// unit tests in place of the real libraries. Every call is logged with its
// arguments; failures can be injected into any call (sim::Failure, by API
// name); time is virtual, advanced by Sleep; the warning box waits for the
// test to dismiss it.
#pragma once

#include <functional>
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

// The user presses OK. Returns once the warning thread has finished, so the
// program's flag is already clear; when the box is yet to be shown, it will
// return at once.
void DismissWarning();

} // namespace fake
