// Who may change the install folder, the executable and the profile: read
// from each one's security descriptor as the platform returns it.
#include "tests/unit/check_fixture.h"

namespace
{

const char Kiosk[] = "S-1-5-21-1-2-3-1001";
const char Admin[] = "S-1-5-21-7-7-7-500";
const DWORD ReadExecute = 0x1200A9;
const DWORD Modify = 0x1301BF;

struct AccessCase {
    const char *what;
    std::function<void(fake::File &)> arrange;
    const char *level;
    const char *value; // after "C:\Tovrin: "
};

TEST_F(CheckTest, WhoMayChangeTheFolder)
{
    const AccessCase cases[] = {
        {"as the guide leaves it", [](fake::File &) {}, "ok",
         "only Administrators and SYSTEM may change it"},
        {"Users may create files",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-545", 0x2});
         },
         "PROBLEM", "may also be changed by BUILTIN\\Users; allow only Administrators and SYSTEM"},
        {"Everyone, full control",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF});
         },
         "PROBLEM", "may also be changed by Everyone; allow only Administrators and SYSTEM"},
        {"Authenticated Users, modify",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-11", Modify});
         },
         "PROBLEM",
         "may also be changed by NT AUTHORITY\\Authenticated Users; allow only Administrators "
         "and SYSTEM"},
        {"INTERACTIVE, generic write",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-4", 0x40000000});
         },
         "PROBLEM",
         "may also be changed by NT AUTHORITY\\INTERACTIVE; allow only Administrators and SYSTEM"},
        {"Guests may delete",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-546", 0x10000});
         },
         "PROBLEM", "may also be changed by BUILTIN\\Guests; allow only Administrators and SYSTEM"},
        {"another group may change permissions",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-547", 0x40000});
         },
         "PROBLEM",
         "may also be changed by BUILTIN\\Power Users; allow only Administrators and SYSTEM"},
        {"for what the folder will hold only",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF, 0x08 | 0x03});
         },
         "ok", "only Administrators and SYSTEM may change it"},
        {"CREATOR OWNER",
         [](fake::File &f) {
             f.aces.push_back({"S-1-3-0", 0x1F01FF});
         },
         "ok", "only Administrators and SYSTEM may change it"},
        {"a denial is no grant",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF, 0, 1});
         },
         "ok", "only Administrators and SYSTEM may change it"},
        {"reading is no change",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", ReadExecute});
         },
         "ok", "only Administrators and SYSTEM may change it"},
        {"each right that changes something counts",
         [](fake::File &f) {
             const DWORD rights[] = {0x2,     0x4,     0x10,    0x40,       0x100,
                                     0x10000, 0x40000, 0x80000, 0x40000000, 0x10000000};
             for (DWORD right : rights) {
                 f.aces.push_back({"S-1-5-32-545", right});
             }
         },
         "PROBLEM", "may also be changed by BUILTIN\\Users; allow only Administrators and SYSTEM"},
        {"an account",
         [](fake::File &f) {
             f.aces.push_back({Kiosk, Modify});
         },
         "WARNING", "may also be changed by KIOSK\\kiosk; allow only Administrators and SYSTEM"},
        {"an account as owner", [](fake::File &f) { f.owner = Kiosk; }, "WARNING",
         "may also be changed by KIOSK\\kiosk (owner); allow only Administrators and SYSTEM"},
        {"an account named once though owner too",
         [](fake::File &f) {
             f.owner = Kiosk;
             f.aces.push_back({Kiosk, Modify});
             f.aces.push_back({Kiosk, 0x2});
         },
         "WARNING", "may also be changed by KIOSK\\kiosk; allow only Administrators and SYSTEM"},
        {"an administrator's account", [](fake::File &f) { f.owner = Admin; }, "ok",
         "changed only by administrators: KIOSK\\setup (owner) (an administrator)"},
        {"an account and a group: the worse counts",
         [](fake::File &f) {
             f.owner = Kiosk;
             f.aces.push_back({"S-1-5-32-545", 0x2});
         },
         "PROBLEM",
         "may also be changed by BUILTIN\\Users, KIOSK\\kiosk (owner); allow only Administrators "
         "and SYSTEM"},
        {"no name for it",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-21-9-9-9-1234", 0x2});
         },
         "WARNING",
         "may also be changed by S-1-5-21-9-9-9-1234; allow only Administrators and SYSTEM"},
        {"no DACL", [](fake::File &f) { f.nullDacl = true; }, "PROBLEM",
         "may also be changed by everyone (no DACL); allow only Administrators and SYSTEM"},
        {"permissions unreadable", [](fake::File &f) { f.securityError = 5; }, "WARNING",
         "its permissions cannot be read (error 5)"},
    };
    for (const AccessCase &c : cases) {
        Install();
        fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1);
        fake::AddAccount(Admin, "KIOSK", "setup", 1);
        fake::AddAccount("S-1-5-32-547", "BUILTIN", "Power Users", 4);
        fake::File &folder = fake::AddFolder("C:\\Tovrin");
        OnlyAdministrators(folder);
        c.arrange(folder);
        Run();
        EXPECT_EQ(c.level, Line("access.folder").level) << c.what << ":\n" << output;
        EXPECT_EQ(std::string("C:\\Tovrin: ") + c.value, Line("access.folder").value) << c.what;
        EXPECT_EQ("ok", Line("access.file").level) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, FileAndProfileAreEachLookedAt)
{
    fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1);
    fake::AddFile(WatchdogPath, PeHeader(0x14C)).owner = Kiosk;
    fake::File &profile = fake::AddFile(ProfilePath, DefaultProfile);
    profile.aces = {{"S-1-1-0", Modify}};
    EXPECT_EQ(EXIT_NOT_READY, Run());
    EXPECT_EQ("ok", Line("access.folder").level);
    EXPECT_EQ("C:\\Tovrin\\tovrin.exe: may also be changed by KIOSK\\kiosk (owner); allow only "
              "Administrators and SYSTEM",
              Line("access.file").value);
    EXPECT_EQ("C:\\Tovrin\\tovrin.ini: may also be changed by Everyone; allow only "
              "Administrators and SYSTEM",
              Line("access.profile").value);
}

TEST_F(CheckTest, MembershipUnknownWithoutTheGroupList)
{
    // A componentized image may lack NETAPI32, or the list may fail: an
    // account is then not shown to be an administrator.
    const std::function<void()> arrangements[] = {
        [] { fake::AddLibrary("C:\\WINDOWS\\system32\\netapi32.dll", {"NetApiBufferFree"}); },
        [] { fake::Fail("NetLocalGroupGetMembers", 5); },
        [] { fake::Fail("LookupAccountSidW", 1332); },
    };
    for (const auto &arrange : arrangements) {
        Install();
        fake::AddAccount(Admin, "KIOSK", "setup", 1);
        fake::AddFolder("C:\\Tovrin").owner = Admin;
        arrange();
        Run();
        EXPECT_EQ("WARNING", Line("access.folder").level) << output;
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(CheckTest, RootFolderIsNamedWithItsBackslash)
{
    fake::AddFile("C:\\tovrin.exe", PeHeader(0x14C));
    OnlyAdministrators(fake::AddFolder("C:\\"));
    Run("c.exe C:\\tovrin.exe");
    EXPECT_EQ("C:\\: only Administrators and SYSTEM may change it", Line("access.folder").value);
}

} // namespace
