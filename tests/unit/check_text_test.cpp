// The check's own text and arithmetic, which stand in for a C runtime's.
#include <climits>

#include "check/text.h"
#include "tests/unit/fixture.h"

namespace
{

std::string Formatted(const char *pattern, ...)
{
    Text text;
    Clear(&text);
    va_list arguments;
    va_start(arguments, pattern);
    FormatList(&text, pattern, arguments);
    va_end(arguments);
    return std::string(text.chars, text.length);
}

TEST(CheckText, MiBHaveOneDecimalRoundedHalfAwayFromZero)
{
    const std::pair<LONGLONG, const char *> cases[] = {
        {0, "0.0 MiB"},
        {52428, "0.0 MiB"}, // just under 0.05
        {52429, "0.1 MiB"}, // 0.05 rounds up
        {1048576, "1.0 MiB"},
        {12 * 1048576 + 1000000, "13.0 MiB"},
        {-52429, "-0.1 MiB"},
        {-1048576 * 3 / 2, "-1.5 MiB"},
        {LLONG_MAX, "8796093022208.0 MiB"},
        {LLONG_MIN, "-8796093022208.0 MiB"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.second, Formatted("%m", c.first)) << c.first;
    }
    EXPECT_EQ("+1.0 MiB -1.0 MiB +0.0 MiB",
              Formatted("%M %M %M", (LONGLONG)1048576, (LONGLONG)-1048576, (LONGLONG)0));
}

TEST(CheckText, Directives)
{
    EXPECT_EQ("a b 4294967295 -2147483648 07:05 12.3 x 100%",
              Formatted("%s %w %u %d %2:%2 %t %c 100%%", "a", u"b", 4294967295u, INT_MIN, 7u, 5u,
                        (LONGLONG)123, 'x'));
    // What is not plain ASCII becomes '?', so that every console shows it.
    EXPECT_EQ("caf? ?? ?", Formatted("%s %w %c", "caf\xE9", u"\u3042\u00E9", 0x82));
    EXPECT_EQ("tab?end", Formatted("%s", "tab\tend"));
    // A folder named in Japanese (code page 932): one '?' a character, though
    // the second bytes of these are ASCII ('c', '[').
    EXPECT_EQ("C:\\???\\x", Formatted("%s", "C:\\\x83\x63\x81\x5B\x83\x8B\\x"));
    EXPECT_EQ("?", Formatted("%s", "\x83")) << "a lead byte at the end stands alone";
}

TEST(CheckText, CutsRatherThanOverflows)
{
    Text text;
    Clear(&text);
    std::string longer(TEXT_CAPACITY * 2, 'x');
    Append(&text, longer.c_str());
    EXPECT_EQ(TEXT_CAPACITY - 1, text.length);
    EXPECT_EQ('\0', text.chars[TEXT_CAPACITY - 1]);
    Format(&text, "%u", 123u);
    EXPECT_EQ(TEXT_CAPACITY - 1, text.length);
}

TEST(CheckText, DivideAndTenths)
{
    const ULONGLONG dividends[] = {
        0, 1, 9, 10, 1048576, 0xFFFFFFFFull, 0x123456789ABCDEFull, ULLONG_MAX};
    const ULONGLONG divisors[] = {1, 3, 10, 1048576, 0xFFFFFFFFull, ULLONG_MAX};
    for (ULONGLONG a : dividends) {
        for (ULONGLONG b : divisors) {
            EXPECT_EQ(a / b, Divide(a, b)) << a << " / " << b;
        }
    }
    EXPECT_EQ(0u, Divide(5, 0)) << "no trap on a zero divisor";
    EXPECT_EQ(166, TenthsOf(116 * 1048576LL, 7 * 1048576LL));
    EXPECT_EQ(-15, TenthsOf(-3, 2));
    EXPECT_EQ(5, TenthsOf(1, 2));
    EXPECT_EQ(0, TenthsOf(1, 0));
    EXPECT_EQ(LLONG_MAX, TenthsOf(LLONG_MAX, 10)) << "no overflow on the way";
    EXPECT_EQ(-LLONG_MAX, TenthsOf(-LLONG_MAX, 10));
}

TEST(CheckText, NamesCompareWithoutCase)
{
    EXPECT_TRUE(SameName("Tovrin.EXE", "tovrin.exe"));
    EXPECT_FALSE(SameName("tovrin.exe", "tovrin.ex"));
    EXPECT_FALSE(SameName("tovrin", "tovrin.exe"));
    EXPECT_FALSE(SameName("[", "{")) << "only letters fold";
    char small[4];
    EXPECT_FALSE(CopyText(small, sizeof small, "abcd"));
    EXPECT_EQ('\0', small[0]);
    EXPECT_TRUE(CopyText(small, sizeof small, "abc"));
    EXPECT_STREQ("abc", small);
}

struct SplitCase {
    const char *line;
    std::vector<std::string> arguments;
};

TEST(CheckText, CommandLineSplitsAsTheRuntimeDoes)
{
    const SplitCase cases[] = {
        {"tovrin-check.exe", {"tovrin-check.exe"}},
        {"  c.exe   /watch  ", {"c.exe", "/watch"}},
        {"\"C:\\Program Files\\c.exe\" x", {"C:\\Program Files\\c.exe", "x"}},
        {"c.exe \"C:\\My Kiosk\\guard.exe\"", {"c.exe", "C:\\My Kiosk\\guard.exe"}},
        {"c.exe C:\\a\\b.exe", {"c.exe", "C:\\a\\b.exe"}},
        {"c.exe a\\\\\"b c\"", {"c.exe", "a\\b c"}},
        {"c.exe a\\\"b", {"c.exe", "a\"b"}},
        {"c.exe a\\\\\\\"b", {"c.exe", "a\\\"b"}},
        {"c.exe \"a\"\"b\"", {"c.exe", "a\"b"}},
        {"c.exe \"\"", {"c.exe", ""}},
        {"c.exe \"unclosed path", {"c.exe", "unclosed path"}},
        {"c.exe\ta\tb", {"c.exe", "a", "b"}},
        {"\"C:\\dir\\\"c.exe", {"C:\\dir\\c.exe"}},
        {"", {}},
    };
    for (const SplitCase &c : cases) {
        char arguments[4][MAX_PATH + 2];
        DWORD overlong = 99;
        DWORD count = SplitCommandLine(c.line, arguments, 4, &overlong);
        std::vector<std::string> got(arguments, arguments + (count < 4 ? count : 4));
        EXPECT_EQ(c.arguments, got) << c.line;
        EXPECT_EQ(0u, overlong) << c.line;
    }
}

TEST(CheckText, CommandLineCountsWhatItCannotHold)
{
    char arguments[2][MAX_PATH + 2];
    DWORD overlong = 0;
    std::string line = "c.exe " + std::string(MAX_PATH + 1, 'x') + " y z";
    EXPECT_EQ(4u, SplitCommandLine(line.c_str(), arguments, 2, &overlong));
    EXPECT_EQ(0u, overlong) << "what does not fit the array is counted, not stored";
    EXPECT_EQ(std::string(MAX_PATH + 1, 'x'), arguments[1]) << "kept whole up to its room";

    line = "c.exe " + std::string(MAX_PATH + 2, 'x');
    EXPECT_EQ(2u, SplitCommandLine(line.c_str(), arguments, 2, &overlong));
    EXPECT_EQ(1u, overlong);
    EXPECT_EQ(MAX_PATH + 1u, strlen(arguments[1]));
}

} // namespace
