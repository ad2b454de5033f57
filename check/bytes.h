// Numbers as files and the platform lay them out: little-endian, at any
// alignment, in a buffer the caller has already bounded.
#pragma once

#include "platform/kernel32.h"

inline DWORD Read16(const BYTE *at)
{
    return (DWORD)at[0] | (DWORD)at[1] << 8;
}

inline DWORD Read32(const BYTE *at)
{
    return Read16(at) | Read16(at + 2) << 16;
}

// A FILETIME as one count of 100-nanosecond intervals.
inline ULONGLONG Time(const FILETIME *time)
{
    return (ULONGLONG)time->dwHighDateTime << 32 | time->dwLowDateTime;
}
