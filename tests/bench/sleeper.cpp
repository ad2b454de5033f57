// The benchmark's baseline: a Windows program that does nothing but sleep
// 2000 ms in a loop, as the watchdog does between polls.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    for (;;) {
        Sleep(2000);
    }
}
