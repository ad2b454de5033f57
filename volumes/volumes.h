// Every contact with the write filter. Each operation obtains and releases its
// own list, handle and record within the call, and reports failure only
// through its result code and Trace.
#pragma once

#include "common/tovrin.h"

// Adds each listed volume's RAM overlay data size to TotalRamDataSize, in list
// order, skipping a volume that cannot be opened or read; returns the first
// failure's code, 0 when none failed.
ResultCode SumRamDataSize();

// Writes the volume's overlay to the volume and switches protection off live.
ResultCode CommitAndDisableVolume(LPCWSTR volumeName);

// Asks for protection at the next boot; with restart set, also reboots now.
ResultCode EnableVolume(LPCWSTR volumeName, BOOL restart);

// Commit-and-disable then enable on every protected volume whose overlay is
// enabled; one whose protection is off is left as it is. Returns 0 unless the
// volume list itself cannot be had.
ResultCode CommitAndReenableAll();

// Enables the shutdown privilege and forces a restart.
ResultCode RestartSystem();
