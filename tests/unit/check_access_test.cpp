// Who may change the install folder, the executable and the profile: read
// from each one's security descriptor as the platform returns it.
#include "tests/unit/check_fixture.h"

#include <map>

namespace
{

const char Kiosk[] = "S-1-5-21-1-2-3-1001";
const char Admin[] = "S-1-5-21-7-7-7-500";
const DWORD ReadExecute = 0x1200A9;
const DWORD Modify = 0x1301BF;

struct AccessCase {
    const char *what;
    std::function<void(fake::File &)> arrange;
    std::string said;
};

TEST_F(CheckTest, WhoMayChangeTheFolder)
{
    const std::string Only = "ok access.folder C:\\Tovrin: only Administrators and SYSTEM";
    const std::string Problem = "PROBLEM access.folder C:\\Tovrin | by ";
    const std::string Warning = "WARNING access.folder C:\\Tovrin | by ";
    const AccessCase cases[] = {
        {"as the guide leaves it", [](fake::File &) {}, Only},
        {"Users may create files",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-545", 0x2});
         },
         Problem + "BUILTIN\\Users;"},
        {"Everyone, full control",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF});
         },
         Problem + "Everyone;"},
        {"Authenticated Users, modify",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-11", Modify});
         },
         Problem + "NT AUTHORITY\\Authenticated Users;"},
        {"INTERACTIVE, generic write",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-4", 0x40000000});
         },
         Problem + "NT AUTHORITY\\INTERACTIVE;"},
        {"Guests may delete",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-546", 0x10000});
         },
         Problem + "BUILTIN\\Guests;"},
        {"another group may change permissions",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-32-547", 0x40000});
         },
         Problem + "BUILTIN\\Power Users;"},
        {"for what the folder will hold only",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF, 0x08 | 0x03});
         },
         Only},
        {"CREATOR OWNER",
         [](fake::File &f) {
             f.aces.push_back({"S-1-3-0", 0x1F01FF});
         },
         Only},
        {"CREATOR GROUP",
         [](fake::File &f) {
             f.aces.push_back({"S-1-3-1", 0x1F01FF});
         },
         Only},
        {"OWNER RIGHTS lets the owner only read (6.1)",
         [](fake::File &f) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             f.owner = Kiosk;
             f.aces.push_back({"S-1-3-4", ReadExecute});
         },
         Only},
        {"OWNER RIGHTS denied writing the permissions takes them from the owner (6.1)",
         [](fake::File &f) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             f.owner = Kiosk;
             f.aces.push_back({"S-1-3-4", 0x40000, 0, 1});
         },
         Only},
        {"OWNER RIGHTS lets the owner modify (6.1)",
         [](fake::File &f) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             f.owner = Kiosk;
             f.aces.push_back({"S-1-3-4", Modify});
         },
         Warning + "KIOSK\\kiosk (owner);"},
        {"OWNER RIGHTS for what the folder will hold leaves the owner's rights (6.1)",
         [](fake::File &f) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             f.owner = Kiosk;
             f.aces.push_back({"S-1-3-4", ReadExecute, 0x08 | 0x03});
         },
         Warning + "KIOSK\\kiosk (owner);"},
        {"XP knows no OWNER RIGHTS: the owner may still change the permissions",
         [](fake::File &f) {
             f.owner = Kiosk;
             f.aces.push_back({"S-1-3-4", ReadExecute});
         },
         Warning + "KIOSK\\kiosk (owner);"},
        {"a denial is no grant",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", 0x1F01FF, 0, 1});
         },
         Only},
        {"reading is no change",
         [](fake::File &f) {
             f.aces.push_back({"S-1-1-0", ReadExecute});
         },
         Only},
        {"each right that changes something counts",
         [](fake::File &f) {
             const DWORD rights[] = {0x2,     0x4,     0x10,    0x40,       0x100,
                                     0x10000, 0x40000, 0x80000, 0x40000000, 0x10000000};
             for (DWORD right : rights) {
                 f.aces.push_back({"S-1-5-32-545", right});
             }
         },
         Problem + "BUILTIN\\Users;"},
        {"an account",
         [](fake::File &f) {
             f.aces.push_back({Kiosk, Modify});
         },
         Warning + "KIOSK\\kiosk;"},
        {"an account as owner", [](fake::File &f) { f.owner = Kiosk; },
         Warning + "KIOSK\\kiosk (owner);"},
        {"an account named once though owner too",
         [](fake::File &f) {
             f.owner = Kiosk;
             f.aces.push_back({Kiosk, Modify});
             f.aces.push_back({Kiosk, 0x2});
         },
         Warning + "KIOSK\\kiosk;"},
        {"an administrator's account", [](fake::File &f) { f.owner = Admin; },
         "ok access.folder C:\\Tovrin | only by administrators: KIOSK\\setup (owner) (an "
         "administrator)"},
        {"an account and a group: the worse counts",
         [](fake::File &f) {
             f.owner = Kiosk;
             f.aces.push_back({"S-1-5-32-545", 0x2});
         },
         Problem + "BUILTIN\\Users, KIOSK\\kiosk (owner);"},
        {"no name for it",
         [](fake::File &f) {
             f.aces.push_back({"S-1-5-21-9-9-9-1234", 0x2});
         },
         Warning + "S-1-5-21-9-9-9-1234;"},
        {"no DACL", [](fake::File &f) { f.nullDacl = true; }, Problem + "everyone (no DACL);"},
        {"permissions unreadable", [](fake::File &f) { f.securityError = 5; },
         "WARNING access.folder C:\\Tovrin | cannot be read (error 5)"},
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
        EXPECT_TRUE(Reads(c.said)) << c.what;
        EXPECT_EQ("ok", Line("access.file").level) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, AdministratorsAccountUnderUac)
{
    const char Setup[] = "S-1-5-21-7-7-7-1001";
    const char BuiltIn[] = "S-1-5-21-7-7-7-500";
    struct UacCase {
        const char *what;
        DWORD major;                         // 0: GetVersionExA fails
        std::map<std::string, DWORD> policy; // none: the key is missing
        std::function<void(fake::File &)> arrange;
        std::string said;
    };
    const auto owner = [Setup](fake::File &f) { f.owner = Setup; };
    const std::string owns = "WARNING access.folder C:\\Tovrin | by KIOSK\\setup (owner) (an "
                             "administrator) | with UAC on";
    const std::string fine = "ok access.folder C:\\Tovrin | only by administrators: KIOSK\\setup "
                             "(owner) (an administrator)";
    const UacCase cases[] = {
        {"6.1, EnableLUA 1", 6, {{"EnableLUA", 1}}, owner, owns},
        {"6.1, EnableLUA missing: on, as installed",
         6,
         {{"ConsentPromptBehaviorAdmin", 5}},
         owner,
         owns},
        {"6.1, no policy key: on", 6, {}, owner, owns},
        {"6.1, EnableLUA 0", 6, {{"EnableLUA", 0}}, owner, fine},
        {"the version unknown: as 6.x's default", 0, {}, owner, owns},
        {"XP has no UAC, whatever the registry says", 5, {{"EnableLUA", 1}}, owner, fine},
        {"an entry, not ownership",
         6,
         {{"EnableLUA", 1}},
         [Setup](fake::File &f) {
             f.aces.push_back({Setup, Modify});
         },
         "WARNING access.folder C:\\Tovrin | by KIOSK\\setup (an administrator) | with UAC on"},
        {"the built-in Administrator runs elevated throughout",
         6,
         {{"EnableLUA", 1}},
         [BuiltIn](fake::File &f) { f.owner = BuiltIn; },
         "ok access.folder C:\\Tovrin | only by administrators: KIOSK\\Administrator (owner)"},
        {"unless its token is filtered too",
         6,
         {{"EnableLUA", 1}, {"FilterAdministratorToken", 1}},
         [BuiltIn](fake::File &f) { f.owner = BuiltIn; },
         "WARNING access.folder C:\\Tovrin | by KIOSK\\Administrator (owner) | with UAC on"},
        {"an administrator through a domain group",
         5,
         {},
         [](fake::File &f) { f.owner = "S-1-5-21-7-7-7-1002"; },
         "ok access.folder C:\\Tovrin | only by administrators: KIOSK\\operator (owner) (an "
         "administrator)"},
        // No word of UAC between the name and the fix.
        {"an account that is no administrator reads as before",
         6,
         {{"EnableLUA", 1}},
         [](fake::File &f) { f.owner = Kiosk; },
         "WARNING access.folder C:\\Tovrin | by KIOSK\\kiosk (owner); allow only"},
    };
    for (const UacCase &c : cases) {
        Install();
        fake::SetVersion(c.major, 1, c.major == 6 ? 7601 : 2600, "");
        if (c.major == 0) {
            fake::Fail("GetVersionExA", 87);
        }
        for (const auto &value : c.policy) {
            fake::SetRegistryDword("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                                   value.first, value.second);
        }
        fake::AddAccount(Setup, "KIOSK", "setup", 1);
        fake::AddAccount(BuiltIn, "KIOSK", "Administrator", 1);
        fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1);
        fake::AddAccount("S-1-5-21-7-7-7-1002", "KIOSK", "operator", 1, {"S-1-5-21-9-9-9-512"});
        fake::SetAdministrators({BuiltIn, Setup, "S-1-5-21-9-9-9-512"});
        c.arrange(fake::AddFolder("C:\\Tovrin"));
        Run();
        EXPECT_TRUE(Reads(c.said)) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
        // A 32-bit check on 64-bit Windows must not read Wow6432Node's copy.
        bool viewed = false;
        for (const std::string &call : fake::CallTexts({"RegOpenKeyExA"})) {
            viewed |= call.find("Policies\\System\", 0, 0x101") != std::string::npos;
        }
        EXPECT_EQ(c.major != 5, viewed) << c.what;
    }
}

TEST_F(CheckTest, FileSystemsWithoutPermissions)
{
    const std::string Folder = "ok access.folder C:\\Tovrin: only Administrators and SYSTEM";
    const std::string Parent =
        "ok access.parent C:\\Tovrin: only Administrators and SYSTEM | in C:\\";
    const std::string File =
        "ok access.file C:\\Tovrin\\tovrin.exe: only Administrators and SYSTEM";
    const std::string Profile =
        "ok access.profile C:\\Tovrin\\tovrin.ini: only Administrators and SYSTEM";
    // What such a volume gives for permissions: none.
    const auto fat = [](const char *path, const char *name) {
        fake::File &volume = fake::AddFolder(path);
        volume.fileSystem = name;
        volume.fileSystemFlags = 0x6; // names' case and Unicode only
        volume.nullDacl = true;
    };
    struct FileSystemCase {
        const char *what;
        std::function<void()> arrange;
        std::vector<std::string> lines; // what each access line says, in order
    };
    const FileSystemCase cases[] = {
        {"NTFS", [] {}, {Folder, Parent, File, Profile}},
        {"FAT32: one line, none of the permissions",
         [fat] {
             fat("C:\\", "FAT32");
             fake::AddFile(WatchdogPath, PeHeader(0x14C)).nullDacl = true;
             fake::AddFile(ProfilePath, DefaultProfile).nullDacl = true;
             fake::AddFolder("C:\\Tovrin").nullDacl = true;
         },
         {"WARNING access.filesystem C:\\ is FAT32, which keeps no permissions"}},
        {"a FAT card mounted at the install folder, on an NTFS drive",
         [fat] { fat("C:\\Tovrin", "FAT"); },
         {"WARNING access.filesystem C:\\Tovrin\\ is FAT, which keeps no permissions"}},
        {"the file system cannot be read: the permissions as they are",
         [] {
             fake::Fail("GetVolumeInformationA", 21);
             fake::AddFolder("C:\\Tovrin").nullDacl = true;
         },
         {"note access.filesystem C:\\: | cannot be read (error 21)",
          "PROBLEM access.folder C:\\Tovrin | by everyone (no DACL)",
          "PROBLEM access.parent C:\\Tovrin | by everyone (no DACL)", File, Profile}},
        {"the volume cannot be found: said once",
         [] { fake::Fail("GetVolumePathNameA", 1); },
         {"note access.filesystem C:\\Tovrin: | cannot be read (error 1)", Folder, Parent, File,
          Profile}},
    };
    for (const FileSystemCase &c : cases) {
        Install();
        c.arrange();
        Run();
        EXPECT_TRUE(SayAll(c.lines, Said("access"))) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, WhoMaySwapTheFolder)
{
    const char Setup[] = "S-1-5-21-7-7-7-1001";
    struct ParentCase {
        const char *what;
        std::function<void(fake::File &root, fake::File &folder)> arrange;
        std::string said;
    };
    const std::string Only =
        "ok access.parent C:\\Tovrin: only Administrators and SYSTEM | in C:\\";
    const std::string Users = "PROBLEM access.parent C:\\Tovrin | by BUILTIN\\Users;";
    const ParentCase cases[] = {
        {"the root as Windows 7 leaves it", [](fake::File &, fake::File &) {}, Only},
        {"the root as XP leaves it: Users create folders and files below",
         [](fake::File &root, fake::File &) {
             root.aces = {{"S-1-5-32-544", 0x1F01FF, 0x03},
                          {"S-1-5-18", 0x1F01FF, 0x03},
                          {"S-1-3-0", 0x10000000, 0x0B},
                          {"S-1-5-32-545", 0x1200A9, 0x03},
                          {"S-1-5-32-545", 0x4, 0x02},
                          {"S-1-5-32-545", 0x2, 0x0A},
                          {"S-1-1-0", 0x1200A9}};
         },
         Only},
        {"Everyone full control on the root, as a converted FAT volume has it",
         [](fake::File &root, fake::File &) {
             root.aces.push_back({"S-1-1-0", 0x1F01FF, 0x03});
         },
         "PROBLEM access.parent C:\\Tovrin | by Everyone; | see cacls"},
        {"Users may delete what the root holds",
         [](fake::File &root, fake::File &) {
             root.aces.push_back({"S-1-5-32-545", 0x40});
         },
         Users},
        {"each right on the root that swaps it counts",
         [](fake::File &root, fake::File &) {
             for (DWORD right : {0x40u, 0x40000u, 0x80000u, 0x40000000u, 0x10000000u}) {
                 root.aces.push_back({"S-1-5-32-545", right});
             }
         },
         Users},
        {"writing and creating in the root swap nothing",
         [](fake::File &root, fake::File &) {
             root.aces.push_back({"S-1-5-32-545", 0x2 | 0x4 | 0x10 | 0x100 | 0x10000});
         },
         Only},
        {"the install folder lets Users delete it",
         [](fake::File &, fake::File &folder) {
             folder.aces.push_back({"S-1-5-32-545", 0x10000});
         },
         Users},
        {"... but only for what it will hold",
         [](fake::File &, fake::File &folder) {
             folder.aces.push_back({"S-1-5-32-545", 0x10000, 0x0B});
         },
         Only},
        {"named once for the root and the folder",
         [](fake::File &root, fake::File &folder) {
             root.aces.push_back({"S-1-5-32-545", 0x40});
             folder.aces.push_back({"S-1-5-32-545", 0x1F01FF});
         },
         Users},
        {"an account owns the root", [](fake::File &root, fake::File &) { root.owner = Kiosk; },
         "WARNING access.parent C:\\Tovrin | by KIOSK\\kiosk (owner);"},
        {"an account owning the install folder is for access.folder",
         [](fake::File &, fake::File &folder) { folder.owner = Kiosk; }, Only},
        {"on 6.1 the fix is icacls's",
         [](fake::File &root, fake::File &) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             root.aces.push_back({"S-1-1-0", 0x40});
         },
         "PROBLEM access.parent C:\\Tovrin | by Everyone; | see icacls"},
        {"an administrator's account under UAC",
         [Setup](fake::File &root, fake::File &) {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             root.aces.push_back({Setup, 0x40});
         },
         "WARNING access.parent C:\\Tovrin | by KIOSK\\setup (an administrator) | with UAC on"},
        {"an administrator's account without UAC",
         [Setup](fake::File &root, fake::File &) {
             root.aces.push_back({Setup, 0x40});
         },
         "ok access.parent C:\\Tovrin | in C:\\ only by administrators: KIOSK\\setup (an "
         "administrator)"},
        {"no DACL on the root", [](fake::File &root, fake::File &) { root.nullDacl = true; },
         "PROBLEM access.parent C:\\Tovrin | by everyone (no DACL);"},
    };
    for (const ParentCase &c : cases) {
        Install();
        fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1);
        fake::AddAccount(Setup, "KIOSK", "setup", 1);
        fake::SetAdministrators({Setup});
        fake::File &root = fake::AddFolder("C:\\");
        RootAsWindowsLeavesIt(root);
        fake::File &folder = fake::AddFolder("C:\\Tovrin");
        OnlyAdministrators(folder);
        c.arrange(root, folder);
        Run();
        EXPECT_TRUE(Reads(c.said)) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, UnreadableRootOrFolderOfTheParentFinding)
{
    fake::AddFolder("C:\\").securityError = 5;
    Run();
    EXPECT_TRUE(Reads("WARNING access.parent C:\\: | cannot be read (error 5)"));

    // The install folder's own: said once, by access.folder.
    Install();
    fake::AddFolder("C:\\Tovrin").securityError = 5;
    Run();
    EXPECT_TRUE(Reads("WARNING access.folder C:\\Tovrin: | cannot be read (error 5)"));
    EXPECT_TRUE(Reads("ok access.parent"));
}

TEST_F(CheckTest, FileAndProfileAreEachLookedAt)
{
    fake::AddAccount(Kiosk, "KIOSK", "kiosk", 1);
    fake::AddFile(WatchdogPath, PeHeader(0x14C)).owner = Kiosk;
    fake::File &profile = fake::AddFile(ProfilePath, DefaultProfile);
    profile.aces = {{"S-1-1-0", Modify}};
    EXPECT_EQ(EXIT_NOT_READY, Run());
    EXPECT_EQ("ok", Line("access.folder").level);
    EXPECT_TRUE(Reads("WARNING access.file C:\\Tovrin\\tovrin.exe | by KIOSK\\kiosk (owner)"));
    EXPECT_TRUE(Reads("PROBLEM access.profile C:\\Tovrin\\tovrin.ini | by Everyone"));
}

TEST_F(CheckTest, MembershipUnknownWithoutTheGroupList)
{
    // A componentized image may lack NETAPI32, or the list may fail: an
    // account is then not shown to be an administrator.
    const std::function<void()> arrangements[] = {
        [] { fake::AddLibrary("C:\\WINDOWS\\system32\\netapi32.dll", {"NetApiBufferFree"}); },
        [] { fake::Fail("NetUserGetLocalGroups", 5); },
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
    EXPECT_TRUE(Reads("ok access.folder C:\\: only Administrators and SYSTEM"));
    EXPECT_FALSE(Has("access.parent")) << "a drive's root is held by no folder";
}

} // namespace
