#include "check/check.h"

#include "check/text.h"

static const char Usage[] = "usage: tovrin-check.exe [PATH] | tovrin-check.exe /watch [PATH]";

static BOOL IsOption(const char *argument)
{
    return argument[0] == '/' || argument[0] == '-';
}

static int Report(Target *target)
{
    ReportSystem();
    ReportWatchdogFile(target);
    ReportProfile(target);
    if (ReportLibrary(target, FALSE)) {
        ReportVolumes(target);
        UnloadLibrary();
    }
    ReportAccess(target);
    ReportWarningVisibility();
    ReportRunning(target);
    return Verdict();
}

int CheckMain(const char *commandLine)
{
    static char Arguments[4][MAX_PATH + 2];
    DWORD overlong = 0;
    DWORD count = SplitCommandLine(commandLine, Arguments, 4, &overlong);
    BOOL watch = count >= 2 && SameName(Arguments[1], "/watch");
    DWORD first = watch ? 2 : 1;

    // One optional path after the optional /watch; no other option.
    if (count > first + 1 || (count == first + 1 && IsOption(Arguments[first]))) {
        PrintErrorLine(Usage);
        return EXIT_USAGE;
    }

    StartReport();
    Target target;
    BOOL resolved;
    if (count == first + 1) {
        // A path cut by the splitter is longer than any Windows allows.
        resolved = overlong == 0 && ResolveTarget(Arguments[first], &target);
        if (overlong != 0) {
            Say(LevelProblem, "watchdog", TOO_LONG);
        }
    } else {
        char path[MAX_PATH];
        resolved = DefaultTargetPath(path) && ResolveTarget(path, &target);
    }
    if (!resolved) {
        return watch ? EXIT_NOT_READY : Verdict();
    }
    return watch ? Watch(&target) : Report(&target);
}
