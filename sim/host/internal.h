// What the fake's files share: its call log and bookkeeping, and the hooks by
// which the machine of the installation check (machine.cpp) joins the calls
// that fake.cpp defines.
#pragma once

#include <string>

#include "platform/kernel32.h"

namespace fake
{
namespace detail
{

extern thread_local DWORD LastError;

void Log(const char *api, const std::string &args, const std::string &result);
void Misuse(const std::string &what);
HANDLE NewHandle();
// A block to be released with LocalFree.
void TrackRecord(void *record);
// Injected failure of a call: sets the last error and logs it.
bool Failing(const char *api, const std::string &args, const char *failedResult);
std::string Quote(const char *text);
// A profile set with SetProfile, as the file's bytes.
bool ProfileContents(const std::string &path, std::string *contents);

// From machine.cpp.
bool CloseMachineHandle(HANDLE handle, std::string *kind);
// A thread other than the main one waits (in Sleep) or ends.
void HandlerSettled();
bool LibraryPath(HMODULE module, std::string *path);
// OpenProcessToken on a process the check opened: FALSE, with the error,
// when it refuses; `token` is the handle it gets otherwise.
bool MachineProcessToken(HANDLE process, DWORD access, HANDLE token, DWORD *error);
void ResetMachine();
void MachineLeft(struct Outstanding *left);

} // namespace detail
} // namespace fake
