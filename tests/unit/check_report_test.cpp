// The check's report against the fake machine: each finding, the verdict and
// the exit code, and that nothing is changed or left held on any path.
#include <algorithm>
#include <fstream>
#include <functional>

#include "check/library.h"
#include "watchdog/config.h"
#include "watchdog/warning.h"
#include "tests/unit/check_fixture.h"

namespace
{

using Texts = std::vector<std::string>;

TEST(Says, NamesTheLevelTheKeyAndTheWordsInOrder)
{
    const std::string line = "WARNING volume.D D: cannot be opened (error 5)";
    const struct {
        const char *expected;
        bool says;
    } cases[] = {
        {"WARNING volume.D D: cannot be opened (error 5)", true},
        {"WARNING volume.D | opened | error 5", true},
        {"WARNING volume.D D: cannot", true},
        {"WARNING volume.D", true},
        {"PROBLEM volume.D | error 5", false},
        {"WARNING volume | error 5", false},
        {"WARNING volume.D | error 5 | opened", false},
        {"WARNING volume.D | error 6", false},
        {"WARNING volume.D cannot", false},
        {"WARNING volume.D D: cannot be opened (error 5) now", false},
        {"WARNING volume.D | (error 5)$", true},
        {"WARNING volume.D | error 5$", false},
        {"WARNING volume.D D: cannot$", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.says, Says(line, c.expected)) << c.expected;
    }
}

TEST_F(CheckTest, ReportIsPlainAsciiInCrLfLines)
{
    sim::AddVolume("\\Device\\Harddisk\xE9Volume2", 'D', 0);
    fake::AddAccount("S-1-5-21-1-2-3-1001", "KIOSK", "\xE3\x81\x82", 1);
    fake::AddFolder("C:\\Tovrin").owner = "S-1-5-21-1-2-3-1001";
    Run();
    for (size_t i = 0; i < output.size(); ++i) {
        unsigned char c = (unsigned char)output[i];
        ASSERT_TRUE((c >= 0x20 && c < 0x7F) || (c == '\r' && output[i + 1] == '\n') ||
                    (c == '\n' && i > 0 && output[i - 1] == '\r'))
            << "byte " << (int)c << " at " << i << " in:\n"
            << output;
    }
    // A name that is not plain ASCII is given by its SID.
    EXPECT_TRUE(Reads("WARNING access.folder | S-1-5-21-1-2-3-1001 (owner)"));
}

struct UsageCase {
    const char *commandLine;
};

TEST_F(CheckTest, AnythingButAPathOrWatchIsAUsageError)
{
    const UsageCase cases[] = {
        {"tovrin-check.exe /x"},
        {"tovrin-check.exe -h"},
        {"tovrin-check.exe /?"},
        {"tovrin-check.exe a b"},
        {"tovrin-check.exe /watch a b"},
        {"tovrin-check.exe /watch /x"},
        {"tovrin-check.exe C:\\t.exe /watch"},
    };
    for (const UsageCase &c : cases) {
        Install();
        EXPECT_EQ(EXIT_USAGE, Run(c.commandLine)) << c.commandLine;
        EXPECT_EQ("", output) << c.commandLine;
        EXPECT_EQ("usage: tovrin-check.exe [PATH] | tovrin-check.exe /watch [PATH]\r\n",
                  fake::ErrorOutput())
            << c.commandLine;
        EXPECT_TRUE(NothingLeft()) << c.commandLine;
    }
}

TEST_F(CheckTest, RenamedWatchdogReadsItsOwnProfileAndProcessName)
{
    fake::AddFile("C:\\Kiosk\\guard.exe", PeHeader(0x14C));
    fake::AddFolder("C:\\Kiosk");
    fake::SetProfile("C:\\Kiosk\\guard.ini", "[TOVRIN]\nlimit=5\n");
    fake::SetCurrentFolder("C:\\Kiosk");
    fake::AddProcess(77, "GUARD.EXE").path = "C:\\Kiosk\\GUARD.EXE";
    Run("\"C:\\Tovrin\\tovrin-check.exe\" guard.exe");
    EXPECT_TRUE(Reads("ok watchdog C:\\Kiosk\\guard.exe, x86"));
    EXPECT_TRUE(Reads("ok profile C:\\Kiosk\\guard.ini"));
    EXPECT_TRUE(Reads("ok limit 5 MiB"));
    EXPECT_TRUE(Reads("WARNING total | 12.0 MiB | limit of 5 MiB"));
    EXPECT_TRUE(Reads("ok running | guard.exe | process id 77"));
    EXPECT_TRUE(Reads("ok running.path 77: C:\\Kiosk\\GUARD.EXE"));
}

struct FileCase {
    const char *what;
    std::function<void()> arrange;
    const char *commandLine;
    const char *said;
    int exitCode;
    bool reportGoesOn;
};

TEST_F(CheckTest, WatchdogFileFindings)
{
    const FileCase cases[] = {
        {"missing", [] {}, "c.exe C:\\Nowhere\\tovrin.exe",
         "PROBLEM watchdog C:\\Nowhere\\tovrin.exe: not found", EXIT_NOT_READY, false},
        {"a folder", [] { fake::AddFolder("C:\\Tovrin\\sub"); }, "c.exe C:\\Tovrin\\sub",
         "PROBLEM watchdog C:\\Tovrin\\sub: a folder", EXIT_NOT_READY, false},
        {"not an executable", [] { fake::AddFile("C:\\Tovrin\\notes.exe", "hello"); },
         "c.exe C:\\Tovrin\\notes.exe", "PROBLEM watchdog | notes.exe: not a Windows executable",
         EXIT_NOT_READY, false},
        {"another machine", [] { fake::AddFile("C:\\Tovrin\\arm.exe", PeHeader(0x1C4)); },
         "c.exe C:\\Tovrin\\arm.exe", "PROBLEM watchdog | arm.exe: built for neither",
         EXIT_NOT_READY, false},
        {"unreadable", [] { fake::AddFile(WatchdogPath, PeHeader(0x14C)).openError = 32; }, "c.exe",
         "PROBLEM watchdog | tovrin.exe: cannot be read (error 32)", EXIT_NOT_READY, false},
        {"x64 on 32-bit Windows", [] { fake::AddFile(WatchdogPath, PeHeader(0x8664)); }, "c.exe",
         "PROBLEM watchdog | tovrin.exe, x64 | cannot start | x86\\tovrin.exe", EXIT_NOT_READY,
         true},
        {"x86 on 64-bit Windows",
         [] {
             fake::SetWow64(true, true);
             fake::AddLibrary("C:\\WINDOWS\\SysWOW64\\EWFAPI.dll", fake::EwfExports());
         },
         "c.exe", "WARNING watchdog | tovrin.exe, x86 | runs it as 32-bit | x64\\tovrin.exe",
         EXIT_WARNINGS, true},
        {"x64 on 64-bit Windows",
         [] {
             fake::SetOwnMachine(0x8664);
             fake::AddFile(WatchdogPath, PeHeader(0x8664));
         },
         "c.exe", "ok watchdog C:\\Tovrin\\tovrin.exe, x64", EXIT_READY, true},
    };
    for (const FileCase &c : cases) {
        Install();
        c.arrange();
        EXPECT_EQ(c.exitCode, Run(c.commandLine)) << c.what << ":\n" << output;
        EXPECT_TRUE(Reads(c.said)) << c.what;
        // Without an executable there is no watchdog for the rest to be about.
        EXPECT_EQ(c.reportGoesOn, Has("profile")) << c.what;
        EXPECT_EQ(c.reportGoesOn, Has("running")) << c.what;
        EXPECT_EQ(Texts{}, StateChangingCalls()) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, PathLongerThanWindowsAllowsEndsTheReport)
{
    const std::string paths[] = {
        "C:\\" + std::string(300, 'x') + "\\tovrin.exe", // cut by the command line's reader
        "C:\\" + std::string(257, 'x'),                  // fits it, but no full path does
    };
    for (const std::string &path : paths) {
        Install();
        EXPECT_EQ(EXIT_NOT_READY, Run("c.exe \"" + path + "\""));
        EXPECT_EQ(
            "PROBLEM watchdog        the path is longer than Windows allows (259 characters)\r\n"
            "verdict: not ready (1 problem, 0 warnings)\r\n",
            output);
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(CheckTest, SystemIsDescribed)
{
    fake::SetVersion(6, 1, 7601, "Service Pack 1");
    fake::SetOwnMachine(0x8664);
    fake::AddFile(WatchdogPath, PeHeader(0x8664));
    Run();
    EXPECT_TRUE(Reads("ok system | 6.1 | 7601 | Service Pack 1 | 64-bit"));

    // XP before SP2 has no IsWow64Process: a 32-bit system all the same.
    fake::Reset();
    SetUp();
    fake::SetWow64(false, false);
    fake::SetVersion(5, 1, 2600, "");
    Run();
    EXPECT_TRUE(Reads("ok system | 5.1 | 2600 | 32-bit"));
}

struct ProfileCase {
    const char *what;
    const char *contents; // null: no profile
    Texts notOk;
    const char *value; // profile.value; null when not printed
    const char *limit;
};

TEST_F(CheckTest, ProfileFindings)
{
    const ProfileCase cases[] = {
        {"missing", nullptr, {"WARNING profile"}, nullptr, "ok limit 128 MiB (default)"},
        {"no section",
         "[OTHER]\nlimit=5\n",
         {"WARNING profile.value"},
         "WARNING profile.value limit=128 | no [TOVRIN] section",
         "ok limit 128 MiB$"},
        {"no key",
         "[TOVRIN]\nlimits=5\n",
         {"WARNING profile.value"},
         "WARNING profile.value limit=128 | no limit key",
         "ok limit 128 MiB$"},
        {"names in other case",
         "[tovrin]\nLIMIT=64\n",
         {},
         "ok profile.value limit=64$",
         "ok limit 64 MiB"},
        {"spaced with a unit",
         "[TOVRIN]\nlimit= 64MB\n",
         {},
         "ok profile.value limit=64MB$",
         "ok limit 64 MiB"},
        {"zero",
         "[TOVRIN]\nlimit=0\n",
         {"WARNING limit", "WARNING total"},
         "ok profile.value limit=0$",
         "WARNING limit 0 MiB | 0 or below"},
        {"negative",
         "[TOVRIN]\nlimit=-5\n",
         {"WARNING limit", "WARNING total"},
         "ok profile.value limit=-5$",
         "WARNING limit -5 MiB | 0 or below"},
        {"no digits",
         "[TOVRIN]\nlimit=abc\n",
         {"WARNING limit", "WARNING total"},
         "ok profile.value limit=abc$",
         "WARNING limit 0 MiB | no digits"},
        // Windows' profile read does not know the mark: the header is lost.
        {"UTF-8 mark before the header",
         "\xEF\xBB\xBF[TOVRIN]\r\nlimit=64\r\n",
         {"PROBLEM profile.bom", "WARNING profile.value"},
         "WARNING profile.value limit=128 | no [TOVRIN] section",
         "ok limit 128 MiB$"},
        {"UTF-8 mark and blanks before the header",
         "\xEF\xBB\xBF [ TOVRIN ]\nlimit=64\n",
         {"PROBLEM profile.bom", "WARNING profile.value"},
         "WARNING profile.value limit=128 | no [TOVRIN] section",
         "ok limit 128 MiB$"},
        {"another character before the header",
         "\xEF\xBC\x81[TOVRIN]\nlimit=64\n",
         {"WARNING profile.value"},
         "WARNING profile.value limit=128 | no [TOVRIN] section",
         "ok limit 128 MiB$"},
        {"UTF-8 mark before another section",
         "\xEF\xBB\xBF[OTHER]\r\n[TOVRIN]\r\nlimit=64\r\n",
         {},
         "ok profile.value limit=64$",
         "ok limit 64 MiB"},
        {"UTF-8 mark before a comment",
         "\xEF\xBB\xBF; Tovrin\r\n[TOVRIN]\r\nlimit=64\r\n",
         {},
         "ok profile.value limit=64$",
         "ok limit 64 MiB"},
    };
    for (const ProfileCase &c : cases) {
        Install(c.contents);
        Run();
        EXPECT_EQ(c.notOk, NotOk()) << c.what << ":\n" << output;
        EXPECT_TRUE(SayAll(c.value ? Texts{c.value} : Texts{}, Said("profile.value"))) << c.what;
        EXPECT_TRUE(SayAll({c.limit}, Said("limit"))) << c.what;
    }
}

TEST_F(CheckTest, UnreadableProfileIsAWarning)
{
    fake::AddFile(ProfilePath, DefaultProfile).openError = 5;
    EXPECT_EQ(EXIT_WARNINGS, Run());
    EXPECT_TRUE(
        Reads("WARNING profile C:\\Tovrin\\tovrin.ini: cannot be read (error 5) | 128 MiB"));
    EXPECT_TRUE(NothingLeft());
}

// ---- the library ----

struct LibraryCase {
    const char *what;
    std::function<void()> arrange;
    int exitCode;
    Texts lines; // every library line
    Texts loads; // LoadLibraryExA's arguments
};

TEST_F(CheckTest, LibraryFindings)
{
    const std::string wow64Library = "C:\\WINDOWS\\SysWOW64\\EWFAPI.dll";
    const std::string beside = "C:\\Tovrin\\EWFAPI.dll";
    const std::string allThere = "ok library.calls all 10";
    const std::string systemLoad = "\"" + SystemLibrary + "\", 0x8";
    const std::string copy = "PROBLEM library " + beside + ": a copy beside the watchdog";
    const std::string readThroughSystem = "note library.read | " + SystemLibrary;
    auto withoutTwo = [] {
        std::vector<std::string> exports = fake::EwfExports();
        exports.erase(exports.begin() + 1, exports.begin() + 3);
        return exports;
    };
    const std::string system = "ok library " + SystemLibrary;
    const LibraryCase cases[] = {
        {"the system's", [] {}, EXIT_READY, {system, allThere}, {systemLoad}},
        {"missing, no driver",
         [] { fake::SetSystemDirectory("C:\\WINNT\\system32"); },
         EXIT_NOT_READY,
         {"PROBLEM library no EWFAPI.dll | C:\\WINNT\\system32: | not installed"},
         {}},
        {"missing, driver installed",
         [] {
             fake::SetSystemDirectory("C:\\WINNT\\system32");
             fake::SetRegistryDword("SYSTEM\\CurrentControlSet\\Services\\Ewf", "Start", 0);
         },
         EXIT_NOT_READY,
         {"PROBLEM library no EWFAPI.dll | C:\\WINNT\\system32, | driver is installed | Enhanced "
          "Write Filter API component"},
         {}},
        {"copy beside, complete",
         [&] { fake::AddLibrary(beside, fake::EwfExports()); },
         EXIT_NOT_READY,
         {copy, allThere, readThroughSystem},
         {systemLoad}},
        {"copy beside, forwarding",
         [&] {
             fake::AddLibrary(beside, fake::EwfExports(), {{"EwfMgrClose", "evil.EwfMgrClose"}});
             fake::AddLibrary("C:\\Tovrin\\evil.dll", {"EwfMgrClose"});
         },
         EXIT_NOT_READY,
         {copy, "PROBLEM library.calls EwfMgrClose forwards elsewhere | evil.dll",
          readThroughSystem},
         {systemLoad}},
        {"copy beside, no library",
         [&] { fake::AddFile(beside, "MZ but nothing more"); },
         EXIT_NOT_READY,
         {copy, "PROBLEM library.calls " + beside + ": not a Windows library", readThroughSystem},
         {systemLoad}},
        {"copy beside, no system library",
         [&] {
             fake::SetSystemDirectory("C:\\WINNT\\system32");
             fake::AddLibrary(beside, fake::EwfExports());
         },
         EXIT_NOT_READY,
         {copy, allThere,
          "PROBLEM library.read C:\\WINNT\\system32\\EWFAPI.dll: cannot be loaded (error 126)"},
         {"\"C:\\WINNT\\system32\\EWFAPI.dll\", 0x8"}},
        // Where 5.1 is XP Embedded, WEPOS, POSReady 2009 or Standard 2009 alike.
        {"two calls missing on XP",
         [&] { fake::AddLibrary(SystemLibrary, withoutTwo()); },
         EXIT_NOT_READY,
         {system, "PROBLEM library.calls EwfMgrCommitAndDisableLive is missing | Feature Pack 2007",
          "PROBLEM library.calls EwfMgrEnable is missing | Feature Pack 2007"},
         {systemLoad}},
        {"a call missing on 5.2, where no XP-era embedded edition runs",
         [&] {
             fake::SetVersion(5, 2, 3790, "");
             fake::AddLibrary(SystemLibrary, withoutTwo());
         },
         EXIT_NOT_READY,
         {system,
          "PROBLEM library.calls EwfMgrCommitAndDisableLive is missing | start the watchdog$",
          "PROBLEM library.calls EwfMgrEnable is missing | start the watchdog$"},
         {systemLoad}},
        {"a call missing on Standard 7",
         [&] {
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             std::vector<std::string> exports = fake::EwfExports();
             exports.erase(exports.begin());
             fake::AddLibrary(SystemLibrary, exports);
         },
         EXIT_NOT_READY,
         {system, "PROBLEM library.calls EwfMgrClose is missing | start the watchdog$"},
         {systemLoad}},
        {"unreadable",
         [&] { fake::AddLibrary(SystemLibrary, fake::EwfExports()).openError = 5; },
         EXIT_NOT_READY,
         {system, "PROBLEM library.calls " + SystemLibrary + ": cannot be read (error 5)"},
         {systemLoad}},
        {"cannot be loaded",
         [] { fake::Fail("LoadLibraryExA", 193); },
         EXIT_NOT_READY,
         {system, allThere,
          "PROBLEM library.read " + SystemLibrary + ": cannot be loaded (error 193)"},
         {systemLoad}},
        {"x86 watchdog, x86 check on 64-bit Windows",
         [&] {
             fake::SetWow64(true, true);
             fake::AddLibrary(wow64Library, fake::EwfExports());
         },
         EXIT_WARNINGS,
         {"ok library " + wow64Library, allThere},
         {"\"" + wow64Library + "\", 0x8"}},
        {"x86 watchdog, x64 check",
         [&] {
             fake::SetOwnMachine(0x8664);
             fake::AddLibrary(wow64Library, fake::EwfExports());
         },
         EXIT_WARNINGS,
         {"ok library " + wow64Library, allThere, readThroughSystem},
         {systemLoad}},
        {"x64 watchdog, x86 check on 64-bit Windows",
         [&] {
             fake::SetWow64(true, true);
             fake::AddFile(WatchdogPath, PeHeader(0x8664));
             fake::AddLibrary(wow64Library, fake::EwfExports());
             fake::AddFile("C:\\WINDOWS\\Sysnative\\EWFAPI.dll",
                           fake::PeImage(0x8664, fake::EwfExports()));
         },
         EXIT_READY,
         {system, allThere, "note library.read | " + wow64Library},
         {"\"" + wow64Library + "\", 0x8"}},
    };
    for (const LibraryCase &c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        c.arrange();
        EXPECT_EQ(c.exitCode, Run()) << output;
        EXPECT_TRUE(SayAll(c.lines, Said("library")));
        Texts loads;
        for (const fake::Call &call : fake::Calls()) {
            if (call.api == "LoadLibraryExA" && call.args.find("netapi32") == std::string::npos) {
                loads.push_back(call.args);
            }
        }
        EXPECT_EQ(c.loads, loads) << "nothing but a system library is ever loaded";
        bool loaded =
            !c.loads.empty() && c.lines.back().find("cannot be loaded") == std::string::npos;
        EXPECT_EQ(loaded, Has("volumes")) << "the volumes are read once a library is loaded";
        EXPECT_EQ(Texts{}, StateChangingCalls());
        EXPECT_TRUE(NothingLeft());
    }
}

// The files the Windows build reads, held against the calls' table: each
// lists the calls the watchdog imports, and nothing else of the library.
// (A wrong x86 decoration in the .def fails the x86 build's link.)
TEST(CheckLibrary, ImportListsFollowTheCallsTable)
{
#define EWF_IMPORTED(returns, name, ...) #name,
#define EWF_READ EWF_IMPORTED
#define EWF_WRITE EWF_IMPORTED
    const Texts imported = {
#include "platform/ewfapi_calls.h"
    };
#undef EWF_IMPORTED
    const std::pair<const char *, Texts> cases[] = {
        {"platform/ewfapi.def", imported},
        {"windows/allowed-imports.txt", imported},
        {"windows/check-allowed-imports.txt", {}},
        {"sim/dll/planted.def", imported},
    };
    for (const auto &c : cases) {
        std::ifstream file(std::string(TOVRIN_SOURCE_DIR "/") + c.first);
        ASSERT_TRUE(file.good()) << c.first;
        Texts listed;
        for (std::string word; file >> word;) {
            if (word[0] == '#' || word[0] == ';') {
                std::getline(file, word);
            } else if (word.rfind("EwfMgr", 0) == 0) {
                listed.push_back(word.substr(0, word.find('@')));
            }
        }
        std::sort(listed.begin(), listed.end());
        EXPECT_EQ(c.second, listed) << c.first;
    }
}

// ---- the volumes and the total ----

TEST_F(CheckTest, ListRequestDeniedSaysWhatRightsAreMissing)
{
    // XP-era systems have no elevation: the account is what counts there.
    const std::pair<DWORD, const char *> cases[] = {
        {5, "PROBLEM volumes access denied | administrator account"},
        {6, "PROBLEM volumes access denied | elevated"},
    };
    for (const auto &c : cases) {
        Install();
        fake::SetVersion(c.first, 1, 7601, "");
        fake::Fail("EwfMgrGetProtectedVolumeList", 5);
        EXPECT_EQ(EXIT_NOT_READY, Run());
        // Not read, the volumes leave the next restart unknown; on 6.x the
        // fixture's Run value is filtered by User Account Control.
        Texts notOk = {"PROBLEM volumes", "note persist"};
        if (c.first >= 6) {
            notOk.insert(notOk.begin() + 1, "PROBLEM start");
        }
        EXPECT_EQ(notOk, NotOk());
        EXPECT_TRUE(Reads(c.second));
        EXPECT_FALSE(Has("total"));
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(CheckTest, ListRequestFailingOtherwiseNamesTheCall)
{
    fake::Fail("EwfMgrGetProtectedVolumeList", 31);
    EXPECT_EQ(EXIT_NOT_READY, Run());
    EXPECT_TRUE(Reads("PROBLEM volumes EwfMgrGetProtectedVolumeList failed (error 31)"));
}

TEST_F(CheckTest, NoProtectedVolume)
{
    sim::ResetWorld();
    EXPECT_EQ(EXIT_NOT_READY, Run());
    EXPECT_TRUE(Reads("PROBLEM volumes no protected volume"));
    EXPECT_FALSE(Has("total"));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(CheckTest, EachVolumeWithTheWriteFiltersWords)
{
    sim::Volume &disk = sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 5 * MiB);
    disk.type = EWF_DISK;
    sim::Volume &off = sim::AddVolume("\\Device\\HarddiskVolume3", 'E', 0);
    off.state = EWF_DISABLED;
    off.bootCommand = EWF_ENABLE;
    sim::Volume &reg = sim::AddVolume("\\Device\\HarddiskVolume4", 'F', 1536 * 1024);
    reg.type = EWF_RAM_REG;
    reg.bootCommand = EWF_COMMIT;
    EXPECT_EQ(EXIT_NOT_READY, Run());
    EXPECT_TRUE(Reads("ok volumes 4 protected volumes"));
    EXPECT_TRUE(Reads("PROBLEM volume.D \\Device\\HarddiskVolume2 disk enabled boot=none | a disk "
                      "overlay"));
    EXPECT_TRUE(Reads("note volume.E \\Device\\HarddiskVolume3 RAM disabled boot=enable data=0.0 "
                      "MiB | protection is off"));
    EXPECT_TRUE(Reads("ok volume.F \\Device\\HarddiskVolume4 RAM-REG enabled boot=commit data=1.5 "
                      "MiB"));
    // The watchdog adds the disk's field too: the check says what it sees.
    EXPECT_TRUE(Reads("ok total 18.5 MiB, below"));
    EXPECT_FALSE(Has("volumes.zero"));
    EXPECT_TRUE(NothingLeft());
}

// A library without the query is the run-time binding's case (Windows only):
// it answers FALSE, as a failing query does here.
TEST_F(CheckTest, HormIsAProblemWhereTheLibrarySaysItIsActive)
{
    const std::string horm = "PROBLEM horm D: | resume many is active";
    struct Case {
        const char *what;
        const char *query; // the library's name for it
        DWORD failure;     // of the query, when not 0
        Texts notOk;
    };
    const Case cases[] = {
        {"active on D:", "EwfMgrIsHORMActivated", 0, {horm}},
        {"XP Embedded's spelling", "EwfMgrIsHormActivated", 0, {horm}},
        {"the query failing", "EwfMgrIsHORMActivated", 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        std::vector<std::string> exports = fake::EwfExports();
        exports.push_back(c.query);
        fake::AddLibrary(SystemLibrary, exports);
        sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 0).horm = true;
        sim::AddVolume("\\Device\\HarddiskVolume3", 'E', MiB);
        if (c.failure != 0) {
            fake::Fail("EwfMgrIsHORMActivated", c.failure);
        }
        Run();
        Texts notOk;
        for (const ReportLine &line : Findings()) {
            if (line.level != "ok") {
                notOk.push_back(line.Text());
            }
        }
        EXPECT_TRUE(SayAll(c.notOk, notOk));
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(CheckTest, EveryRamOverlayAtZeroPointsAtTheHotfix)
{
    sim::ResetWorld();
    sim::AddVolume("\\Device\\HarddiskVolume1", 'C', 0);
    sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 7 * MiB).state = EWF_DISABLED;
    EXPECT_EQ(EXIT_READY, Run()) << "a note is no warning";
    EXPECT_TRUE(Reads("note volumes.zero | KB823025"));

    Install();
    Run();
    EXPECT_FALSE(Has("volumes.zero")) << "12 MiB held";
}

struct VolumeFailureCase {
    const char *api;
    int exitCode;
    const char *line;
    const char *total;
    size_t handlesLeft;
};

TEST_F(CheckTest, AVolumeThatCannotBeReadIsShownAndTheOthersStillMeasured)
{
    const VolumeFailureCase cases[] = {
        {"EwfMgrGetDriveLetterFromVolumeName", EXIT_READY,
         "ok volume.? \\Device\\HarddiskVolume2 RAM enabled boot=none data=3.0 MiB",
         "ok total 19.0 MiB, below", 0},
        {"EwfMgrOpenProtected", EXIT_WARNINGS,
         "WARNING volume.D \\Device\\HarddiskVolume2 EwfMgrOpenProtected failed (error 5) | not "
         "measured",
         "ok total 16.0 MiB without 1 volume(s)", 0},
        {"EwfMgrGetProtectedVolumeConfig", EXIT_WARNINGS,
         "WARNING volume.D \\Device\\HarddiskVolume2 EwfMgrGetProtectedVolumeConfig failed (error "
         "5) | not measured",
         "ok total 16.0 MiB without 1 volume(s)", 0},
        // Measured all the same; the handle stays with the write filter, once
        // for the check's walk and once for the measurement's, whose clean-up
        // tried again.
        {"EwfMgrClose", EXIT_WARNINGS,
         "WARNING volume.D \\Device\\HarddiskVolume2 RAM enabled boot=none data=3.0 MiB | "
         "EwfMgrClose failed (error 5)",
         "ok total 19.0 MiB (the measurement met error 5)", 2},
    };
    for (const VolumeFailureCase &c : cases) {
        SCOPED_TRACE(c.api);
        Install();
        sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 3 * MiB);
        sim::AddVolume("\\Device\\HarddiskVolume3", 'E', 4 * MiB);
        fake::Fail(c.api, 5, "\\Device\\HarddiskVolume2");
        EXPECT_EQ(c.exitCode, Run()) << output;
        EXPECT_TRUE(Reads(c.line));
        EXPECT_TRUE(Has("volume.E"));
        EXPECT_TRUE(Reads(c.total));
        fake::Outstanding left = fake::Left();
        EXPECT_EQ(0u, left.lists + left.entries + left.records + left.libraries);
        EXPECT_EQ(c.handlesLeft, left.volumeHandles);
    }
}

struct TotalCase {
    LONGLONG bytes;
    const char *limit;
    const char *total;
};

TEST_F(CheckTest, TotalIsComparedAsTheWatchdogComparesIt)
{
    const TotalCase cases[] = {
        {134217727, "128", "ok total 128.0 MiB | below | 128 MiB"},
        {134217728, "128", "WARNING total 128.0 MiB | at or above | 128 MiB"},
        {0, "0", "WARNING total 0.0 MiB | at or above | 0 MiB"},
        {100 * 1048576 + 52429, "100", "WARNING total 100.1 MiB | at or above | 100 MiB"},
    };
    for (const TotalCase &c : cases) {
        std::string profile = std::string("[TOVRIN]\nlimit=") + c.limit + "\n";
        Install(profile.c_str());
        sim::ResetWorld();
        sim::AddVolume("\\Device\\HarddiskVolume1", 'C', c.bytes);
        Run();
        EXPECT_TRUE(Reads(c.total)) << c.bytes;
        TotalRamDataSize = c.bytes;
        EXPECT_EQ(std::string(c.total).rfind("WARNING", 0) == 0,
                  LimitReached(c.bytes, atoi(c.limit)) != 0);
    }
}

// ---- who sees the warning, and whether it runs ----

struct ReplyCase {
    std::vector<std::pair<const char *, DWORD>> values;
    const char *said;
};

TEST_F(CheckTest, MessageBoxDefaultReply)
{
    const char *key = "System\\CurrentControlSet\\Control\\Error Message Instrument";
    const ReplyCase cases[] = {
        {{}, "ok warning | Default Reply is off"},
        {{{"EnableLogging", 1}}, "ok warning | Default Reply is off"},
        {{{"EnableDefaultReply", 0}, {"EnableLogging", 1}}, "ok warning | Default Reply is off"},
        {{{"EnableDefaultReply", 1}},
         "WARNING warning | Default Reply is on | nor is its text logged"},
        {{{"EnableDefaultReply", 1}, {"EnableLogging", 1}},
         "WARNING warning | Default Reply is on | goes to the event log"},
    };
    for (const ReplyCase &c : cases) {
        Install();
        for (const auto &value : c.values) {
            fake::SetRegistryDword(key, value.first, value.second);
        }
        Run();
        EXPECT_TRUE(Reads(c.said));
        EXPECT_TRUE(NothingLeft()) << "the key is opened to read, and closed";
    }
}

TEST_F(CheckTest, DialogFilterList)
{
    const std::string list = "C:\\ProgramData\\Microsoft\\DialogFilter\\ConfigurationList.xml";
    auto utf16 = [](const std::string &text) {
        std::string wide = "\xFF\xFE";
        for (char c : text) {
            wide += c;
            wide += '\0';
        }
        return wide;
    };
    const std::string other = "<Window><Title>Update</Title><Process>app.exe</Process></Window>";
    struct Case {
        const char *what;
        DWORD major;
        std::function<void()> arrange;
        std::string line; // empty for none
    };
    const std::string listed = "warning.filter " + list;
    const Case cases[] = {
        {"none on 6.1", 6, [] {}, ""},
        {"XP has none", 5, [&] { fake::AddFile(list, "<Title>" WARNING_CAPTION "</Title>"); }, ""},
        {"the caption", 6,
         [&] { fake::AddFile(list, other + "<Title>" WARNING_CAPTION "</Title>"); },
         "PROBLEM " + listed + " names the warning's caption"},
        {"the process, in UTF-16", 6,
         [&] { fake::AddFile(list, utf16(other + "<Process>TOVRIN.EXE</Process>")); },
         "PROBLEM " + listed + " names tovrin.exe"},
        {"other windows", 6, [&] { fake::AddFile(list, utf16(other)); },
         "ok " + listed + " names neither"},
        {"unreadable", 6, [&] { fake::AddFile(list, other).openError = 5; },
         "note " + listed + ": | cannot be read (error 5)"},
        {"larger than any list", 6, [&] { fake::AddFile(list, std::string((1u << 20) + 1, ' ')); },
         "note " + listed + ": | cannot be read (error 223)"},
        {"no ProgramData", 6, [] { fake::SetEnvironment("ProgramData", ""); },
         "note warning.filter | cannot be looked for | ProgramData is not set"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        fake::SetVersion(c.major, 1, 7601, "");
        c.arrange();
        Run();
        EXPECT_TRUE(SayAll(c.line.empty() ? Texts{} : Texts{c.line}, Said("warning.filter")));
        EXPECT_TRUE(NothingLeft());
    }
}

// Not running at all: in the golden reports.
TEST_F(CheckTest, ProcessListUnreadable)
{
    fake::Fail("CreateToolhelp32Snapshot", 8);
    EXPECT_EQ(EXIT_WARNINGS, Run());
    EXPECT_TRUE(Reads("WARNING running | process list cannot be read (error 8)"));
    EXPECT_FALSE(Has("running.path"));
    EXPECT_TRUE(NothingLeft());
}

struct RunningCase {
    const char *what;
    // The machine and the watchdog's process, id 1234, as found; a healthy
    // copy started from C:\Tovrin on XP Embedded when left alone.
    std::function<void(fake::Process &)> arrange;
    int exitCode;
    Texts lines; // every running line
};

TEST_F(CheckTest, RunningFindings)
{
    const std::string one = "ok running tovrin.exe | process id 1234";
    const std::string path = "ok running.path 1234: C:\\Tovrin\\tovrin.exe";
    const std::string rights = "ok running.rights 1234: Administrators enabled";
    const std::string session = "ok running.session 1234: session 1, the console's";
    auto standard7 = [] { fake::SetVersion(6, 1, 7601, "Service Pack 1"); };
    auto xp64 = [] {
        fake::SetVersion(5, 2, 3790, "Service Pack 2");
        fake::AddLibrary("C:\\WINDOWS\\SysWOW64\\EWFAPI.dll", fake::EwfExports());
    };
    const RunningCase cases[] = {
        {"healthy, XP: the path from a module snapshot",
         [](fake::Process &) {},
         EXIT_READY,
         {one, path, rights, session}},
        {"healthy, Standard 7: the path from the process",
         [&](fake::Process &) { standard7(); },
         EXIT_READY,
         {one, path, rights, session}},
        {"Administrators deny-only: a Run value under UAC",
         [&](fake::Process &watchdog) {
             standard7();
             watchdog.groups = {{"S-1-1-0", 0x7}, {"S-1-5-32-544", 0x10}, {"S-1-5-32-545", 0x7}};
         },
         EXIT_NOT_READY,
         {one, path,
          "PROBLEM running.rights 1234: runs without administrative rights | deny only | elevated",
          session}},
        {"Administrators missing: a limited account on XP",
         [](fake::Process &watchdog) {
             watchdog.groups = {{"S-1-1-0", 0x7}, {"S-1-5-32-545", 0x7}};
         },
         EXIT_NOT_READY,
         {one, path,
          "PROBLEM running.rights 1234: runs without administrative rights | not in "
          "Administrators | administrator account",
          session}},
        {"Administrators present, not enabled",
         [](fake::Process &watchdog) {
             watchdog.groups = {{"S-1-5-32-544", 0x0}};
         },
         EXIT_NOT_READY,
         {one, path,
          "PROBLEM running.rights 1234: runs without administrative rights | Administrators not "
          "enabled | administrator account",
          session}},
        {"another session",
         [&](fake::Process &watchdog) {
             standard7();
             watchdog.session = 0;
         },
         EXIT_WARNINGS,
         {one, path, rights,
          "WARNING running.session 1234: session 0, not the console's session 1"}},
        {"fast user switching: the user at the console in session 2",
         [](fake::Process &watchdog) {
             fake::SetConsoleSession(2);
             watchdog.session = 2;
         },
         EXIT_READY,
         {one, path, rights, "ok running.session 1234: session 2, the console's"}},
        {"nobody at the console",
         [](fake::Process &) { fake::SetConsoleSession(0xFFFFFFFF); },
         EXIT_READY,
         {one, path, rights,
          "note running.session 1234: session 1 | no session is at the console"}},
        {"two copies",
         [](fake::Process &) { fake::AddProcess(2222, "Tovrin.EXE").session = 2; },
         EXIT_WARNINGS,
         {"WARNING running tovrin.exe | 2 times | 1234, 2222", path, rights, session,
          "ok running.path 2222: C:\\Tovrin\\Tovrin.EXE",
          "ok running.rights 2222: Administrators enabled",
          "WARNING running.session 2222: session 2, not the console's session 1"}},
        {"the check in a remote session",
         [](fake::Process &) { fake::SetConsoleSession(1, 3); },
         EXIT_READY,
         {one, "note running.session this check is in session 3 | the console in 1", path, rights,
          session}},
        {"more copies than are looked at one by one",
         [](fake::Process &) {
             for (DWORD id = 2001; id <= 2020; ++id) {
                 fake::AddProcess(id, "tovrin.exe").sessionError = 5;
             }
         },
         EXIT_WARNINGS,
         [&] {
             std::string ids = "1234";
             for (int id = 2001; id <= 2020; ++id) {
                 ids += ", " + std::to_string(id);
             }
             Texts lines = {"WARNING running tovrin.exe | 21 times | " + ids + ":", path, rights,
                            session};
             // Sixteen looked at: the watchdog and the first fifteen others.
             for (int id = 2001; id <= 2015; ++id) {
                 std::string n = std::to_string(id);
                 lines.push_back("ok running.path " + n + ": C:\\Tovrin\\tovrin.exe");
                 lines.push_back("ok running.rights " + n + ": Administrators enabled");
                 lines.push_back("note running.session " + n + ": | cannot be read (error 5)");
             }
             return lines;
         }()},
        {"a copy from another folder",
         [&](fake::Process &watchdog) {
             standard7();
             watchdog.path = "C:\\Old\\Tovrin\\tovrin.exe";
         },
         EXIT_WARNINGS,
         {one,
          "WARNING running.path 1234: C:\\Old\\Tovrin\\tovrin.exe | another file | "
          "C:\\Tovrin\\tovrin.exe",
          rights, session}},
        {"OpenProcess refused, Standard 7",
         [&](fake::Process &watchdog) {
             standard7();
             watchdog.openError = 5;
         },
         EXIT_READY,
         {one, "note running.path 1234: | cannot be read (error 5)",
          "note running.rights 1234: | OpenProcess failed (error 5)", session}},
        {"OpenProcess refused, XP: the snapshot still gives the path",
         [](fake::Process &watchdog) { watchdog.openError = 5; },
         EXIT_READY,
         {one, path, "note running.rights 1234: | OpenProcess failed (error 5)", session}},
        {"token refused",
         [](fake::Process &watchdog) { watchdog.tokenError = 5; },
         EXIT_READY,
         {one, path, "note running.rights 1234: | OpenProcessToken failed (error 5)", session}},
        {"groups refused",
         [](fake::Process &) { fake::Fail("GetTokenInformation", 5); },
         EXIT_READY,
         {one, path, "note running.rights 1234: | GetTokenInformation failed (error 5)", session}},
        {"path refused, Standard 7",
         [&](fake::Process &watchdog) {
             standard7();
             watchdog.pathError = 31;
         },
         EXIT_READY,
         {one, "note running.path 1234: | cannot be read (error 31)", rights, session}},
        {"session refused",
         [](fake::Process &watchdog) { watchdog.sessionError = 5; },
         EXIT_READY,
         {one, path, rights, "note running.session 1234: | cannot be read (error 5)"}},
        {"XP x64: a 64-bit watchdog, a 32-bit check",
         [&](fake::Process &) {
             xp64();
             fake::SetWow64(true, true);
         },
         EXIT_WARNINGS,
         {one, "note running.path 1234: | a 64-bit process | check is 32-bit", rights, session}},
        {"XP x64: a 32-bit watchdog, a 64-bit check",
         [&](fake::Process &watchdog) {
             xp64();
             fake::SetOwnMachine(0x8664);
             watchdog.wow64 = true;
         },
         EXIT_WARNINGS,
         {one, "note running.path 1234: | a 32-bit process | check is 64-bit", rights, session}},
        {"XP x64: both 32-bit",
         [&](fake::Process &watchdog) {
             xp64();
             fake::SetWow64(true, true);
             watchdog.wow64 = true;
         },
         EXIT_WARNINGS,
         {one, path, rights, session}},
        {"acted, and waiting for OK",
         [](fake::Process &) {
             sim::Volume &off = sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 0);
             off.state = EWF_DISABLED;
             off.bootCommand = EWF_ENABLE;
         },
         EXIT_READY,
         {one, "note running.acted | off until the next boot | written back | waits only for OK",
          path, rights, session}},
        {"off, but left off: not the watchdog's doing",
         [](fake::Process &) {
             sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 0).state = EWF_DISABLED;
         },
         EXIT_READY,
         {one, path, rights, session}},
    };
    for (const RunningCase &c : cases) {
        SCOPED_TRACE(c.what);
        Install(DefaultProfile, false);
        // Its Run value starts it elevated on 6.x too, with UAC off: only the
        // running lines differ between the cases.
        fake::SetRegistryDword("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System",
                               "EnableLUA", 0);
        c.arrange(fake::AddProcess(1234, "tovrin.exe"));
        EXPECT_EQ(c.exitCode, Run()) << output;
        EXPECT_TRUE(SayAll(c.lines, Said("running")));
        // Only the right to query: the limited one where it exists.
        std::string asked = output.find("Windows 6.") != std::string::npos ? "0x1000" : "0x400";
        for (const std::string &open : fake::CallTexts({"OpenProcess"})) {
            EXPECT_EQ(0u, open.find("OpenProcess(" + asked + ", FALSE, ")) << open;
        }
        EXPECT_EQ(Texts{}, StateChangingCalls());
        EXPECT_TRUE(NothingLeft());
    }
}

} // namespace
