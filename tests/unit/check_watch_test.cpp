// The live view: a line every 2 s of virtual time, and the summary when the
// console's Ctrl+C or close arrives on a thread of its own.
#include "tests/unit/check_fixture.h"

namespace
{

class WatchTest : public CheckTest
{
  protected:
    // Grows C: by `perPoll` bytes at every 2 s, and presses `event` after
    // `polls` measurements.
    int Watch(LONGLONG perPoll, unsigned polls, DWORD event = CTRL_C_EVENT,
              const std::string &commandLine = "tovrin-check.exe /watch")
    {
        unsigned measured = 0;
        fake::OnCall([&](const std::string &api) {
            if (api != "EwfMgrGetProtectedVolumeList") {
                return;
            }
            sim::FindVolume(sim::Widen("\\Device\\HarddiskVolume1"))->ramDataSize +=
                measured == 0 ? 0 : perPoll;
            if (++measured == polls) {
                EXPECT_TRUE(fake::PressCtrl(event));
            }
        });
        int code = Run(commandLine);
        fake::OnCall(nullptr);
        return code;
    }

    // The live view's own lines, the findings about the system and the
    // watchdog before them aside.
    std::vector<std::string> OutputLines() const
    {
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < output.size()) {
            size_t end = output.find("\r\n", start);
            std::string line = output.substr(start, end - start);
            if (line.rfind("ok      ", 0) != 0 && line.rfind("WARNING ", 0) != 0) {
                lines.push_back(line);
            }
            start = end + 2;
        }
        return lines;
    }
};

TEST_F(WatchTest, LineEveryTwoSecondsThenSummary)
{
    EXPECT_EQ(EXIT_READY, Watch(MiB, 4));
    std::vector<std::string> expected = {
        "watching all protected RAM overlays every 2 s; limit 128 MiB from "
        "C:\\Tovrin\\tovrin.ini; Ctrl+C ends",
        "10:00:00  total 12.0 MiB  change +0.0 MiB  growth -  limit 128 MiB  room 585.9 MiB",
        "10:00:02  total 13.0 MiB  change +1.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
        "585.9 MiB",
        "10:00:04  total 14.0 MiB  change +2.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
        "585.9 MiB",
        "10:00:06  total 15.0 MiB  change +3.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
        "585.9 MiB",
    };
    std::vector<std::string> lines = OutputLines();
    ASSERT_GE(lines.size(), expected.size() + 1) << output;
    EXPECT_EQ(expected, std::vector<std::string>(lines.begin(), lines.begin() + 5));
    // Stopped within the wait after the fourth line: 6 s and a step or two.
    EXPECT_EQ("summary: 6 s, peak 15.0 MiB, mean growth 1800.0 MiB/h, the limit of 128 MiB comes "
              "first at that rate, in 3 min; the end of the room in 19 min",
              lines.back());
    EXPECT_EQ(6u, lines.size());
    EXPECT_EQ(std::vector<std::string>{}, StateChangingCalls());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, ClosingTheConsoleGivesTheSummaryToo)
{
    EXPECT_EQ(EXIT_READY, Watch(0, 2, CTRL_CLOSE_EVENT));
    EXPECT_EQ("summary: 2 s, peak 12.0 MiB, mean growth 0.0 MiB/h, not growing: at this rate "
              "neither the limit nor the end of the room is reached",
              OutputLines().back());
}

TEST_F(WatchTest, ShrinkingOverlayAndPeak)
{
    EXPECT_EQ(EXIT_READY, Watch(-4 * MiB, 3));
    std::vector<std::string> lines = OutputLines();
    EXPECT_EQ("10:00:04  total 4.0 MiB  change -8.0 MiB  growth -7200.0 MiB/h  limit 128 MiB  room "
              "585.9 MiB",
              lines[3]);
    EXPECT_EQ("summary: 4 s, peak 12.0 MiB, mean growth -7200.0 MiB/h, not growing: at this rate "
              "neither the limit nor the end of the room is reached",
              lines.back());
}

struct SummaryCase {
    const char *what;
    const char *limit;
    std::function<void()> arrange;
    LONGLONG perPoll;
    const char *summary; // after the growth
};

TEST_F(WatchTest, SummarySaysWhatComesFirstAndWhen)
{
    // C: grows from 12 MiB by perPoll every 2 s and is at 15 MiB after 4
    // lines when it grows by 1 MiB: 1800 MiB/h, 30 MiB a minute. The room is
    // 585.94 MiB (free PTEs), 19.5 minutes at that rate.
    const SummaryCase cases[] = {
        {"limit first", "128", [] {}, MiB,
         "the limit of 128 MiB comes first at that rate, in 3 min; the end of the room in 19 min"},
        {"2 minutes short of the limit", "75", [] {}, MiB,
         "the limit of 75 MiB comes first at that rate, in 2 min; the end of the room in 19 min"},
        {"less than a minute", "16", [] {}, MiB,
         "the limit of 16 MiB comes first at that rate, in less than a minute; the end of the "
         "room in 19 min"},
        {"room first", "1024", [] {}, MiB,
         "the end of the room comes first at that rate, in 19 min, before the limit of 1024 MiB "
         "in 33 min: lower the limit"},
        {"room first, hours away", "8192", [] {}, MiB / 64,
         "the end of the room comes first at that rate, in 20 h 50 min, before the limit of 8192 "
         "MiB in 290 h 50 min: lower the limit"},
        {"room unknown", "128", [] { fake::Fail("GlobalMemoryStatusEx", 8); }, MiB,
         "the limit of 128 MiB in 3 min at that rate; the room is not known"},
        {"no growth", "128", [] {}, 0,
         "not growing: at this rate neither the limit nor the end of the room is reached"},
    };
    for (const SummaryCase &c : cases) {
        std::string profile = std::string("[TOVRIN]\nlimit=") + c.limit + "\n";
        Install(profile.c_str());
        c.arrange();
        EXPECT_EQ(EXIT_READY, Watch(c.perPoll, 4)) << c.what;
        std::vector<std::string> lines = OutputLines();
        ASSERT_EQ(6u, lines.size()) << c.what << ":\n" << output;
        const char *growth = c.perPoll == 0     ? "peak 12.0 MiB, mean growth 0.0 MiB/h"
                             : c.perPoll == MiB ? "peak 15.0 MiB, mean growth 1800.0 MiB/h"
                                                : "peak 12.0 MiB, mean growth 28.1 MiB/h";
        EXPECT_EQ(std::string("summary: 6 s, ") + growth + ", " + c.summary, lines.back())
            << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(WatchTest, RoomUnknownOnEveryLine)
{
    fake::Fail("GlobalMemoryStatusEx", 8);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 2));
    EXPECT_EQ("10:00:02  total 13.0 MiB  change +1.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
              "unknown",
              OutputLines()[2]);
}

TEST_F(WatchTest, LimitAlreadyReached)
{
    Install("[TOVRIN]\nlimit=10\n");
    EXPECT_EQ(EXIT_READY, Watch(MiB, 2));
    EXPECT_EQ("summary: 2 s, peak 13.0 MiB, mean growth 1800.0 MiB/h, the limit is reached "
              "already",
              OutputLines().back());
}

TEST_F(WatchTest, StoppedBeforeTheSecondMeasurement)
{
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_EQ("summary: 0 s, peak 12.0 MiB, too short to tell the growth", OutputLines().back());
}

TEST_F(WatchTest, TickCountWrapsWithoutHarm)
{
    fake::SetTickBase(0xFFFFF000u);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 4));
    EXPECT_EQ("summary: 6 s, peak 15.0 MiB, mean growth 1800.0 MiB/h, the limit of 128 MiB comes "
              "first at that rate, in 3 min; the end of the room in 19 min",
              OutputLines().back());
}

TEST_F(WatchTest, SlowGrowthGivesHoursLeft)
{
    // 4 KiB every 2 s: 7.03 MiB/h, and 115.96 MiB to go; 585.94 MiB of room.
    EXPECT_EQ(EXIT_READY, Watch(4096, 11));
    EXPECT_EQ("summary: 20 s, peak 12.0 MiB, mean growth 7.0 MiB/h, the limit of 128 MiB comes "
              "first at that rate, in 16 h 29 min; the end of the room in 83 h 20 min",
              OutputLines().back());
}

TEST_F(WatchTest, MeasurementFailingLaterIsShownAndWatchingGoesOn)
{
    fake::Fail("EwfMgrOpenProtected", 21, "", 2);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 3));
    std::vector<std::string> lines = OutputLines();
    EXPECT_EQ("10:00:02  measurement failed (error 21)", lines[2]);
    EXPECT_EQ("10:00:04  total 14.0 MiB  change +2.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
              "585.9 MiB",
              lines[3]);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, VolumeThatCannotBeReadLeavesTheOthersShown)
{
    // The watchdog measures past it, and so does the view; refused, it ends
    // the view no more than the watchdog's polling.
    sim::AddVolume("\\Device\\HarddiskVolume2", 0, 0);
    fake::Fail("EwfMgrOpenProtected", ERROR_ACCESS_DENIED, "\\Device\\HarddiskVolume2");
    EXPECT_EQ(EXIT_READY, Watch(MiB, 2));
    std::vector<std::string> lines = OutputLines();
    ASSERT_EQ(4u, lines.size()) << output;
    EXPECT_EQ("10:00:02  total 13.0 MiB  change +1.0 MiB  growth 1800.0 MiB/h  limit 128 MiB  room "
              "585.9 MiB  (the measurement met error 5)",
              lines[2]);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, DeniedAtOnceEndsIt)
{
    fake::Fail("EwfMgrGetProtectedVolumeList", 5);
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /watch"));
    EXPECT_EQ("PROBLEM", Line("volumes").level);
    EXPECT_EQ("access denied: run the check elevated", Line("volumes").value);
    EXPECT_EQ(std::string::npos, output.find("summary"));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, NoLibraryEndsIt)
{
    fake::SetSystemDirectory("C:\\WINNT\\system32");
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /WATCH"));
    EXPECT_EQ("PROBLEM", Line("library").level);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, SaysWhichWatchdogFirst)
{
    fake::SetOwnMachine(0x8664);
    fake::AddFile(WatchdogPath, PeHeader(0x8664));
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_EQ("Windows 5.1 build 2600 Service Pack 3, 64-bit", Line("system").value);
    EXPECT_EQ("ok", Line("watchdog").level) << "a 64-bit system, known as such";
    EXPECT_EQ("C:\\Tovrin\\tovrin.exe, x64", Line("watchdog").value);
}

TEST_F(WatchTest, NoWatchdogNoLimitToWatchFor)
{
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /watch C:\\Nowhere\\tovrin.exe"));
    EXPECT_EQ("PROBLEM", Line("watchdog").level);
    EXPECT_EQ(std::string::npos, output.find("watching"));
    EXPECT_EQ(std::vector<std::string>{}, fake::CallTexts({"LoadLibraryExA"}));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, DefaultLimitWithoutAProfileIsSaidSo)
{
    Install(nullptr);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_EQ("watching all protected RAM overlays every 2 s; limit 128 MiB by default, without "
              "C:\\Tovrin\\tovrin.ini; Ctrl+C ends",
              OutputLines()[0]);
}

TEST_F(WatchTest, WatchdogElsewhereGivesItsLimit)
{
    fake::AddFile("D:\\Guard\\guard.exe", PeHeader(0x14C));
    fake::SetProfile("D:\\Guard\\guard.ini", "[TOVRIN]\nlimit=64\n");
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1, CTRL_C_EVENT, "c.exe /watch D:\\Guard\\guard.exe"));
    EXPECT_EQ("watching all protected RAM overlays every 2 s; limit 64 MiB from "
              "D:\\Guard\\guard.ini; Ctrl+C ends",
              OutputLines()[0]);
}

} // namespace
