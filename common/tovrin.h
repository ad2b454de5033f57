// What the watchdog driver and the volume operations share.
#pragma once

#include "platform/kernel32.h"

// 0 on success; otherwise the platform's last-error value read right after the
// call that failed, passed through unchanged (0 included).
typedef DWORD ResultCode;

// Bytes held by the RAM overlays of all protected volumes, summed by the last
// measurement. Main thread only.
extern LONGLONG TotalRamDataSize;

// Diagnostic hook. Its body is empty in the product, so its arguments are
// never read; host tests link a recorder in its place.
void Trace(const char *format, ...);
