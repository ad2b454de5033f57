// The library a planted EWFAPI.dll forwards to. Loading it is running it: its
// start-up writes evil-ran.txt beside itself, with the command line of the
// process it ran in, so that a test can tell whether anything loaded it.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\') {
        --length;
    }
    const char name[] = "evil-ran.txt";
    if (length + sizeof name > MAX_PATH) {
        return TRUE;
    }
    CopyMemory(path + length, name, sizeof name);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        const char *line = GetCommandLineA();
        DWORD written = 0;
        WriteFile(file, line, lstrlenA(line), &written, nullptr);
        CloseHandle(file);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI EwfMgrClose(HANDLE)
{
    return FALSE;
}
