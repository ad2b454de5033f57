// The check's entry point, in place of a C runtime's start-up code, for the
// same reasons as the watchdog's: nothing runs that we did not write, and the
// import table is exactly the calls the program makes.
#include "check/check.h"

extern "C" void WINAPI CheckStartup(void)
{
    ExitProcess((UINT)CheckMain(GetCommandLineA()));
}
