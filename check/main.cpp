#include "check/check.h"

#include "check/optional.h"
#include "check/text.h"

static const char Usage[] = "usage: tovrin-check.exe [PATH] | tovrin-check.exe /watch [PATH]";

static BOOL IsOption(const char *argument)
{
    return argument[0] == '/' || argument[0] == '-';
}

// In this order: each finding reads what those above it learnt.
static BOOL (*const Findings[])(Facts *) = {
    ReportSystem,            // learns the system, which most below read
    ReportWatchdogFile,      // learns the watchdog's machine; without one the report ends
    ReportProfile,           // learns the profile and the limit
    ReportWriteFilter,       // learns the volumes, and whether one was written back
    ReportAccess,            // reads whether there is a profile
    ReportWarningVisibility, // reads the system's version
    ReportRunning,           // reads the write-back; learns the running copies
    ReportStart,             // reads the running copies; learns where the starts are kept
    ReportPersist,           // reads the volumes and the starts
};

static int Report(Facts *facts)
{
    for (BOOL (*finding)(Facts *) : Findings) {
        if (!finding(facts)) {
            break;
        }
    }
    return Verdict();
}

static int Check(const char *commandLine)
{
    // The name, /watch and a path at most.
    char arguments[3][MAX_PATH + 2];
    DWORD overlong = 0;
    DWORD count = SplitCommandLine(commandLine, arguments, 3, &overlong);
    BOOL watch = count >= 2 && SameName(arguments[1], "/watch");
    DWORD first = watch ? 2 : 1;

    // One optional path after the optional /watch; no other option.
    if (count > first + 1 || (count == first + 1 && IsOption(arguments[first]))) {
        PrintErrorLine(Usage);
        return EXIT_USAGE;
    }

    StartReport();
    // Nothing learnt yet.
    Facts facts;
    for (DWORD i = 0; i < sizeof facts; ++i) {
        // cppcheck-suppress useStandardLibrary ; no C runtime, so no memset
        ((BYTE *)&facts)[i] = 0;
    }
    // Without a path, the watchdog beside the check, in the path's place.
    if (overlong != 0) {
        // Cut by the splitter: longer than any path Windows allows.
        Say(LevelProblem, "watchdog", TOO_LONG);
    } else if ((count > first || DefaultTargetPath(arguments[first])) &&
               ResolveTarget(arguments[first], &facts.target)) {
        return watch ? Watch(&facts) : Report(&facts);
    }
    return watch ? EXIT_NOT_READY : Verdict();
}

int CheckMain(const char *commandLine)
{
    int code = Check(commandLine);
    ReleaseOptionalCalls();
    return code;
}
