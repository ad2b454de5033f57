// What the next restart keeps: whatever was written since the last boot on a
// volume whose overlay is on lives only in that overlay, unless the pending
// boot command is commit.
#include "check/bytes.h"
#include "check/check.h"

#include "check/optional.h"

// The time of the last boot, UTC; FALSE with an error when it cannot be had.
// GetTickCount would wrap after 49.7 days, long before such machines restart.
static BOOL BootTime(ULONGLONG *boot, DWORD *error)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto tick64 = LOOKED_UP(GetTickCount64);
    if (tick64 != nullptr) {
        *boot = Time(&now) - tick64() * 10000;
        return TRUE;
    }
    // XP: the kernel's own record of the boot.
    auto query = LOOKED_UP(NtQuerySystemInformation);
    if (query == nullptr) {
        *error = GetLastError();
        return FALSE;
    }
    SystemTimeOfDay day;
    ULONG got = 0;
    LONG status = query(SYSTEM_TIME_OF_DAY_INFORMATION, &day, sizeof day, &got);
    if (status != 0 || got < sizeof day.bootTime) {
        *error = (DWORD)status;
        return FALSE;
    }
    *boot = (ULONGLONG)day.bootTime;
    return TRUE;
}

static const VolumeFacts *VolumeOf(const Facts *facts, char drive)
{
    drive = drive >= 'a' && drive <= 'z' ? (char)(drive - 32) : drive;
    for (DWORD i = 0; i < facts->volumeCount; ++i) {
        if (facts->volumes[i].letter == drive) {
            return &facts->volumes[i];
        }
    }
    return nullptr;
}

struct Weighing {
    const Facts *facts;
    ULONGLONG boot;
    DWORD told; // lost, or not known
    DWORD kept; // a bit a volume, by its index: written since boot and committed
};

// One file, folder or key, written at `written` (0: read its times here).
static void Weigh(Weighing *tally, const char *where, char drive, ULONGLONG written)
{
    const VolumeFacts *volume = VolumeOf(tally->facts, drive);
    if (volume != nullptr && !volume->read) {
        ++tally->told;
        Say(LevelNote, "persist",
            "%s: on %c:, whose write filter record could not be read: whether the next restart "
            "keeps it is not known",
            where, volume->letter);
        return;
    }
    if (volume == nullptr || !volume->enabled) {
        return;
    }
    if (written == 0) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        // A registry key's time that RegQueryInfoKeyA did not give.
        if (where[1] != ':' || !GetFileAttributesExA(where, GetFileExInfoStandard, &data)) {
            Say(LevelNote, "persist",
                where[1] != ':' ? "%s: its last-write time cannot be read"
                                : "%s: its times cannot be read (error %u)",
                where, GetLastError());
            return;
        }
        ULONGLONG created = Time(&data.ftCreationTime);
        written = Time(&data.ftLastWriteTime);
        written = created > written ? created : written;
    }
    if (written <= tally->boot) {
        return;
    }
    if (volume->commit) {
        tally->kept |= 1u << (volume - tally->facts->volumes);
        return;
    }
    ++tally->told;
    Say(LevelProblem, "persist",
        "%s: written since the last boot on %c:, whose overlay is on: lost at the next restart: "
        "run `ewfmgr %c: -commit`, then restart",
        where, volume->letter, volume->letter);
}

BOOL ReportPersist(Facts *facts)
{
    const Target *target = &facts->target;
    static const char Unknown[] = "%s, so what the next restart keeps is not known";
    if (!facts->volumesRead) {
        Say(LevelNote, "persist", Unknown, "the write filter's volumes were not read");
        return TRUE;
    }
    Weighing tally;
    tally.facts = facts;
    tally.told = tally.kept = 0;
    DWORD error = 0;
    if (!BootTime(&tally.boot, &error)) {
        Say(LevelNote, "persist", "the time of the last boot cannot be read (error %u)", error);
        return TRUE;
    }
    Weigh(&tally, target->folder, target->folder[0], 0);
    Weigh(&tally, target->path, target->path[0], 0);
    if (target->profileExists) {
        Weigh(&tally, target->profile, target->profile[0], 0);
    }
    for (DWORD i = 0; i < facts->startCount; ++i) {
        const StartPlace *start = &facts->starts[i];
        Weigh(&tally, start->where, start->drive, start->written);
    }
    for (DWORD i = 0; i < facts->volumeCount; ++i) {
        if ((tally.kept >> i & 1) != 0) {
            Say(LevelNote, "persist",
                "%c: the pending boot command is commit: the changes are kept at the next "
                "restart",
                facts->volumes[i].letter);
        }
    }
    if (tally.told == 0 && tally.kept == 0) {
        Say(LevelOk, "persist",
            "nothing of the installation or its start lives only in an overlay");
    }
    return TRUE;
}
