#include "check/startfiles.h"

#include "check/bytes.h"
#include "check/text.h"

static BOOL SameStart(const char *text, const char *prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (Lower(*text) != Lower(*prefix)) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL HoldsName(const char *text, DWORD length, const char *part)
{
    DWORD partLength = Length(part);
    for (DWORD i = 0; i + partLength <= length; ++i) {
        if (SameStart(text + i, part)) {
            return TRUE;
        }
    }
    return FALSE;
}

const char *FileNameOf(const char *path)
{
    const char *name = path;
    for (; *path != '\0'; ++path) {
        if (*path == '\\' || *path == '/') {
            name = path + 1;
        }
    }
    return name;
}

void ProgramOf(const char *command, char *program)
{
    while (*command == ' ' || *command == '\t') {
        ++command;
    }
    BOOL quoted = *command == '"';
    command += quoted;
    // Unquoted, a blank ends the program only after its ".exe", if it has one.
    BOOL exe = HoldsName(command, Length(command), ".exe");
    DWORD length = 0;
    for (; length < MAX_PATH - 1 && command[length] != '\0'; ++length) {
        char c = command[length];
        if (quoted
                ? c == '"'
                : c == ' ' && (!exe || (length >= 4 && SameStart(command + length - 4, ".exe")))) {
            break;
        }
        program[length] = c;
    }
    program[length] = '\0';
}

// ---- Task Scheduler 2.0: XML in UTF-16LE ----

#define NAME_DEPTH 12

static BOOL Is(const char *text, const char *name)
{
    return SameName(text, name);
}

static BOOL SetFlag(const char *value)
{
    return Is(value, "true") || Is(value, "1");
}

static void Take(char *to, DWORD capacity, const char *from)
{
    DWORD i = 0;
    for (; from[i] != '\0' && i + 1 < capacity; ++i) {
        to[i] = from[i];
    }
    to[i] = '\0';
}

// The accounts a task may name that run it in session 0, with or without
// "NT AUTHORITY\".
static BOOL IsServiceAccount(const char *name)
{
    static const char Names[] = "S-1-5-18\0S-1-5-19\0S-1-5-20\0SYSTEM\0LOCAL SERVICE\0NETWORK "
                                "SERVICE\0";
    if (SameStart(name, "NT AUTHORITY\\")) {
        name += 13;
    }
    BOOL service = FALSE;
    for (const char *known = Names; *known != '\0'; known += Length(known) + 1) {
        service |= Is(name, known);
    }
    return service;
}

// One leaf element's value, by its path under the root.
static void TaskValue(TaskFacts *facts, const char *path, const char *value)
{
    if (Is(path, "Task/Actions/Exec/Command") && facts->command[0] == '\0') {
        ProgramOf(value, facts->command);
    } else if (HoldsName(path, Length(path), "LogonTrigger/Enabled")) {
        facts->logonsOff += !SetFlag(value);
    } else if (HoldsName(path, Length(path), "/UserId")) {
        // The log-on trigger's or the principal's.
        facts->service |= IsServiceAccount(value);
        Take(facts->user, sizeof facts->user, value);
    } else if (Is(path, "Task/Settings/Priority")) {
        DWORD level = 0;
        for (const char *c = value; *c >= '0' && *c <= '9' && level < 100; ++c) {
            level = level * 10 + (DWORD)(*c - '0');
        }
        facts->priority = level;
    } else if (Is(path, "Task/Principals/Principal/RunLevel")) {
        facts->highest = Is(value, "HighestAvailable");
    } else if (Is(path, "Task/Principals/Principal/LogonType")) {
        Take(facts->logonType, sizeof facts->logonType, value);
        facts->interactive = Is(value, "InteractiveToken") || Is(value, "Group") ||
                             Is(value, "InteractiveTokenOrPassword");
    } else if (Is(path, "Task/Settings/Enabled")) {
        facts->enabled = SetFlag(value);
    } else if (Is(path, "Task/Settings/ExecutionTimeLimit")) {
        Take(facts->limitText, sizeof facts->limitText, value);
        facts->limitRead = ReadDuration(value, &facts->limit);
    } else if (Is(path, "Task/Settings/DisallowStartIfOnBatteries")) {
        facts->noBatteryStart = SetFlag(value);
    } else if (Is(path, "Task/Settings/StopIfGoingOnBatteries")) {
        facts->batteryStop = SetFlag(value);
    }
}

// The character an entity stands for; `at` moves to its ';'. Other text,
// such as a character reference, stays as written.
static char Entity(const char *text, DWORD *at)
{
    static const char Names[5][7] = {"&quot;", "&amp;", "&apos;", "&lt;", "&gt;"};
    static const char Chars[] = "\"&'<>";
    for (DWORD i = 0; i < 5; ++i) {
        if (SameStart(text, Names[i])) {
            *at += Length(Names[i]) - 1;
            return Chars[i];
        }
    }
    return '&';
}

BOOL ReadDuration(const char *text, ULONGLONG *seconds)
{
    // Task Scheduler counts a month as 30 days and a year as 365.
    static const char Units[] = "YMDHMS";
    static const DWORD Factors[] = {31536000, 2592000, 86400, 3600, 60, 1};
    *seconds = 0;
    if (*text++ != 'P' || *text == '\0') {
        return FALSE;
    }
    DWORD unit = 0; // the next unit allowed, in Units
    BOOL time = FALSE;
    while (*text != '\0') {
        if (*text == 'T') {
            if (time || *++text == '\0') {
                return FALSE;
            }
            time = TRUE;
            unit = 3;
            continue;
        }
        ULONGLONG number = 0;
        DWORD digits = 0;
        for (; *text >= '0' && *text <= '9'; ++text) {
            number = number * 10 + (ULONGLONG)(*text - '0');
            if (++digits > 9) {
                return FALSE; // longer than any limit someone means
            }
        }
        // Y M D before the T, H M S after it.
        DWORD last = time ? 6 : 3;
        while (unit < last && Units[unit] != *text) {
            ++unit;
        }
        if (digits == 0 || unit == last) {
            return FALSE;
        }
        *seconds += number * Factors[unit++];
        ++text;
    }
    return TRUE;
}

const char *ReadTaskFile(const BYTE *bytes, DWORD size, TaskFacts *facts, char *text,
                         DWORD *textLength)
{
    *facts = TaskFacts();
    facts->enabled = facts->noBatteryStart = facts->batteryStop = facts->interactive = TRUE;
    facts->priority = 7;
    // Without ExecutionTimeLimit, Task Scheduler stops a triggered start after 72 hours.
    facts->limitRead = TRUE;
    facts->limit = 259200; // 72 hours
    Take(facts->limitText, sizeof facts->limitText, "absent, the default PT72H");
    DWORD n = 0;
    text[0] = '\0';
    *textLength = 0;
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
        return "not UTF-16 with a byte-order mark";
    }
    // What of a file too large was read is decoded all the same: whose it
    // is may be told from it.
    for (DWORD i = 2; i + 1 < size && i < TASK_FILE_MAX; i += 2) {
        DWORD c = Read16(bytes + i);
        text[n++] = IsPlain(c) || c == '\t' || c == '\r' || c == '\n' ? (char)c : '?';
    }
    // The terminator also ends every comparison that runs to the end.
    text[n] = '\0';
    *textLength = n;
    if (size > TASK_FILE_MAX) {
        return "too large";
    }

    char path[256]; // the open elements' names, "Task/Settings/..."
    DWORD length = 0;
    DWORD depth = 0;
    DWORD value = 0; // where the text of the latest element opened starts
    BOOL root = FALSE;
    path[0] = '\0';
    for (DWORD i = 0; i < n; ++i) {
        if (text[i] != '<') {
            continue;
        }
        DWORD tag = i;
        // A comment may hold '>'.
        const char *end = SameStart(text + i, "<!--") ? "-->" : ">";
        while (i < n && !SameStart(text + i, end)) {
            ++i;
        }
        if (i >= n) {
            return "cut short inside a tag";
        }
        i += Length(end) - 1;
        char kind = text[tag + 1];
        if (kind == '?' || kind == '!') {
            continue;
        }
        BOOL closing = kind == '/';
        DWORD name = tag + 1 + closing;
        DWORD nameLength = 0;
        while (name + nameLength < i && text[name + nameLength] > ' ' &&
               text[name + nameLength] != '/') {
            ++nameLength;
        }
        if (nameLength == 0) {
            return "an element without a name";
        }
        if (closing) {
            DWORD start = length - nameLength;
            BOOL matches =
                depth > 0 && nameLength <= length && (start == 0 || path[start - 1] == '/');
            for (DWORD k = 0; matches && k < nameLength; ++k) {
                matches = Lower(path[start + k]) == Lower(text[name + k]);
            }
            if (!matches) {
                return "unbalanced elements";
            }
            if (value != 0) {
                char content[MAX_PATH];
                DWORD k = 0;
                for (DWORD j = value; j < tag && k + 1 < sizeof content; ++j) {
                    content[k++] = text[j] == '&' ? Entity(text + j, &j) : text[j];
                }
                content[k] = '\0';
                TaskValue(facts, path, content);
            }
            value = 0;
            length = start > 0 ? start - 1 : 0;
            path[length] = '\0';
            --depth;
            continue;
        }
        if (depth == NAME_DEPTH || length + nameLength + 2 > sizeof path) {
            return "nested deeper than any task";
        }
        DWORD at = length;
        if (depth > 0) {
            path[length++] = '/';
        }
        for (DWORD k = 0; k < nameLength; ++k) {
            path[length++] = text[name + k];
        }
        path[length] = '\0';
        if (depth == 0 && !Is(path, "Task")) {
            return "not a task definition";
        }
        root = TRUE;
        facts->logons += Is(path, "Task/Triggers/LogonTrigger");
        value = 0;
        if (text[i - 1] == '/') {
            length = at;
            path[length] = '\0';
            continue;
        }
        ++depth;
        value = i + 1;
    }
    if (!root) {
        return "no element at all";
    }
    if (depth != 0) {
        return "cut short before </Task>";
    }
    facts->logon = facts->logons > facts->logonsOff;
    return nullptr;
}

// ---- Task Scheduler 1.0: .job ----

#define JOB_FIXED_SIZE 0x44u
#define JOB_TRIGGER_SIZE 0x30u
#define JOB_TRIGGER_AT_LOGON 7u
#define JOB_TRIGGER_DISABLED 0x4u

const char *ReadJobFile(const BYTE *bytes, DWORD size, JobFacts *facts)
{
    *facts = JobFacts();
    if (size < JOB_FIXED_SIZE + 4) {
        return "cut short";
    }
    facts->maxRunTime = Read32(bytes + 36);
    facts->flags = Read32(bytes + 48);
    DWORD name = Read16(bytes + 20);
    if (name < JOB_FIXED_SIZE || name + 2 > size) {
        return "its application name lies outside the file";
    }
    DWORD count = Read16(bytes + name);
    if (count > MAX_PATH || name + 2 + 2 * count > size) {
        return "its application name runs past the file";
    }
    for (DWORD i = 0; i < count; ++i) {
        DWORD c = Read16(bytes + name + 2 + 2 * (size_t)i);
        facts->application[i] = c == 0 ? '\0' : IsPlain(c) ? (char)c : '?';
    }
    facts->application[count < MAX_PATH ? count : MAX_PATH - 1] = '\0';

    DWORD triggers = Read16(bytes + 22);
    if (triggers < JOB_FIXED_SIZE || triggers + 2 > size) {
        return "its triggers run past the file";
    }
    DWORD triggerCount = Read16(bytes + triggers);
    if (triggerCount > (size - triggers - 2) / JOB_TRIGGER_SIZE) {
        return "more triggers than the file holds";
    }
    for (DWORD i = 0; i < triggerCount; ++i) {
        const BYTE *trigger = bytes + triggers + 2 + (size_t)JOB_TRIGGER_SIZE * i;
        facts->logon |= Read32(trigger + 32) == JOB_TRIGGER_AT_LOGON &&
                        (Read32(trigger + 28) & JOB_TRIGGER_DISABLED) == 0;
    }
    return nullptr;
}

// ---- shortcuts ----

#define LINK_HEADER_SIZE 0x4Cu
#define LINK_HAS_ID_LIST 0x1u
#define LINK_HAS_LINK_INFO 0x2u
#define LINK_LOCAL_PATH 0x1u

// Appends the NUL-terminated ANSI text at `offset` of a part of `size` bytes.
static BOOL AppendPart(const BYTE *part, DWORD size, DWORD offset, char *to, DWORD *length)
{
    if (offset >= size) {
        return FALSE;
    }
    for (; offset < size && part[offset] != 0; ++offset) {
        if (*length + 1 >= MAX_PATH) {
            return FALSE;
        }
        to[(*length)++] = IsPlain(part[offset]) ? (char)part[offset] : '?';
    }
    to[*length] = '\0';
    return offset < size;
}

const char *ReadShortcut(const BYTE *bytes, DWORD size, char *target)
{
    target[0] = '\0';
    if (size < LINK_HEADER_SIZE || Read32(bytes) != LINK_HEADER_SIZE) {
        return "not a shortcut";
    }
    DWORD flags = Read32(bytes + 0x14);
    DWORD at = LINK_HEADER_SIZE;
    if ((flags & LINK_HAS_ID_LIST) != 0) {
        if (at + 2 > size) {
            return "cut short";
        }
        at += 2 + Read16(bytes + at);
    }
    if ((flags & LINK_HAS_LINK_INFO) == 0) {
        return "no local path in it";
    }
    if (at + 28 > size) {
        return "cut short";
    }
    const BYTE *info = bytes + at;
    DWORD infoSize = Read32(info);
    if (infoSize < 28 || infoSize > size - at) {
        return "its link information runs past the file";
    }
    if ((Read32(info + 8) & LINK_LOCAL_PATH) == 0) {
        return "no local path in it";
    }
    DWORD length = 0;
    if (!AppendPart(info, infoSize, Read32(info + 16), target, &length) ||
        !AppendPart(info, infoSize, Read32(info + 24), target, &length)) {
        target[0] = '\0';
        return "its local path runs past the file";
    }
    return nullptr;
}
