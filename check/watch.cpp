// The live view: the overlays' total every 2 seconds, measured as the
// watchdog measures it, to choose the limit from how fast the machine's own
// work fills them.
#include <atomic>

#include "check/check.h"

#include "common/tovrin.h"
#include "volumes/volumes.h"

#define WATCH_INTERVAL_MS 2000
#define WATCH_STEP_MS 100
#define MS_PER_HOUR 3600000
// What the system grants a closing console before it ends the process.
#define CLOSE_GRACE_MS 4500

static std::atomic<bool> StopRequested(false);
static std::atomic<bool> SummaryDone(false);

// Runs on a thread of its own: asks the loop to stop and waits for its
// summary, since the process may end as soon as this returns.
static BOOL WINAPI StopWatching(DWORD)
{
    StopRequested.store(true);
    for (DWORD waited = 0; !SummaryDone.load() && waited < CLOSE_GRACE_MS;
         waited += WATCH_STEP_MS) {
        Sleep(WATCH_STEP_MS);
    }
    return TRUE;
}

// Bytes per hour at which `change` bytes came in `elapsedMs`.
static LONGLONG PerHour(LONGLONG change, DWORD elapsedMs)
{
    if (elapsedMs == 0) {
        return 0;
    }
    ULONGLONG magnitude = change < 0 ? 0 - (ULONGLONG)change : (ULONGLONG)change;
    LONGLONG rate = (LONGLONG)Divide(magnitude * MS_PER_HOUR, elapsedMs);
    return change < 0 ? -rate : rate;
}

struct Watched {
    DWORD startedAt;
    DWORD firstAt;
    DWORD lastAt;
    LONGLONG first;
    LONGLONG last;
    LONGLONG peak;
    DWORD measured;
    // At the latest measurement; `roomKnown` FALSE when memory could not be read.
    LONGLONG room;
    BOOL roomKnown;
};

// "3 h 52 min" until `bytes` more have come at `perHour` (positive), rounded
// down: better a minute early than late.
static void AppendTimeTo(Text *text, LONGLONG bytes, LONGLONG perHour)
{
    ULONGLONG minutes = Divide((ULONGLONG)bytes * 60, (ULONGLONG)perHour);
    ULONGLONG hours = Divide(minutes, 60);
    if (minutes == 0) {
        Append(text, "less than a minute");
        return;
    }
    if (hours > 0) {
        AppendUnsigned(text, hours);
        Append(text, " h ");
    }
    AppendUnsigned(text, minutes - hours * 60);
    Append(text, " min");
}

static void PrintMeasurement(Watched *watched, const Facts *facts, ResultCode result)
{
    const Target *target = &facts->target;
    SYSTEMTIME now;
    GetLocalTime(&now);
    Text line;
    Clear(&line);
    Format(&line, "%2:%2:%2  ", (DWORD)now.wHour, (DWORD)now.wMinute, (DWORD)now.wSecond);
    // The measurement goes on past a volume it cannot read, and the watchdog
    // compares what the others hold: so does this view, saying so.
    if (result != 0 && TotalRamDataSize == 0) {
        Print("%smeasurement failed (error %u)", line.chars, result);
        return;
    }
    DWORD at = GetTickCount();
    if (watched->measured == 0) {
        watched->firstAt = at;
        watched->first = watched->peak = TotalRamDataSize;
    }
    ++watched->measured;
    watched->lastAt = at;
    watched->last = TotalRamDataSize;
    if (TotalRamDataSize > watched->peak) {
        watched->peak = TotalRamDataSize;
    }
    LONGLONG change = watched->last - watched->first;
    DWORD elapsed = watched->lastAt - watched->firstAt;
    Format(&line, "total %m  change %M  growth ", watched->last, change);
    Format(&line, elapsed == 0 ? "-" : "%m/h", PerHour(change, elapsed));
    Format(&line, "  limit %d MiB  room ", target->limit);
    Room room;
    watched->roomKnown = ReadRoom(&facts->system, &room);
    watched->room = room.bytes;
    Format(&line, watched->roomKnown ? "%m" : "unknown", room.bytes);
    if (result != 0) {
        Format(&line, "  (the measurement met error %u)", result);
    }
    Print("%s", line.chars);
}

static void PrintSummary(const Watched *watched, const Target *target)
{
    Text line;
    Clear(&line);
    Format(&line, "summary: %u s", (GetTickCount() - watched->startedAt) / 1000);
    DWORD elapsed = watched->lastAt - watched->firstAt;
    LONGLONG growth = PerHour(watched->last - watched->first, elapsed);
    LONGLONG left = (LONGLONG)target->limit * 1048576 - watched->last;
    if (watched->measured == 0) {
        Append(&line, ", nothing measured");
    } else {
        Format(&line, ", peak %m", watched->peak);
        if (elapsed == 0) {
            Append(&line, ", too short to tell the growth");
        } else {
            Format(&line, ", mean growth %m/h, ", growth);
            // Whichever the overlays reach first at that growth: the limit,
            // where the watchdog writes back, or the end of the room, where
            // the machine runs out.
            if (left <= 0) {
                Append(&line, "the limit is reached already");
            } else if (growth <= 0) {
                Append(&line, "not growing: at this rate neither the limit nor the end of the "
                              "room is reached");
            } else if (!watched->roomKnown) {
                Format(&line, "the limit of %d MiB in ", target->limit);
                AppendTimeTo(&line, left, growth);
                Append(&line, " at that rate; the room is not known");
            } else if (left <= watched->room) {
                Format(&line, "the limit of %d MiB comes first at that rate, in ", target->limit);
                AppendTimeTo(&line, left, growth);
                Append(&line, "; the end of the room in ");
                AppendTimeTo(&line, watched->room, growth);
            } else {
                Append(&line, "the end of the room comes first at that rate, in ");
                AppendTimeTo(&line, watched->room, growth);
                Format(&line, ", before the limit of %d MiB in ", target->limit);
                AppendTimeTo(&line, left, growth);
                Append(&line, ": lower the limit");
            }
        }
    }
    Print("%s", line.chars);
}

int Watch(Facts *facts)
{
    Target *target = &facts->target;
    // Which watchdog's limit, and whether there is one at all.
    ReportSystem(facts);
    if (!ReportWatchdogFile(facts)) {
        return EXIT_NOT_READY;
    }
    char raw[MAX_PATH];
    ReadTargetLimit(target, raw);
    Print("watching all protected RAM overlays every 2 s; limit %d MiB %s %s; Ctrl+C ends",
          target->limit, target->profileExists ? "from" : "by default, without", target->profile);
    if (!ReportLibrary(facts, TRUE)) {
        return EXIT_NOT_READY;
    }

    StopRequested.store(false);
    SummaryDone.store(false);
    SetConsoleCtrlHandler(StopWatching, TRUE);
    Watched watched = {GetTickCount(), 0, 0, 0, 0, 0, 0, 0, FALSE};
    int code = EXIT_READY;
    for (BOOL first = TRUE; !StopRequested.load(); first = FALSE) {
        TotalRamDataSize = 0;
        ResultCode result = SumRamDataSize();
        // Refused for every volume: no other volume's total to show.
        if (first && result == ERROR_ACCESS_DENIED && TotalRamDataSize == 0) {
            Say(LevelProblem, "volumes", "access denied: run the check elevated");
            code = EXIT_NOT_READY;
            break;
        }
        PrintMeasurement(&watched, facts, result);
        for (DWORD waited = 0; waited < WATCH_INTERVAL_MS && !StopRequested.load();
             waited += WATCH_STEP_MS) {
            Sleep(WATCH_STEP_MS);
        }
    }
    if (code == EXIT_READY) {
        PrintSummary(&watched, target);
    }
    // Before the handler goes: the system may hold its list of handlers
    // while one runs, and this one waits for the summary.
    SummaryDone.store(true);
    SetConsoleCtrlHandler(StopWatching, FALSE);
    UnloadLibrary();
    return code;
}
