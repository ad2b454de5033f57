// The process's entry point, in place of a C runtime's start-up code.
//
// The watchdog needs nothing a runtime sets up: no heap, no stdio, no static
// constructors, no command line. Without one, nothing runs before WinMain that
// we did not write, the import table is exactly the calls the program makes,
// and no runtime object compiled for a later CPU than the Pentium can end the
// process on an old embedded board before it has started.
#include "platform/kernel32.h"
#include "watchdog/watchdog.h"

// The linker's name for the loaded image; its address is the instance handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void WINAPI WinMainStartup(void)
{
    // WinMain ignores its command line and show state: hand it the values a
    // runtime would pass when there are none, rather than import the calls
    // that fetch them.
    static char NoArguments[] = "";
    ExitProcess((UINT)WinMain((HINSTANCE)&__ImageBase, nullptr, NoArguments, SW_SHOWDEFAULT));
}
