// The room a RAM overlay has to grow in, and whether the limit fits in it.
#include "check/check.h"

#include "check/optional.h"

#define MIB_SHIFT 20
// The write filter maps its RAM overlay through system PTEs: one free entry
// is room for one 4 KiB page of overlay.
#define PTE_SHIFT 12

// The free system PTEs, 0 when unknown: the call is missing or fails, or
// reads 0, which no running system has (Wine always says 0).
static DWORD FreeSystemPtes()
{
    auto query = LOOKED_UP(NtQuerySystemInformation);
    if (query == nullptr) {
        return 0;
    }
    union {
        SYSTEM_PERFORMANCE_START start;
        BYTE bytes[SYSTEM_PERFORMANCE_INFORMATION_SIZE];
    } record;
    ULONG returned = 0;
    LONG status = query(SYSTEM_PERFORMANCE_INFORMATION_CLASS, &record,
                        SYSTEM_PERFORMANCE_INFORMATION_SIZE, &returned);
    // Only what the call says it wrote.
    if (status < 0 || returned < offsetof(SYSTEM_PERFORMANCE_START, FreeSystemPtes) + 4) {
        return 0;
    }
    return record.start.FreeSystemPtes;
}

BOOL ReadRoom(const SystemFacts *system, Room *room)
{
    MEMORYSTATUSEX memory;
    memory.dwLength = sizeof memory;
    room->error = 0;
    room->bytes = 0;
    if (!GlobalMemoryStatusEx(&memory)) {
        room->error = GetLastError();
        return FALSE;
    }
    room->total = memory.ullTotalPhys;
    room->available = memory.ullAvailPhys;
    // 64-bit Windows has system PTEs to spare for any overlay memory can hold;
    // the 32-bit 6.x kernel hands its address space to system PTEs as they
    // are needed, so only the XP era's count, fixed at boot, is a ceiling.
    room->ptes = system->is64 || system->major >= 6 ? 0 : FreeSystemPtes();
    // Available memory is part of physical memory: a figure above it is
    // wrong, and the room is never more than all of that memory.
    ULONGLONG bytes = room->available < room->total ? room->available : room->total;
    if (room->ptes != 0 && ((ULONGLONG)room->ptes << PTE_SHIFT) < bytes) {
        bytes = (ULONGLONG)room->ptes << PTE_SHIFT;
    }
    room->bytes = (LONGLONG)bytes;
    return TRUE;
}

void ReportRoom(const Facts *facts, LONGLONG total)
{
    const Target *target = &facts->target;
    Room room;
    if (!ReadRoom(&facts->system, &room)) {
        Say(LevelNote, "room",
            "available memory cannot be read (GlobalMemoryStatusEx error %u): the overlay's room "
            "is not known",
            room.error);
        return;
    }
    LONGLONG now = total > 0 ? total : 0;
    // Nothing more once the limit is reached or not positive: the watchdog
    // then writes back at its first poll, as the limit and total lines say.
    LONGLONG need = (LONGLONG)target->limit * 1048576 - now;
    need = need > 0 ? need : 0;

    Text value;
    Clear(&value);
    Format(&value, "room %m (available memory %t ", room.bytes,
           TenthsOf((LONGLONG)room.available, 1048576));
    Format(&value,
           room.available > room.total ? "MiB read, more than the physical memory of %m, "
                                         "so at most all of it; "
                                       : "of %m; ",
           (LONGLONG)room.total);
    if (facts->system.is64) {
        Append(&value, "system PTEs are no bound on 64-bit Windows");
    } else if (facts->system.major >= 6) {
        Append(&value, "the kernel address space left for system PTEs is not read");
    } else if (room.ptes == 0) {
        Append(&value, "free system PTEs unknown");
    } else {
        Format(&value, "free system PTEs %u, %m", room.ptes,
               (LONGLONG)((ULONGLONG)room.ptes << PTE_SHIFT));
    }
    Format(&value, "), the limit needs %m", need);

    // The highest sound limit: the total now plus three quarters of the room,
    // in whole MiB, rounded down. The quarter kept back is for what arrives
    // in the 2 s between two polls and while the write-back runs, and for the
    // system and the application, whose own memory grows too. A limit at or
    // below it leaves this line ok. Never above physical memory.
    LONGLONG spare = room.bytes - (room.bytes >> 2);
    ULONGLONG highest = ((ULONGLONG)now + (ULONGLONG)spare) >> MIB_SHIFT;
    if (highest > room.total >> MIB_SHIFT) {
        highest = room.total >> MIB_SHIFT;
    }
    Level level = LevelProblem;
    if (target->limit > 0 && ((ULONGLONG)target->limit << MIB_SHIFT) > room.total) {
        Append(&value, "; the limit is more than the machine's physical memory");
    } else if (need > room.bytes) {
        Format(&value, "; the machine runs out about %m before the limit", need - room.bytes);
    } else if (need > spare) {
        level = LevelWarning;
        Append(&value, "; less than a quarter of the room would be left");
    } else {
        level = LevelOk;
    }
    if (level != LevelOk) {
        if (highest == 0) {
            Append(&value, ": no room to spare for the overlay; add memory");
        } else {
            Append(&value, ": lower the limit to at most ");
            AppendUnsigned(&value, highest);
            Append(&value, " MiB");
        }
    }
    Finding(level, "room", &value);
}
