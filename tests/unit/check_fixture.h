#pragma once

#include <map>
#include <string>
#include <vector>

#include "check/check.h"
#include "tests/unit/fixture.h"

// One line of the report, as printed.
struct ReportLine {
    std::string level;
    std::string key;
    std::string value;
    // As expectations name it: "LEVEL key value".
    std::string Text() const { return level + " " + key + " " + value; }
};

// A machine on which the watchdog is installed as the guide says: C:\Tovrin
// with tovrin.exe (x86), tovrin-check.exe and tovrin.ini (limit=128), only
// Administrators and SYSTEM may change anything there, the write filter's
// library in the system folder, one protected RAM volume C: holding 12 MiB
// (NTFS, its root as Windows leaves it), the watchdog running as process 1234
// and started by a Run value under HKLM, on XP Embedded SP3.
extern const char DefaultProfile[];

class CheckTest : public ::testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;
    // The machine anew, with this profile (none when null), and the watchdog
    // running or not.
    void Install(const char *profile = DefaultProfile, bool running = true);

    // Runs the check with this command line; the exit code.
    int Run(const std::string &commandLine = "tovrin-check.exe");
    // Every finding line of the last run, the verdict aside.
    std::vector<ReportLine> Findings() const;
    // The one line with this key; fails the test when there is not exactly one.
    ReportLine Line(const std::string &key) const;
    bool Has(const std::string &key) const;
    // The lines of this key and of those below it ("running", "running.path"...),
    // as "LEVEL key value", for SayAll.
    std::vector<std::string> Said(const std::string &key) const;
    // Whether the one line with the expectation's key is what it says (see Says).
    ::testing::AssertionResult Reads(const std::string &expected) const;
    // The lines whose level is not "ok", as "LEVEL key".
    std::vector<std::string> NotOk() const;
    std::string VerdictLine() const;
    // What the run asked of the write filter that could change its state.
    std::vector<std::string> StateChangingCalls() const;

    std::string output;
};

extern const char DefaultProfile[];
extern const std::string WatchdogPath;
extern const std::string ProfilePath;
extern const std::string SystemLibrary;
extern const std::string RunKey;

// ASCII text as UTF-16LE, after the byte-order mark Task Scheduler writes
// unless `mark` is false.
std::string Utf16(const std::string &text, bool mark = true);
// The first bytes of a PE image for this machine (0x14C x86, 0x8664 x64).
std::string PeHeader(unsigned machine);
// The permissions the guide's commands leave: Administrators and SYSTEM
// full control, Users read and execute.
void OnlyAdministrators(fake::File &file);
// A drive's root as Windows 7 leaves it: Administrators and SYSTEM full
// control, Users read and execute, Authenticated Users "create folders" there
// and modify in what they create below it.
void RootAsWindowsLeavesIt(fake::File &file);

// For the live view: C: grows by `perPoll` bytes at every measurement after
// the first, and the console gets `event` at the `polls`th.
void GrowEachPoll(LONGLONG perPoll, unsigned polls, DWORD event);

// Whether a report line, "LEVEL key value", is what `expected` says:
// "LEVEL key", then after each " | " words its value holds, in that order; a
// final '$' says the line ends there. The
// golden reports pin the whole wording; a finding's test names its fact.
bool Says(const std::string &line, const std::string &expected);
// Each line against its own expectation, none missing and none more.
::testing::AssertionResult SayAll(const std::vector<std::string> &expected,
                                  const std::vector<std::string> &lines);
