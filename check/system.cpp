// The system line: Windows' version and bitness, which most findings after
// it read.
#include "check/check.h"
#include "check/optional.h"
#include "check/pe.h"

// The check's own architecture, from its own headers in memory.
static WORD OwnMachine()
{
    return MachineAt((const BYTE *)GetModuleHandleA(nullptr), 0x1000);
}

BOOL ReportSystem(Facts *facts)
{
    SystemFacts *system = &facts->system;
    system->major = system->minor = 0;
    system->own = OwnMachine();
    system->is64 = system->own == MACHINE_X64;
    if (!system->is64) {
        auto isWow64 = LOOKED_UP(IsWow64Process);
        BOOL wow64 = FALSE;
        system->is64 = isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
    }

    OSVERSIONINFOEXA version;
    version.dwOSVersionInfoSize = sizeof version;
    const char *bits = system->is64 ? "64-bit" : "32-bit";
    if (!GetVersionExA((OSVERSIONINFOA *)&version)) {
        Say(LevelOk, "system", "Windows, version unknown (error %u), %s", GetLastError(), bits);
        return TRUE;
    }
    system->major = version.dwMajorVersion;
    system->minor = version.dwMinorVersion;
    Say(LevelOk, "system", "Windows %u.%u build %u%s%s, %s", version.dwMajorVersion,
        version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion[0] != '\0' ? " " : "",
        version.szCSDVersion, bits);
    return TRUE;
}
