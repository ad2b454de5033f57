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
        GrowEachPoll(perPoll, polls, event);
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

    // The view's lines, which have no level and key, against expectations
    // as Says takes them: each line's start, then the words it holds.
    static ::testing::AssertionResult Shows(std::vector<std::string> expected,
                                            std::vector<std::string> lines)
    {
        for (std::string &line : expected) {
            line = "view " + line;
        }
        for (std::string &line : lines) {
            line = "view " + line;
        }
        return SayAll(expected, lines);
    }
};

TEST_F(WatchTest, LineEveryTwoSecondsThenSummary)
{
    EXPECT_EQ(EXIT_READY, Watch(MiB, 4));
    // Stopped within the wait after the fourth line: 6 s and a step or two.
    EXPECT_TRUE(Shows(
        {
            "watching | every 2 s | limit 128 MiB from C:\\Tovrin\\tovrin.ini",
            "10:00:00 | total 12.0 MiB | change +0.0 MiB | growth - | limit 128 MiB | "
            "room 585.9 MiB",
            "10:00:02 | total 13.0 MiB | change +1.0 MiB | growth 1800.0 MiB/h | room 585.9 MiB",
            "10:00:04 | total 14.0 MiB | change +2.0 MiB | growth 1800.0 MiB/h | room 585.9 MiB",
            "10:00:06 | total 15.0 MiB | change +3.0 MiB | growth 1800.0 MiB/h | room 585.9 MiB",
            "summary: 6 s, | peak 15.0 MiB, mean growth 1800.0 MiB/h | "
            "limit of 128 MiB comes first | in 3 min | room in 19 min",
        },
        OutputLines()));
    EXPECT_EQ(std::vector<std::string>{}, StateChangingCalls());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, ClosingTheConsoleGivesTheSummaryToo)
{
    EXPECT_EQ(EXIT_READY, Watch(0, 2, CTRL_CLOSE_EVENT));
    EXPECT_TRUE(Shows({"summary: 2 s, | peak 12.0 MiB, mean growth 0.0 MiB/h | not growing"},
                      {OutputLines().back()}));
}

TEST_F(WatchTest, ShrinkingOverlayAndPeak)
{
    EXPECT_EQ(EXIT_READY, Watch(-4 * MiB, 3));
    std::vector<std::string> lines = OutputLines();
    EXPECT_TRUE(Shows({"10:00:04 | total 4.0 MiB | change -8.0 MiB | growth -7200.0 MiB/h",
                       "summary: 4 s, | peak 12.0 MiB, mean growth -7200.0 MiB/h | not growing"},
                      {lines[3], lines.back()}));
}

struct SummaryCase {
    const char *what;
    const char *limit;
    std::function<void()> arrange;
    LONGLONG perPoll;
    const char *summary; // after the growth: words it holds, in order
};

TEST_F(WatchTest, SummarySaysWhatComesFirstAndWhen)
{
    // C: grows from 12 MiB by perPoll every 2 s and is at 15 MiB after 4
    // lines when it grows by 1 MiB: 1800 MiB/h, 30 MiB a minute. The room is
    // 585.94 MiB (free PTEs), 19.5 minutes at that rate.
    const SummaryCase cases[] = {
        {"limit first", "128", [] {}, MiB,
         "limit of 128 MiB comes first | in 3 min | room in 19 min"},
        {"2 minutes short of the limit", "75", [] {}, MiB,
         "limit of 75 MiB comes first | in 2 min | room in 19 min"},
        {"less than a minute", "16", [] {}, MiB,
         "limit of 16 MiB comes first | in less than a minute | room in 19 min"},
        {"room first", "1024", [] {}, MiB,
         "room comes first | in 19 min | limit of 1024 MiB in 33 min"},
        {"room first, hours away", "8192", [] {}, MiB / 64,
         "room comes first | in 20 h 50 min | limit of 8192 MiB in 290 h 50 min"},
        {"room unknown", "128", [] { fake::Fail("GlobalMemoryStatusEx", 8); }, MiB,
         "limit of 128 MiB in 3 min | room is not known"},
        {"no growth", "128", [] {}, 0, "not growing"},
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
        EXPECT_TRUE(
            Shows({std::string("summary: 6 s, | ") + growth + " | " + c.summary}, {lines.back()}))
            << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(WatchTest, RoomUnknownOnEveryLine)
{
    fake::Fail("GlobalMemoryStatusEx", 8);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 2));
    EXPECT_TRUE(Shows({"10:00:02 | total 13.0 MiB | room unknown"}, {OutputLines()[2]}));
}

TEST_F(WatchTest, LimitAlreadyReached)
{
    Install("[TOVRIN]\nlimit=10\n");
    EXPECT_EQ(EXIT_READY, Watch(MiB, 2));
    EXPECT_TRUE(Shows({"summary: 2 s, | peak 13.0 MiB | limit is reached already"},
                      {OutputLines().back()}));
}

TEST_F(WatchTest, StoppedBeforeTheSecondMeasurement)
{
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_TRUE(Shows({"summary: 0 s, | peak 12.0 MiB | too short"}, {OutputLines().back()}));
}

TEST_F(WatchTest, TickCountWrapsWithoutHarm)
{
    fake::SetTickBase(0xFFFFF000u);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 4));
    EXPECT_TRUE(Shows({"summary: 6 s, | peak 15.0 MiB, mean growth 1800.0 MiB/h | in 3 min"},
                      {OutputLines().back()}));
}

TEST_F(WatchTest, SlowGrowthGivesHoursLeft)
{
    // 4 KiB every 2 s: 7.03 MiB/h, and 115.96 MiB to go; 585.94 MiB of room.
    EXPECT_EQ(EXIT_READY, Watch(4096, 11));
    EXPECT_TRUE(Shows({"summary: 20 s, | mean growth 7.0 MiB/h | limit of 128 MiB comes first | "
                       "in 16 h 29 min | room in 83 h 20 min"},
                      {OutputLines().back()}));
}

TEST_F(WatchTest, MeasurementFailingLaterIsShownAndWatchingGoesOn)
{
    fake::Fail("EwfMgrOpenProtected", 21, "", 2);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 3));
    std::vector<std::string> lines = OutputLines();
    EXPECT_TRUE(Shows({"10:00:02 | measurement failed | error 21",
                       "10:00:04 | total 14.0 MiB | change +2.0 MiB | growth 1800.0 MiB/h"},
                      {lines[2], lines[3]}));
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
    EXPECT_TRUE(Shows({"10:00:02 | total 13.0 MiB | room 585.9 MiB | error 5"}, {lines[2]}));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, DeniedAtOnceEndsIt)
{
    fake::Fail("EwfMgrGetProtectedVolumeList", 5);
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /watch"));
    EXPECT_TRUE(Reads("PROBLEM volumes access denied"));
    EXPECT_EQ(std::string::npos, output.find("summary"));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, NoLibraryEndsIt)
{
    fake::SetSystemDirectory("C:\\WINNT\\system32");
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /WATCH"));
    EXPECT_TRUE(Reads("PROBLEM library"));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, SaysWhichWatchdogFirst)
{
    fake::SetOwnMachine(0x8664);
    fake::AddFile(WatchdogPath, PeHeader(0x8664));
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_TRUE(Reads("ok system Windows 5.1 build 2600 | 64-bit"));
    EXPECT_TRUE(Reads("ok watchdog C:\\Tovrin\\tovrin.exe, x64"))
        << "a 64-bit system, known as such";
}

TEST_F(WatchTest, NoWatchdogNoLimitToWatchFor)
{
    EXPECT_EQ(EXIT_NOT_READY, Run("tovrin-check.exe /watch C:\\Nowhere\\tovrin.exe"));
    EXPECT_TRUE(Reads("PROBLEM watchdog"));
    EXPECT_EQ(std::string::npos, output.find("watching"));
    EXPECT_EQ(std::vector<std::string>{}, fake::CallTexts({"LoadLibraryExA"}));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchTest, DefaultLimitWithoutAProfileIsSaidSo)
{
    Install(nullptr);
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1));
    EXPECT_TRUE(Shows({"watching | limit 128 MiB by default | without C:\\Tovrin\\tovrin.ini"},
                      {OutputLines()[0]}));
}

TEST_F(WatchTest, WatchdogElsewhereGivesItsLimit)
{
    fake::AddFile("D:\\Guard\\guard.exe", PeHeader(0x14C));
    fake::SetProfile("D:\\Guard\\guard.ini", "[TOVRIN]\nlimit=64\n");
    EXPECT_EQ(EXIT_READY, Watch(MiB, 1, CTRL_C_EVENT, "c.exe /watch D:\\Guard\\guard.exe"));
    EXPECT_TRUE(Shows({"watching | limit 64 MiB from D:\\Guard\\guard.ini"}, {OutputLines()[0]}));
}

} // namespace
