// The manager library's calls, carried out on the model. Compiled into the
// host fake and into the stand-in EWFAPI.dll alike.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "sim/model/ewf_model.h"

using namespace sim;

namespace
{

bool IsLiveEntry(PEWF_VOLUME_NAME_ENTRY entry)
{
    return TheWorld().entries.count(entry) != 0;
}

// An entry by the name it holds, as the journal shows it.
std::string DescribeList(const char *api, PEWF_VOLUME_NAME_ENTRY list)
{
    if (list == nullptr) {
        return "null";
    }
    if (!IsLiveEntry(list)) {
        TheWorld().misuse.push_back(std::string(api) + " given a released list entry");
        return "released";
    }
    return Narrow(list->Name);
}

Volume *VolumeOfHandle(const char *api, HANDLE handle)
{
    auto found = TheWorld().handles.find(handle);
    if (found == TheWorld().handles.end()) {
        TheWorld().misuse.push_back(std::string(api) + " given a handle not open");
        return nullptr;
    }
    return &TheWorld().volumes[found->second];
}

std::string DescribeHandle(HANDLE handle, const Volume *volume)
{
    return volume != nullptr ? Narrow(volume->name)
                             : "unknown " + Hex((unsigned long long)(uintptr_t)handle);
}

// Common prologue of the calls that take a handle: journal-ready argument and
// the injected failure, if any.
bool FailOnHandle(const char *api, HANDLE handle, Volume *&volume, std::string &args)
{
    SimBeforeCall(api);
    volume = VolumeOfHandle(api, handle);
    args = DescribeHandle(handle, volume);
    DWORD error = 0;
    if (ShouldFail(api, volume, &error)) {
        SimSetLastError(error);
        SimJournal(api, args, "FALSE, LE " + std::to_string(error));
        return true;
    }
    if (volume == nullptr) {
        SimSetLastError(6); // ERROR_INVALID_HANDLE
        SimJournal(api, args, "FALSE, LE 6");
        return true;
    }
    return false;
}

// The same for the calls that take a volume name.
bool FailOnName(const char *api, LPCWSTR name, Volume *&volume, std::string &args,
                const char *failedResult)
{
    SimBeforeCall(api);
    WString wide = name != nullptr ? WString(name) : WString();
    volume = FindVolume(wide);
    args = Narrow(wide);
    DWORD error = 0;
    if (!ShouldFail(api, volume, &error)) {
        if (volume != nullptr) {
            return false;
        }
        error = 2; // ERROR_FILE_NOT_FOUND
    }
    SimSetLastError(error);
    SimJournal(api, args, std::string(failedResult) + ", LE " + std::to_string(error));
    return true;
}

} // namespace

extern "C" {

PEWF_VOLUME_NAME_ENTRY WINAPI EwfMgrGetProtectedVolumeList(void)
{
    const char *api = "EwfMgrGetProtectedVolumeList";
    SimBeforeCall(api);
    DWORD error = 0;
    if (ShouldFail(api, nullptr, &error)) {
        SimSetLastError(error);
        SimJournal(api, "", "null, LE " + std::to_string(error));
        return nullptr;
    }
    World &world = TheWorld();
    unsigned id = ++world.listsHandedOut;
    PEWF_VOLUME_NAME_ENTRY head = nullptr;
    PEWF_VOLUME_NAME_ENTRY *tail = &head;
    for (const Volume &volume : world.volumes) {
        size_t size =
            offsetof(EWF_VOLUME_NAME_ENTRY, Name) + (volume.name.size() + 1) * sizeof(WCHAR);
        auto entry = (PEWF_VOLUME_NAME_ENTRY)calloc(1, size);
        memcpy(entry->Name, volume.name.c_str(), (volume.name.size() + 1) * sizeof(WCHAR));
        world.entries[entry] = id;
        *tail = entry;
        tail = &entry->Next;
    }
    // The list ends in an entry with an empty name, so the pointer that the
    // last pop leaves behind tests empty but must still be deleted.
    auto terminator = (PEWF_VOLUME_NAME_ENTRY)calloc(1, sizeof(EWF_VOLUME_NAME_ENTRY));
    world.entries[terminator] = id;
    *tail = terminator;
    SimJournal(api, "", "list of " + std::to_string(world.volumes.size()));
    return head;
}

BOOL WINAPI EwfMgrVolumeNameListIsEmpty(PEWF_VOLUME_NAME_ENTRY list)
{
    const char *api = "EwfMgrVolumeNameListIsEmpty";
    SimBeforeCall(api);
    std::string args = DescribeList(api, list);
    BOOL empty = list == nullptr || !IsLiveEntry(list) || list->Name[0] == 0;
    SimJournal(api, args, empty ? "TRUE" : "FALSE");
    return empty;
}

VOID WINAPI EwfMgrVolumeNameEntryPop(PEWF_VOLUME_NAME_ENTRY *list)
{
    const char *api = "EwfMgrVolumeNameEntryPop";
    SimBeforeCall(api);
    std::string args = DescribeList(api, list != nullptr ? *list : nullptr);
    if (list != nullptr && *list != nullptr && IsLiveEntry(*list)) {
        PEWF_VOLUME_NAME_ENTRY head = *list;
        *list = head->Next;
        TheWorld().entries.erase(head);
        free(head);
    }
    SimJournal(api, args, "");
}

VOID WINAPI EwfMgrVolumeNameListDelete(PEWF_VOLUME_NAME_ENTRY list)
{
    const char *api = "EwfMgrVolumeNameListDelete";
    SimBeforeCall(api);
    std::string args = DescribeList(api, list);
    while (list != nullptr && IsLiveEntry(list)) {
        PEWF_VOLUME_NAME_ENTRY next = list->Next;
        TheWorld().entries.erase(list);
        free(list);
        list = next;
    }
    SimJournal(api, args, "");
}

WCHAR WINAPI EwfMgrGetDriveLetterFromVolumeName(LPCWSTR name)
{
    const char *api = "EwfMgrGetDriveLetterFromVolumeName";
    Volume *volume;
    std::string args;
    if (FailOnName(api, name, volume, args, "0xFFFF")) {
        return EWF_NO_DRIVE_LETTER;
    }
    SimJournal(api, args, std::string(1, (char)volume->driveLetter));
    return volume->driveLetter;
}

HANDLE WINAPI EwfMgrOpenProtected(LPCWSTR name)
{
    const char *api = "EwfMgrOpenProtected";
    Volume *volume;
    std::string args;
    if (FailOnName(api, name, volume, args, "INVALID")) {
        return INVALID_HANDLE_VALUE;
    }
    World &world = TheWorld();
    HANDLE handle = (HANDLE)world.nextHandle;
    world.nextHandle += 4;
    world.handles[handle] = (size_t)(volume - &world.volumes[0]);
    SimJournal(api, args, "handle");
    return handle;
}

BOOL WINAPI EwfMgrClose(HANDLE handle)
{
    Volume *volume;
    std::string args;
    if (FailOnHandle("EwfMgrClose", handle, volume, args)) {
        return FALSE;
    }
    TheWorld().handles.erase(handle);
    SimJournal("EwfMgrClose", args, "TRUE");
    return TRUE;
}

PEWF_VOLUME_CONFIG WINAPI EwfMgrGetProtectedVolumeConfig(HANDLE handle)
{
    const char *api = "EwfMgrGetProtectedVolumeConfig";
    Volume *volume;
    std::string args;
    if (FailOnHandle(api, handle, volume, args)) {
        return nullptr;
    }
    auto config = (PEWF_VOLUME_CONFIG)SimAllocRecord(sizeof(EWF_VOLUME_CONFIG));
    memset(config, 0, sizeof *config);
    config->Type = volume->type;
    config->State = volume->state;
    config->BootCommand.Command = volume->bootCommand;
    config->MaxLevels = 1;
    config->ClumpSize = 512;
    config->CurrentLevel = 1;
    config->RamOverlay.RamDataSize = volume->ramDataSize;
    size_t length = volume->name.size() < EWF_MAX_DEVICE_NAME_LENGTH - 1
                        ? volume->name.size()
                        : EWF_MAX_DEVICE_NAME_LENGTH - 1;
    memcpy(config->VolumeDesc.DeviceName, volume->name.c_str(), length * sizeof(WCHAR));
    SimJournal(api, args, "RamDataSize " + std::to_string(volume->ramDataSize));
    return config;
}

// A library from before the live commit existed leaves it out.
#ifndef EWFSIM_WITHOUT_LIVE_COMMIT
BOOL WINAPI EwfMgrCommitAndDisableLive(HANDLE handle)
{
    const char *api = "EwfMgrCommitAndDisableLive";
    Volume *volume;
    std::string args;
    if (FailOnHandle(api, handle, volume, args)) {
        return FALSE;
    }
    // Live commit exists for the RAM overlays only, and only while protected.
    if (volume->type == EWF_DISK || volume->state != EWF_ENABLED) {
        SimSetLastError(1); // ERROR_INVALID_FUNCTION
        SimJournal(api, args, "FALSE, LE 1");
        return FALSE;
    }
    volume->committedBytes += volume->ramDataSize;
    volume->ramDataSize = 0;
    volume->state = EWF_DISABLED;
    volume->bootCommand = EWF_NO_CMD;
    ++volume->commits;
    SimJournal(api, args, "TRUE");
    return TRUE;
}
#endif

BOOL WINAPI EwfMgrEnable(HANDLE handle)
{
    const char *api = "EwfMgrEnable";
    Volume *volume;
    std::string args;
    if (FailOnHandle(api, handle, volume, args)) {
        return FALSE;
    }
    // Protection is asked for here and takes effect at the next boot.
    if (volume->state != EWF_DISABLED) {
        SimSetLastError(1); // ERROR_INVALID_FUNCTION
        SimJournal(api, args, "FALSE, LE 1");
        return FALSE;
    }
    volume->bootCommand = EWF_ENABLE;
    ++volume->enables;
    SimJournal(api, args, "TRUE");
    return TRUE;
}

BOOL WINAPI EwfMgrIsHORMActivated(HANDLE handle)
{
    const char *api = "EwfMgrIsHORMActivated";
    Volume *volume;
    std::string args;
    if (FailOnHandle(api, handle, volume, args)) {
        return FALSE;
    }
    SimJournal(api, args, volume->horm ? "TRUE" : "FALSE");
    return volume->horm ? TRUE : FALSE;
}

} // extern "C"
