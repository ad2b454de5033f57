// Every protected volume as the write filter describes it, and the total by
// the watchdog's own measurement and comparison, so that the two cannot
// disagree.
#include "check/check.h"

#include "common/tovrin.h"
#include "platform/ewfapi.h"
#include "volumes/volumes.h"
#include "watchdog/config.h"

LONGLONG TotalRamDataSize = 0;

static const char *TypeName(EWF_TYPE type)
{
    switch (type) {
    case EWF_DISK:
        return "disk";
    case EWF_RAM:
        return "RAM";
    case EWF_RAM_REG:
        return "RAM-REG";
    }
    return "unknown";
}

static const char *CommandName(EWF_CMD command)
{
    static const char *const Names[] = {"none", "enable", "disable", "set-level", "commit"};
    return (DWORD)command < 5 ? Names[command] : "unknown";
}

struct Tally {
    DWORD unread; // volumes whose record could not be had
    DWORD enabledRam;
    DWORD enabledRamEmpty;
    DWORD offUntilBoot; // disabled, with enable pending for the next boot
};

// One volume's line, walked as the watchdog walks: a volume the library
// cannot name is still read, one it cannot open or read is skipped.
static void ReportVolume(Facts *facts, LPCWSTR name, Tally *tally)
{
    char key[] = "volume.?";
    WCHAR letter = EwfMgrGetDriveLetterFromVolumeName(name);
    BOOL named = letter > 0x20 && letter < 0x7F;
    if (named) {
        key[7] = (char)letter;
    }

    const char *call = "EwfMgrOpenProtected";
    PEWF_VOLUME_CONFIG config = nullptr;
    HANDLE volume = EwfMgrOpenProtected(name);
    if (volume != INVALID_HANDLE_VALUE) {
        call = "EwfMgrGetProtectedVolumeConfig";
        config = EwfMgrGetProtectedVolumeConfig(volume);
    }
    if (config == nullptr) {
        DWORD error = GetLastError();
        if (volume != INVALID_HANDLE_VALUE) {
            EwfMgrClose(volume);
        }
        ++tally->unread;
        if (named && facts->volumeCount < 26) {
            facts->volumes[facts->volumeCount++] = {key[7], FALSE, FALSE, FALSE};
        }
        // The library's list may hold volumes the filter does not protect;
        // nothing read tells one from a protected volume the library fails on.
        Say(LevelWarning, key,
            "%w %s failed (error %u): not measured; if the write filter protects it, the "
            "watchdog does not see its overlay",
            name, call, error);
        return;
    }
    EWF_TYPE type = config->Type;
    EWF_STATE state = config->State;
    EWF_CMD command = config->BootCommand.Command;
    LONGLONG data = config->RamOverlay.RamDataSize;
    LocalFree(config);
    if (named && facts->volumeCount < 26) {
        facts->volumes[facts->volumeCount++] = {key[7], TRUE, state == EWF_ENABLED,
                                                command == EWF_COMMIT};
    }
    // Only TRUE tells: a library without the query, or one that fails it,
    // says FALSE, and nothing is known then.
    BOOL horm = EwfMgrIsHORMActivated(volume);
    BOOL closed = EwfMgrClose(volume);
    DWORD closeError = closed ? 0 : GetLastError();

    Text value;
    Clear(&value);
    // Under "volume.?" when the library gave no letter: measured all the same.
    Format(&value, "%w %s %s boot=%s", name, TypeName(type),
           state == EWF_ENABLED    ? "enabled"
           : state == EWF_DISABLED ? "disabled"
                                   : "unknown",
           CommandName(command));
    Level level = LevelOk;
    if (type == EWF_DISK) {
        // The record's field holds the disk map's size there, and there is
        // no live commit to write a disk overlay back with.
        Append(&value, ": a disk overlay; the watchdog needs RAM overlays");
        level = LevelProblem;
    } else {
        Format(&value, " data=%m", data);
        if (state == EWF_ENABLED) {
            ++tally->enabledRam;
            tally->enabledRamEmpty += data == 0;
        } else {
            Append(&value, ": protection is off, nothing is held in RAM for it");
            level = LevelNote;
            tally->offUntilBoot += state == EWF_DISABLED && command == EWF_ENABLE;
        }
    }
    if (!closed) {
        // Measured all the same; the handle stays with the write filter.
        Format(&value, "; EwfMgrClose failed (error %u)", closeError);
        level = level > LevelWarning ? level : LevelWarning;
    }
    Finding(level, key, &value);
    if (horm) {
        Say(LevelProblem, "horm",
            "%c: hibernate once, resume many is active: the watchdog's write-back would leave the "
            "disk different from what the next resume expects; do not use it on HORM images",
            key[7]);
    }
}

static void ReportTotal(const Target *target, DWORD unread)
{
    TotalRamDataSize = 0;
    ResultCode result = SumRamDataSize();
    Text value;
    Clear(&value);
    Format(&value, "%m", TotalRamDataSize);
    if (unread != 0) {
        Format(&value, " without %u volume(s) that could not be read", unread);
    } else if (result != 0) {
        Format(&value, " (the measurement met error %u)", result);
    }
    BOOL reached = LimitReached(TotalRamDataSize, target->limit);
    Format(&value,
           reached ? ", at or above the limit of %d MiB: the watchdog writes back at its "
                     "first poll"
                   : ", below the limit of %d MiB",
           target->limit);
    Finding(reached ? LevelWarning : LevelOk, "total", &value);
}

// Whether a protected volume is off with protection set to return at the
// next boot, as the watchdog's write-back leaves it.
static BOOL ReportVolumes(Facts *facts)
{
    PEWF_VOLUME_NAME_ENTRY list = EwfMgrGetProtectedVolumeList();
    if (list == nullptr) {
        DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED) {
            // XP-era systems have no elevation: the account decides.
            Say(LevelProblem, "volumes",
                facts->system.major >= 6
                    ? "access denied: run the check elevated; the watchdog must be started "
                      "elevated too, or it measures 0"
                    : "access denied: run the check from an administrator account; the watchdog "
                      "must run from one too, or it measures 0");
        } else {
            Say(LevelProblem, "volumes",
                "EwfMgrGetProtectedVolumeList failed (error %u): the watchdog measures 0", error);
        }
        return FALSE;
    }

    // Counted first, so that the count heads the volumes it counts.
    DWORD count = 0;
    for (PEWF_VOLUME_NAME_ENTRY entry = list; !EwfMgrVolumeNameListIsEmpty(entry);
         entry = entry->Next) {
        ++count;
    }
    if (count == 0) {
        Say(LevelProblem, "volumes", "no protected volume: the write filter protects nothing");
    } else {
        Say(LevelOk, "volumes", "%u protected %s", count, count == 1 ? "volume" : "volumes");
    }
    Tally tally = {0, 0, 0, 0};
    while (!EwfMgrVolumeNameListIsEmpty(list)) {
        ReportVolume(facts, list->Name, &tally);
        EwfMgrVolumeNameEntryPop(&list);
    }
    if (list != nullptr) {
        EwfMgrVolumeNameListDelete(list);
    }
    facts->volumesRead = TRUE;

    if (tally.enabledRam > 0 && tally.enabledRamEmpty == tally.enabledRam) {
        Say(LevelNote, "volumes.zero",
            "all protected RAM overlays hold 0 bytes; on XP Embedded SP1 without hotfix "
            "KB823025 they always read 0: write to a protected volume and check again");
    }
    if (count > 0) {
        ReportTotal(&facts->target, tally.unread);
        ReportRoom(facts, TotalRamDataSize);
    }
    return tally.offUntilBoot > 0;
}

BOOL ReportWriteFilter(Facts *facts)
{
    if (ReportLibrary(facts, FALSE)) {
        facts->written = ReportVolumes(facts);
        UnloadLibrary();
    }
    return TRUE;
}
