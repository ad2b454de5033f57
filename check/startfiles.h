// The files and strings that say how a program starts at log-on, read from
// their bytes: each may have been written by anyone, so every read is bounded
// and a malformed one is said, never followed.
#pragma once

#include "platform/kernel32.h"

// The program a command line starts ("C:\A B\x.exe" -a, or unquoted up to
// its ".exe"), cut to MAX_PATH - 1 characters.
void ProgramOf(const char *command, char *program);
// The file name of a path: what follows its last backslash or slash.
const char *FileNameOf(const char *path);
// Whether `text` holds `part`, ASCII letters compared without case.
BOOL HoldsName(const char *text, DWORD length, const char *part);

// What a Task Scheduler 2.0 task says about the start it makes.
struct TaskFacts {
    char command[MAX_PATH]; // the first Exec action's program
    BOOL logon;             // an enabled log-on trigger
    DWORD logons;           // log-on triggers, and those turned off
    DWORD logonsOff;
    char user[64];  // the one account it starts for, "" for any
    BOOL service;   // runs as a service account, in session 0
    DWORD priority; // 0 highest to 10; 7 when absent
    BOOL enabled;
    BOOL highest;     // RunLevel HighestAvailable
    BOOL interactive; // runs in the user's own session
    char logonType[32];
    BOOL limitRead;  // a duration this reads (none written: 72 hours)
    ULONGLONG limit; // seconds; 0 none
    char limitText[32];
    BOOL noBatteryStart;
    BOOL batteryStop;
};
// The largest task file read; Task Scheduler's own are a few KiB.
#define TASK_FILE_MAX (64u * 1024)
// Null when the file reads as a task; otherwise why not, for the report.
// `text` gets what of the file was read as ASCII ('?' for anything else),
// for a caller that asks whether a malformed file names the watchdog.
const char *ReadTaskFile(const BYTE *bytes, DWORD size, TaskFacts *facts, char *text,
                         DWORD *textLength);
// An ISO 8601 duration as Task Scheduler writes it (P1DT2H3M4S, PT72H...):
// FALSE when it is not one.
BOOL ReadDuration(const char *text, ULONGLONG *seconds);

// What a Task Scheduler 1.0 .job file says.
struct JobFacts {
    char application[MAX_PATH];
    DWORD maxRunTime; // milliseconds; 0xFFFFFFFF none
    DWORD flags;
    BOOL logon; // an enabled log-on trigger
};
#define JOB_DISABLED 0x4u
#define JOB_NO_BATTERY_START 0x40u
#define JOB_BATTERY_STOP 0x80u
const char *ReadJobFile(const BYTE *bytes, DWORD size, JobFacts *facts);

// The local path a shortcut (.lnk) points at, from its LinkInfo.
const char *ReadShortcut(const BYTE *bytes, DWORD size, char *target);
