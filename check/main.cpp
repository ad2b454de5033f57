#include "check/check.h"

#include "check/optional.h"
#include "check/text.h"

static const char Usage[] = "usage: tovrin-check.exe [PATH] | tovrin-check.exe /watch [PATH]";

static BOOL IsOption(const char *argument)
{
    return argument[0] == '/' || argument[0] == '-';
}

static int Report(Target *target)
{
    ReportSystem();
    VolumesRead = FALSE;
    if (!ReportWatchdogFile(target)) {
        return Verdict();
    }
    ReportProfile(target);
    BOOL written = FALSE;
    if (ReportLibrary(target, FALSE)) {
        written = ReportVolumes(target);
        UnloadLibrary();
    }
    ReportAccess(target);
    ReportWarningVisibility(target);
    ReportRunning(target, written);
    ReportStart(target);
    ReportPersist(target);
    return Verdict();
}

static int Check(const char *commandLine)
{
    // The name, /watch and a path at most.
    static char Arguments[3][MAX_PATH + 2];
    DWORD overlong = 0;
    DWORD count = SplitCommandLine(commandLine, Arguments, 3, &overlong);
    BOOL watch = count >= 2 && SameName(Arguments[1], "/watch");
    DWORD first = watch ? 2 : 1;

    // One optional path after the optional /watch; no other option.
    if (count > first + 1 || (count == first + 1 && IsOption(Arguments[first]))) {
        PrintErrorLine(Usage);
        return EXIT_USAGE;
    }

    StartReport();
    Target target;
    // Without a path, the watchdog beside the check, in the path's place.
    if (overlong != 0) {
        // Cut by the splitter: longer than any path Windows allows.
        Say(LevelProblem, "watchdog", TOO_LONG);
    } else if ((count > first || DefaultTargetPath(Arguments[first])) &&
               ResolveTarget(Arguments[first], &target)) {
        return watch ? Watch(&target) : Report(&target);
    }
    return watch ? EXIT_NOT_READY : Verdict();
}

int CheckMain(const char *commandLine)
{
    int code = Check(commandLine);
    ReleaseOptionalCalls();
    return code;
}
