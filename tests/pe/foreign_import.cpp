// Imports from a DLL outside the allowed set, so that the import check is seen
// to reject it.
#include <windows.h>
#include <shlwapi.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    return PathFindFileNameA(commandLine) != commandLine;
}
