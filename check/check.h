// The installation check: reads, on the protected machine itself, what
// decides whether the watchdog will protect it, and changes nothing.
#pragma once

#include "check/report.h"
#include "platform/advapi32.h"
#include "platform/kernel32.h"

#define TOO_LONG "the path is longer than Windows allows (259 characters)"

#define MACHINE_X86 0x014C
#define MACHINE_X64 0x8664

// The watchdog being checked, and what it will read.
struct Target {
    char path[MAX_PATH];    // full path of the watchdog's executable
    char folder[MAX_PATH];  // its folder, without the final backslash
    char name[MAX_PATH];    // its file name
    char profile[MAX_PATH]; // the profile it reads; empty when none can be formed
    WORD machine;           // its PE machine, 0 when unknown
    BOOL profileExists;
    int limit;
};

struct SystemFacts {
    DWORD major; // Windows' version, 0 when unknown
    DWORD minor;
    BOOL is64; // 64-bit Windows
    WORD own;  // this check's own PE machine
};

// A listed volume with a letter, as the write filter described it.
struct VolumeFacts {
    char letter;
    BOOL read;    // its record was had; nothing below is known otherwise
    BOOL enabled; // its overlay is on now
    BOOL commit;  // the pending boot command is commit
};

// Where a start found is kept: a file, or a registry key whose hive lives on
// the system volume.
#define MAX_STARTS 16
struct StartPlace {
    char where[MAX_PATH];
    char drive;        // the volume it lives on, 0 when unknown
    ULONGLONG written; // the later of its creation and last write, FILETIME
};

// What the check has learnt, each part filled by one finding and read by
// those the runner lists after it.
struct Facts {
    Target target;
    SystemFacts system;
    // FALSE when the write filter could not be asked; the list then is empty.
    BOOL volumesRead;
    VolumeFacts volumes[26];
    DWORD volumeCount;
    BOOL written;        // a protected volume is off until the next boot, as a write-back leaves it
    DWORD runningCopies; // processes with the watchdog's file name
    StartPlace starts[MAX_STARTS];
    DWORD startCount;
};

// ---- main.cpp: the runner ----

// The entry point's work: the exit code for a command line.
int CheckMain(const char *commandLine);

// The findings, one file each, in the order the runner calls them. FALSE
// ends the report: nothing after it would be about a watchdog.
BOOL ReportSystem(Facts *facts);
BOOL ReportWatchdogFile(Facts *facts);
BOOL ReportProfile(Facts *facts);
// The library, then the volumes read through it.
BOOL ReportWriteFilter(Facts *facts);
BOOL ReportAccess(Facts *facts);
BOOL ReportWarningVisibility(Facts *facts);
BOOL ReportRunning(Facts *facts);
// How the watchdog will start at the next log-on, then what the next restart
// keeps of it.
BOOL ReportStart(Facts *facts);
BOOL ReportPersist(Facts *facts);

// The live view of the overlays; the exit code.
int Watch(Facts *facts);

// ---- what /watch shares with the findings: watchdog.cpp, profile.cpp,
// library.cpp, room.cpp ----

// Fills `target` from a path as the user gave it (relative paths against the
// current folder). FALSE, with a problem reported, when no full path of at
// most MAX_PATH - 1 characters can be had.
BOOL ResolveTarget(const char *given, Target *target);
// The watchdog beside the check, under its shipped name.
BOOL DefaultTargetPath(char *path);

// The profile path, whether a file is there, and the limit, as the watchdog
// forms and reads them; `raw` (MAX_PATH) gets the value as the platform
// returns it, the default included.
void ReadTargetLimit(Target *target, char *raw);

// Loads the library the watchdog would load and binds the write filter calls
// to it. FALSE, with problems reported, when there is none to read from.
BOOL ReportLibrary(const Facts *facts, BOOL quiet);
void UnloadLibrary();
// The system folder a program of `machine` sees, by its name (`named`) and by
// a path this check reads it through (`readable`: Sysnative for the 64-bit
// one from a 32-bit check).
void SystemFolder(const SystemFacts *system, WORD machine, char *named, char *readable);

// The room a RAM overlay has now: available physical memory and, on 32-bit
// XP-era Windows, what the free system PTEs can still map (4 KiB each).
struct Room {
    DWORD error;     // of GlobalMemoryStatusEx; 0 when memory was read
    ULONGLONG total; // physical memory
    ULONGLONG available;
    DWORD ptes;     // free system PTEs; 0 when unknown or not a bound
    LONGLONG bytes; // the smaller of what is known
};
// FALSE, with `error` set, when memory cannot be read.
BOOL ReadRoom(const SystemFacts *system, Room *room);
// Right after the total: whether the machine has room for what the limit
// lets the overlays grow by. `total` is the measured total.
void ReportRoom(const Facts *facts, LONGLONG total);

// ---- files.cpp: files and registry values, read bounded ----

BOOL IsFile(const char *path);
// A REG_DWORD of the key, or `otherwise` when it is missing or of another type.
DWORD ReadNumber(HKEY key, const char *name, DWORD otherwise);
// Up to `capacity` bytes of a file into `bytes`; `*size` is `capacity` when
// it holds more. FALSE, with the error, when it cannot be read.
BOOL ReadInto(const char *path, BYTE *bytes, DWORD capacity, DWORD *size, DWORD *error);
// The whole file, at most `limit` bytes, in a block to be released with
// LocalFree; null, with the error, when it cannot be read or is larger.
BYTE *ReadWholeFile(const char *path, DWORD limit, DWORD *size, DWORD *error);
// FALSE, leaving `path` empty, when folder\name does not fit MAX_PATH.
BOOL JoinPath(char *path, const char *folder, const char *name);

// ---- accounts.cpp: accounts, Administrators and sessions ----

// Whether this check runs in the session at the console; `console` gets that
// session (NO_CONSOLE_SESSION for none), `own` the check's.
#define NO_CONSOLE_SESSION 0xFFFFFFFFu
BOOL AtConsole(DWORD *console, DWORD *own);

// Whether `account` ("DOMAIN\name", or a name of this computer) is in
// Administrators, directly or through a group: 0 when it is, NOT_A_MEMBER
// when it is not, otherwise the error that kept it from being read.
#define NOT_A_MEMBER 0xFFFFFFFFu
DWORD AdministratorsMembership(const WCHAR *account);
// "DOMAIN\name", or the SID where the name is unknown or not plain ASCII;
// `account` (512) gets "DOMAIN\name" as looked up. FALSE, with the error,
// when the name cannot be looked up.
BOOL AppendAccount(Text *text, const void *sid, SID_NAME_USE *use, WCHAR *account);

// S-1-5-32-544, in its binary form.
extern const BYTE SidAdministrators[16];
// Whether a SID is the one given in binary form.
BOOL SidIs(const void *sid, const void *known);
// Its length in bytes, by its count of sub-authorities.
DWORD SidLength(const BYTE *sid);
