// Everything the executable checks must reject, in one program, so that each
// check is seen to fail: an import from a DLL outside the allowed set and the
// C runtime's own, instructions past the baseline CPU (built for it with
// -march), a frame of two pages allocated at once, the runtime's TLS
// directory, a time stamp, no ASLR or DEP, a size over budget, the source's
// path in its bytes, so that a build in another folder differs, and a
// manifest that depends on a side-by-side assembly (unfit.rc).
#include <windows.h>
#include <shlwapi.h>

// A conditional move on x86, a population count on x64.
__attribute__((noinline)) int Mixed(int a, int b)
{
    return (a > b ? a : b) + __builtin_popcount((unsigned)a);
}

// Two pages of locals, not touched page by page.
__attribute__((noinline)) int Deep(const char *text)
{
    volatile char buffer[8192];
    buffer[0] = text[0];
    return buffer[0];
}

// Over every size budget, whatever the runtime adds: data the file must hold.
static volatile const char Bulk[65536] = {1};

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    static volatile const char *Where = __FILE__;
    return Mixed(PathFindFileNameA(commandLine) != commandLine,
                 Where[0] + Bulk[(unsigned char)commandLine[0]] + Deep(commandLine));
}
