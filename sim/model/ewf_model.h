// A model of the EWF manager library: protected volumes, their RAM overlays,
// volume name lists, handles and configuration records, with failures that
// can be injected per call and per volume. The host test fake and the
// stand-in EWFAPI.dll both sit on it, so the two cannot drift apart.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ewfapi.h"

namespace sim
{

typedef std::basic_string<WCHAR> WString;

WString Widen(const std::string &text);
std::string Narrow(const WString &text);
// "0x1F": how the journals show handles, flags and styles.
std::string Hex(unsigned long long value);

struct Volume {
    WString name;
    WCHAR driveLetter = 'C';
    EWF_TYPE type = EWF_RAM;
    EWF_STATE state = EWF_ENABLED;
    EWF_CMD bootCommand = EWF_NO_CMD;
    // Hibernate once, resume many, as the library reports it for the volume.
    bool horm = false;
    LONGLONG ramDataSize = 0;
    // Overlay growth while protection is on, for a demo that fills by itself.
    LONGLONG growthPerSecond = 0;
    // What commits have written to the volume so far.
    LONGLONG committedBytes = 0;
    unsigned commits = 0;
    unsigned enables = 0;
};

// Makes calls of `api` fail with `error` as last error: every matching call
// when nth is 0, else only the nth matching one (1-based). A non-empty volume
// limits the rule to calls on that volume.
struct Failure {
    std::string api;
    DWORD error = 0;
    std::string volume;
    unsigned nth = 0;
    unsigned seen = 0;
};

struct World {
    std::vector<Volume> volumes;
    std::vector<Failure> failures;
    // Live list entries, each with the id of the list it was handed out in.
    std::map<PEWF_VOLUME_NAME_ENTRY, unsigned> entries;
    unsigned listsHandedOut = 0;
    std::map<HANDLE, size_t> handles;
    uintptr_t nextHandle = 0x10000;
    // Calls given a pointer or handle that the model never issued or has
    // already released: a use after free in the caller.
    std::vector<std::string> misuse;
};

World &TheWorld();

// Frees every entry still live and forgets all state.
void ResetWorld();

Volume &AddVolume(const std::string &name, WCHAR driveLetter, LONGLONG ramDataSize);
Volume *FindVolume(const WString &name);

// Whether an injected failure applies to this call; counts the call for the
// nth-call rules either way.
bool ShouldFail(const char *api, const Volume *volume, DWORD *error);

// Grows every protected RAM overlay by the time passed.
void AdvanceTime(unsigned milliseconds);

size_t OutstandingEntries();
size_t OutstandingLists();
size_t OutstandingHandles();

// Provided by the environment the model runs in: the host fake or the DLL.
void SimSetLastError(DWORD error);
void *SimAllocRecord(size_t size);
void SimBeforeCall(const char *api);
void SimJournal(const char *api, const std::string &args, const std::string &result);

} // namespace sim
