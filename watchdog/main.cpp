#include "watchdog/watchdog.h"

#include "common/tovrin.h"
#include "volumes/volumes.h"
#include "watchdog/config.h"
#include "watchdog/warning.h"

LONGLONG TotalRamDataSize = 0;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    Trace("Ewf API Sample\n\n");
    int limit = ReadLimit();

    // Nothing notifies about RAM overlays filling up, so poll.
    for (;;) {
        Sleep(POLL_INTERVAL_MS);
        TotalRamDataSize = 0;
        SumRamDataSize();
        if (LimitReached(TotalRamDataSize, limit)) {
            break;
        }
    }

    Trace("Total Ram Data Size : %u bytes\n", TotalRamDataSize);
    Trace("Total Ram Data Size : %u MB\n", TotalRamDataSize / BYTES_PER_MIB);

    // The box blocks its thread until dismissed; the write-back must not wait
    // for a user who may never come.
    HANDLE warning = CreateThread(nullptr, 0, ShowOverflowWarning, nullptr, 0, nullptr);
    if (warning != nullptr) {
        CloseHandle(warning);
    }

    CommitAndReenableAll();

    // Without a warning thread nobody would ever clear the flag: warn from
    // here, now that the data is safe.
    if (warning == nullptr) {
        ShowOverflowWarning(nullptr);
    }
    while (WarningShowing.load()) {
        Sleep(DISMISS_POLL_INTERVAL_MS);
    }
    return 0;
}
