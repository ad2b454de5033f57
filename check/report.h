// The check's output: one finding a line, "LEVEL KEY VALUE", plain ASCII, then
// one verdict line. The levels count towards the exit code.
#pragma once

#include "check/text.h"

enum Level { LevelOk, LevelNote, LevelWarning, LevelProblem };

#define EXIT_READY 0
#define EXIT_WARNINGS 1
#define EXIT_NOT_READY 2
#define EXIT_USAGE 3

// Forgets the counts of an earlier report.
void StartReport();
void Finding(Level level, const char *key, const Text *value);
// A finding whose value is formatted as Format does.
void Say(Level level, const char *key, const char *pattern, ...);
// Prints the verdict line and returns the exit code it stands for.
int Verdict();

// A line formatted as Format does, on standard output.
void Print(const char *pattern, ...);
void PrintErrorLine(const char *line);
