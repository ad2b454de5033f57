// Text for the report, built without a C runtime: a fixed buffer that cuts
// rather than overflows, and the few conversions the report needs.
#pragma once

#include <stdarg.h>

#include "platform/kernel32.h"

#define TEXT_CAPACITY 1024

struct Text {
    char chars[TEXT_CAPACITY];
    DWORD length;
};

void Clear(Text *text);
void Append(Text *text, const char *chars);
void AppendChars(Text *text, const char *chars, DWORD count);
void AppendChar(Text *text, char c);
void AppendUnsigned(Text *text, ULONGLONG value);
void AppendSigned(Text *text, LONGLONG value);
// Two digits, for clock times.
void AppendTwoDigits(Text *text, DWORD value);
// A count of tenths as "12.3", "-0.5", "0.0".
void AppendTenths(Text *text, LONGLONG tenths);
// Bytes as MiB with one decimal, rounded half away from zero: "12.3 MiB".
void AppendMiB(Text *text, LONGLONG bytes);
// Plain ASCII only: what the report prints must read the same on every
// console and grep the same on every fleet; anything else becomes '?'.
inline BOOL IsPlain(DWORD c)
{
    return c >= 0x20 && c < 0x7F;
}
void AppendAscii(Text *text, const char *chars);
void AppendWide(Text *text, const WCHAR *chars);

// Appends by a pattern, printf's way with the report's own directives:
// %s text (plain ASCII), %w wide text (plain ASCII), %c a character, %u an
// unsigned 32-bit number, %d an int, %2 two digits, %m bytes as MiB with one
// decimal, %M the same with its sign, %t tenths as "3.1", %% a percent sign.
// The 64-bit directives (%m, %M, %t) take a LONGLONG.
void Format(Text *text, const char *pattern, ...);
void FormatList(Text *text, const char *pattern, va_list arguments);

DWORD Length(const char *chars);
// An ASCII capital in lower case; any other byte as it is.
inline char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c;
}
// ASCII letters compared without case, as Windows compares file names.
BOOL SameName(const char *a, const char *b);
// Copies with the terminator; FALSE, leaving `to` empty, when it does not fit.
BOOL CopyText(char *to, DWORD capacity, const char *from);

// Quotient of an unsigned 64-bit division, done by hand: the x86 build has no
// support library to call for one.
ULONGLONG Divide(ULONGLONG dividend, ULONGLONG divisor);
// Tenths of a / b, rounded, for signed a and positive b.
LONGLONG TenthsOf(LONGLONG a, LONGLONG b);

// Splits a command line by the rules of the Windows C runtime: blanks
// separate, quotes group, backslashes escape a quote. The program's own name
// comes first. Returns the number of arguments found (which may exceed
// `capacity`: the rest are not stored); an argument longer than `size` - 1
// is cut and counted in `*overlong`.
DWORD SplitCommandLine(const char *line, char (*arguments)[MAX_PATH + 2], DWORD capacity,
                       DWORD *overlong);
