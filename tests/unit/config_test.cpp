#include <climits>
#include <cstring>

#include "tests/unit/fixture.h"
#include "watchdog/config.h"

namespace
{

struct LimitCase {
    const char *text;
    int expected;
};

TEST(ParseLimit, ReadsLikeAtoiWrappingAt32Bits)
{
    const LimitCase cases[] = {
        {"128", 128},
        {" 64MB", 64},
        {"+32", 32},
        {"-5", -5},
        {"abc", 0},
        {"", 0},
        {"\t\n\v\f\r 7", 7},
        {"- 5", 0},
        {"+-3", 0},
        {"-0", 0},
        {"12 34", 12},
        {"0x10", 0},
        {"1e3", 1},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MIN},
        {"-2147483648", INT_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"4294967424", 128},
        {"99999999999", 1215752191},
        {"-4294967297", -1},
    };
    for (const LimitCase &c : cases) {
        EXPECT_EQ(c.expected, ParseLimit(c.text)) << "for \"" << c.text << "\"";
    }
}

struct PathCase {
    std::string module;
    std::string profile; // empty: no profile path can be formed
};

// Runs the derivation in a buffer with guard bytes behind it, as
// GetModuleFileNameA would have left it.
std::string Derive(const std::string &module, DWORD length, bool *formed, bool *guardIntact)
{
    char memory[MAX_PATH + 16];
    memset(memory, '#', sizeof memory);
    memcpy(memory, module.c_str(), module.size() < MAX_PATH ? module.size() + 1 : MAX_PATH);
    *formed = ProfilePathFromModulePath(memory, length) != FALSE;
    *guardIntact = true;
    for (size_t i = MAX_PATH; i < sizeof memory; ++i) {
        *guardIntact = *guardIntact && memory[i] == '#';
    }
    return *formed ? std::string(memory) : std::string();
}

TEST(ProfilePath, ReplacesOnlyTheFileNamesExtension)
{
    const std::string dir255(251, 'd'); // "C:\" + 251 + "\p": 256 characters
    const PathCase cases[] = {
        {"C:\\tools\\watch.exe", "C:\\tools\\watch.ini"},
        {"C:\\a.b\\prog.exe", "C:\\a.b\\prog.ini"},
        {"C:\\a.b\\prog", "C:\\a.b\\prog.ini"},
        {"C:\\tools\\watch", "C:\\tools\\watch.ini"},
        {"C:\\x\\archive.tar.exe", "C:\\x\\archive.tar.ini"},
        {"C:\\x\\prog.", "C:\\x\\prog.ini"},
        {"C:/dir.d/prog", "C:/dir.d/prog.ini"},
        {"C:prog", "C:prog.ini"},
        {"prog.exe", "prog.ini"},
        {"C:\\" + dir255 + "\\p", ""},
        {"C:\\" + dir255.substr(1) + "\\p", "C:\\" + dir255.substr(1) + "\\p.ini"},
    };
    for (const PathCase &c : cases) {
        bool formed, guardIntact;
        std::string profile = Derive(c.module, (DWORD)c.module.size(), &formed, &guardIntact);
        EXPECT_EQ(!c.profile.empty(), formed) << "for " << c.module;
        EXPECT_EQ(c.profile, profile) << "for " << c.module;
        EXPECT_TRUE(guardIntact) << "wrote past the buffer for " << c.module;
    }
}

TEST(ProfilePath, FitsTheBufferOrIsRefused)
{
    // 259 characters is the longest path GetModuleFileNameA reports whole.
    const std::string withExtension = "C:\\" + std::string(252, 'x') + ".exe";
    const std::string withoutExtension = "C:\\" + std::string(256, 'x');
    ASSERT_EQ(259u, withExtension.size());
    ASSERT_EQ(259u, withoutExtension.size());

    bool formed, guardIntact;
    EXPECT_EQ("C:\\" + std::string(252, 'x') + ".ini",
              Derive(withExtension, 259, &formed, &guardIntact));
    EXPECT_TRUE(formed);
    EXPECT_TRUE(guardIntact);

    Derive(withoutExtension, 259, &formed, &guardIntact);
    EXPECT_FALSE(formed) << "\".ini\" does not fit behind 259 characters";
    EXPECT_TRUE(guardIntact);

    // A full buffer is a truncated path (unterminated on XP); 0 is failure.
    const std::string tooLong = "C:\\" + std::string(300, 'y') + ".exe";
    Derive(tooLong, MAX_PATH, &formed, &guardIntact);
    EXPECT_FALSE(formed);
    EXPECT_TRUE(guardIntact);
    Derive("C:\\tools\\watch.exe", 0, &formed, &guardIntact);
    EXPECT_FALSE(formed);
}

class ReadLimitTest : public PlatformTest
{
};

struct ProfileCase {
    const char *contents; // null: no file
    int expected;
};

TEST_F(ReadLimitTest, TakesKeyLimitOfSectionTovrinOr128)
{
    const ProfileCase cases[] = {
        {nullptr, 128},
        {"", 128},
        {"[OTHER]\nlimit=5\n", 128},
        {"[TOVRIN]\nother=5\n", 128},
        {"[TOVRIN]\nlimit=64\n", 64},
        {"[TOVRIN]\r\nlimit=64MB\r\n", 64},
        {"; kiosk\n[tovrin]\nLIMIT = +32\n", 32},
        {"[TOVRIN]\nlimit=abc\n", 0},
        {"[TOVRIN]\nlimit=\n", 0},
        {"[TOVRIN]\nlimit=-1\n", -1},
        {"[TOVRIN]\nlimit=4294967424\n", 128},
        {"[OTHER]\n[TOVRIN]\nlimit=300\n[MORE]\nlimit=1\n", 300},
    };
    for (const ProfileCase &c : cases) {
        fake::Reset();
        if (c.contents != nullptr) {
            fake::SetProfile("C:\\Tovrin\\tovrin.ini", c.contents);
        }
        EXPECT_EQ(c.expected, ReadLimit()) << "for " << (c.contents ? c.contents : "no file");
        std::vector<fake::Call> calls = fake::Calls();
        ASSERT_EQ(2u, calls.size());
        EXPECT_EQ("GetModuleFileNameA(null, 260) -> 20", calls[0].Text());
        EXPECT_EQ("GetPrivateProfileStringA", calls[1].api);
        EXPECT_EQ("\"TOVRIN\", \"limit\", \"128\", buffer, 260, \"C:\\Tovrin\\tovrin.ini\"",
                  calls[1].args);
    }
}

TEST_F(ReadLimitTest, FollowsTheExecutablesOwnName)
{
    fake::SetModulePath("D:\\kiosk.v2\\guard.exe");
    fake::SetProfile("D:\\kiosk.v2\\guard.ini", "[TOVRIN]\nlimit=7\n");
    fake::SetProfile("D:\\kiosk.ini", "[TOVRIN]\nlimit=9\n");
    EXPECT_EQ(7, ReadLimit());

    fake::Reset();
    fake::SetModulePath("D:\\kiosk.v2\\guard");
    fake::SetProfile("D:\\kiosk.v2\\guard.ini", "[TOVRIN]\nlimit=7\n");
    fake::SetProfile("D:\\kiosk.ini", "[TOVRIN]\nlimit=9\n");
    EXPECT_EQ(7, ReadLimit()) << "a dot in a folder name must not pick another file";
}

TEST_F(ReadLimitTest, UsesTheDefaultWhenThePathCannotBeHadWhole)
{
    const std::string longPath = "C:\\" + std::string(300, 'p') + ".exe";
    const std::string cut = longPath.substr(0, 255) + ".ini";
    struct {
        const char *what;
        void (*arrange)(const std::string &);
    } cases[] = {
        {"path call fails", [](const std::string &) { fake::Fail("GetModuleFileNameA", 5); }},
        {"XP truncation", [](const std::string &path) { fake::SetModulePath(path, true); }},
        {"later truncation", [](const std::string &path) { fake::SetModulePath(path, false); }},
    };
    for (auto &c : cases) {
        fake::Reset();
        fake::SetProfile("C:\\Tovrin\\tovrin.ini", "[TOVRIN]\nlimit=5\n");
        fake::SetProfile(cut, "[TOVRIN]\nlimit=5\n");
        c.arrange(longPath);
        EXPECT_EQ(128, ReadLimit()) << c.what;
        EXPECT_TRUE(fake::CallTexts({"GetPrivateProfileStringA"}).empty())
            << c.what << ": no profile may be read from a partial path";
    }
}

} // namespace
