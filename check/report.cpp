#include "check/report.h"

static DWORD Problems = 0;
static DWORD Warnings = 0;

static void WriteLine(DWORD which, const char *chars, DWORD length)
{
    HANDLE output = GetStdHandle(which);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(output, chars, length, &written, nullptr);
    // CR LF, so that a report saved to a file reads right in Notepad.
    WriteFile(output, "\r\n", 2, &written, nullptr);
}

void Print(const char *pattern, ...)
{
    Text line;
    Clear(&line);
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(&line, pattern, arguments);
    va_end(arguments);
    WriteLine(STD_OUTPUT_HANDLE, line.chars, line.length);
}

void PrintErrorLine(const char *line)
{
    WriteLine(STD_ERROR_HANDLE, line, Length(line));
}

void StartReport()
{
    Problems = 0;
    Warnings = 0;
}

static void Pad(Text *line, DWORD column)
{
    do {
        AppendChar(line, ' ');
    } while (line->length < column);
}

static void StartFinding(Text *line, Level level, const char *key)
{
    static const char *const Names[] = {"ok", "note", "WARNING", "PROBLEM"};
    Problems += level == LevelProblem;
    Warnings += level == LevelWarning;
    Clear(line);
    Append(line, Names[level]);
    Pad(line, 8);
    Append(line, key);
    Pad(line, 24);
}

void Finding(Level level, const char *key, const Text *value)
{
    Text line;
    StartFinding(&line, level, key);
    AppendChars(&line, value->chars, value->length);
    WriteLine(STD_OUTPUT_HANDLE, line.chars, line.length);
}

void Say(Level level, const char *key, const char *pattern, ...)
{
    Text line;
    StartFinding(&line, level, key);
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(&line, pattern, arguments);
    va_end(arguments);
    WriteLine(STD_OUTPUT_HANDLE, line.chars, line.length);
}

int Verdict()
{
    if (Problems > 0) {
        Print("verdict: not ready (%u %s, %u %s)", Problems, Problems == 1 ? "problem" : "problems",
              Warnings, Warnings == 1 ? "warning" : "warnings");
        return EXIT_NOT_READY;
    }
    if (Warnings > 0) {
        Print("verdict: ready with warnings (%u)", Warnings);
        return EXIT_WARNINGS;
    }
    Print("verdict: ready");
    return EXIT_READY;
}
