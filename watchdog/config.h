// The overlay limit, read from the profile file beside the executable.
#pragma once

#include "platform/kernel32.h"

// Limit used when no profile value can be read.
#define DEFAULT_LIMIT_TEXT "128"

// Converts a profile value the way atoi does: leading white space, one
// optional sign, decimal digits up to the first non-digit, 0 without digits.
// The digits accumulate modulo 2^32.
int ParseLimit(const char *text);

// Turns the executable's path, as GetModuleFileNameA left it in the
// MAX_PATH-sized buffer together with its returned length, into the profile
// path in place: the file name's extension becomes ".ini", or ".ini" is
// appended when the file name has none. Returns FALSE, leaving no usable
// path, when the executable's path was not had whole or the result would not
// fit the buffer.
BOOL ProfilePathFromModulePath(char *path, DWORD length);

#define PROFILE_SECTION "TOVRIN"
#define PROFILE_KEY "limit"

// The raw value of key "limit" of section "TOVRIN" in the profile at `path`,
// into `value` (MAX_PATH characters), as the platform's profile read returns
// it: "128" when the file, the section or the key is missing.
void ReadLimitValue(const char *path, char *value);

// The limit in MiB from key "limit" of section "TOVRIN"; 128 when the profile
// file, the section or the key is missing or the path cannot be formed.
int ReadLimit();

// Whether a measured total reaches the limit: the total in whole MiB, the
// truncated quotient's low 32 bits read as a signed number, at or above it.
BOOL LimitReached(LONGLONG total, int limit);
