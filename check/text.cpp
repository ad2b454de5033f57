#include "check/text.h"

void Clear(Text *text)
{
    text->length = 0;
    text->chars[0] = '\0';
}

void AppendChar(Text *text, char c)
{
    if (text->length + 1 < TEXT_CAPACITY) {
        text->chars[text->length++] = c;
        text->chars[text->length] = '\0';
    }
}

void AppendChars(Text *text, const char *chars, DWORD count)
{
    for (DWORD i = 0; i < count && chars[i] != '\0'; ++i) {
        AppendChar(text, chars[i]);
    }
}

void Append(Text *text, const char *chars)
{
    while (*chars != '\0') {
        AppendChar(text, *chars++);
    }
}

void AppendUnsigned(Text *text, ULONGLONG value)
{
    char digits[24];
    DWORD count = 0;
    do {
        ULONGLONG quotient = Divide(value, 10);
        digits[count++] = (char)('0' + (value - quotient * 10));
        value = quotient;
    } while (value != 0);
    while (count > 0) {
        AppendChar(text, digits[--count]);
    }
}

void AppendSigned(Text *text, LONGLONG value)
{
    if (value < 0) {
        AppendChar(text, '-');
        AppendUnsigned(text, 0 - (ULONGLONG)value);
    } else {
        AppendUnsigned(text, (ULONGLONG)value);
    }
}

void AppendTwoDigits(Text *text, DWORD value)
{
    AppendChar(text, (char)('0' + value / 10 % 10));
    AppendChar(text, (char)('0' + value % 10));
}

void AppendTenths(Text *text, LONGLONG tenths)
{
    ULONGLONG magnitude = tenths < 0 ? 0 - (ULONGLONG)tenths : (ULONGLONG)tenths;
    if (tenths < 0) {
        AppendChar(text, '-');
    }
    ULONGLONG whole = Divide(magnitude, 10);
    AppendUnsigned(text, whole);
    AppendChar(text, '.');
    AppendChar(text, (char)('0' + (magnitude - whole * 10)));
}

void AppendMiB(Text *text, LONGLONG bytes)
{
    AppendTenths(text, TenthsOf(bytes, 1048576));
    Append(text, " MiB");
}

void AppendAscii(Text *text, const char *chars)
{
    for (; *chars != '\0'; ++chars) {
        unsigned char c = (unsigned char)*chars;
        AppendChar(text, IsPlain(c) ? (char)c : '?');
        // A Japanese character's second byte is often ASCII: keep it with
        // the first, one '?' for the whole character.
        if (c >= 0x80 && chars[1] != '\0' && IsDBCSLeadByte(c)) {
            ++chars;
        }
    }
}

void AppendWide(Text *text, const WCHAR *chars)
{
    for (; *chars != 0; ++chars) {
        AppendChar(text, IsPlain(*chars) ? (char)*chars : '?');
    }
}

void FormatList(Text *text, const char *pattern, va_list arguments)
{
    for (; *pattern != '\0'; ++pattern) {
        if (*pattern != '%' || pattern[1] == '\0') {
            AppendChar(text, *pattern);
            continue;
        }
        switch (*++pattern) {
        case 's':
            AppendAscii(text, va_arg(arguments, const char *));
            break;
        case 'w':
            AppendWide(text, va_arg(arguments, const WCHAR *));
            break;
        case 'c': {
            int c = va_arg(arguments, int);
            AppendChar(text, IsPlain((DWORD)c) ? (char)c : '?');
            break;
        }
        case 'u':
            AppendUnsigned(text, va_arg(arguments, DWORD));
            break;
        case 'd':
            AppendSigned(text, va_arg(arguments, int));
            break;
        case '2':
            AppendTwoDigits(text, va_arg(arguments, DWORD));
            break;
        case 'M': {
            LONGLONG bytes = va_arg(arguments, LONGLONG);
            if (bytes >= 0) {
                AppendChar(text, '+');
            }
            AppendMiB(text, bytes);
            break;
        }
        case 'm':
            AppendMiB(text, va_arg(arguments, LONGLONG));
            break;
        case 't':
            AppendTenths(text, va_arg(arguments, LONGLONG));
            break;
        default:
            AppendChar(text, *pattern);
            break;
        }
    }
}

void Format(Text *text, const char *pattern, ...)
{
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(text, pattern, arguments);
    va_end(arguments);
}

DWORD Length(const char *chars)
{
    DWORD length = 0;
    while (chars[length] != '\0') {
        ++length;
    }
    return length;
}

BOOL SameName(const char *a, const char *b)
{
    while (*a != '\0' && Lower(*a) == Lower(*b)) {
        ++a;
        ++b;
    }
    return Lower(*a) == Lower(*b);
}

BOOL CopyText(char *to, DWORD capacity, const char *from)
{
    DWORD length = Length(from);
    if (length >= capacity) {
        if (capacity > 0) {
            to[0] = '\0';
        }
        return FALSE;
    }
    for (DWORD i = 0; i <= length; ++i) {
        to[i] = from[i];
    }
    return TRUE;
}

ULONGLONG Divide(ULONGLONG dividend, ULONGLONG divisor)
{
    if (divisor == 0) {
        return 0;
    }
    ULONGLONG quotient = 0;
    ULONGLONG remainder = 0;
    for (int bit = 63; bit >= 0; --bit) {
        remainder = (remainder << 1) | ((dividend >> bit) & 1);
        if (remainder >= divisor) {
            remainder -= divisor;
            quotient |= 1ull << bit;
        }
    }
    return quotient;
}

LONGLONG TenthsOf(LONGLONG a, LONGLONG b)
{
    if (b <= 0) {
        return 0;
    }
    ULONGLONG magnitude = a < 0 ? 0 - (ULONGLONG)a : (ULONGLONG)a;
    ULONGLONG divisor = (ULONGLONG)b;
    // Ten times the quotient, rounded, without multiplying a by ten first:
    // growth figures times an hour in milliseconds are large already.
    ULONGLONG whole = Divide(magnitude, divisor);
    ULONGLONG rest = magnitude - whole * divisor;
    ULONGLONG tenths = whole * 10 + Divide(rest * 10 + divisor / 2, divisor);
    return a < 0 ? -(LONGLONG)tenths : (LONGLONG)tenths;
}

static BOOL IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// One character of an argument; the argument is cut at `size` - 1.
static void Put(char *out, DWORD *length, char c, BOOL *cut)
{
    if (*length + 1 < MAX_PATH + 2) {
        if (out != nullptr) {
            out[*length] = c;
        }
        ++*length;
    } else {
        *cut = TRUE;
    }
}

DWORD SplitCommandLine(const char *line, char (*arguments)[MAX_PATH + 2], DWORD capacity,
                       DWORD *overlong)
{
    DWORD count = 0;
    *overlong = 0;
    const char *p = line != nullptr ? line : "";

    for (;;) {
        while (IsBlank(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return count;
        }
        char *out = count < capacity ? arguments[count] : nullptr;
        DWORD length = 0;
        BOOL cut = FALSE;
        BOOL quoted = FALSE;
        // The program's name takes quotes but no escapes, as the runtime reads it.
        BOOL name = count == 0;
        while (*p != '\0' && (quoted || !IsBlank(*p))) {
            if (*p == '\\' && !name) {
                DWORD backslashes = 0;
                while (*p == '\\') {
                    ++backslashes;
                    ++p;
                }
                // Before a quote, 2n backslashes are n and the quote groups;
                // 2n+1 are n and a literal quote. Elsewhere they are literal.
                BOOL escapes = *p == '"';
                for (DWORD i = escapes ? backslashes / 2 : backslashes; i > 0; --i) {
                    Put(out, &length, '\\', &cut);
                }
                if (escapes && backslashes % 2 == 1) {
                    Put(out, &length, *p++, &cut);
                }
            } else if (*p == '"') {
                ++p;
                // A doubled quote inside quotes is one literal quote.
                if (quoted && !name && *p == '"') {
                    Put(out, &length, *p++, &cut);
                } else {
                    quoted = !quoted;
                }
            } else {
                Put(out, &length, *p++, &cut);
            }
        }
        if (out != nullptr) {
            out[length] = '\0';
        }
        *overlong += cut;
        ++count;
    }
}
