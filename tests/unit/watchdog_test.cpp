#include <algorithm>
#include <cstring>

#include "platform/user32.h"
#include "tests/unit/fixture.h"
#include "watchdog/watchdog.h"

namespace
{

const char *const Profile = "C:\\Tovrin\\tovrin.ini";

class WatchdogTest : public PlatformTest
{
  protected:
    static int Run() { return WinMain(nullptr, nullptr, (LPSTR) "--ignored", 1); }

    // Whether the program still polls after `polls` measurements.
    static bool KeepsPolling(unsigned polls)
    {
        fake::StopAfterSleeps(polls, 2000);
        try {
            Run();
        } catch (const fake::StopRun &) {
            return true;
        }
        return false;
    }

    // The user presses OK the moment the box appears.
    static void DismissWhenShown()
    {
        fake::OnCall([](const std::string &api) {
            if (api == "CreateThread" || api == "MessageBoxA") {
                fake::DismissWarning();
            }
        });
    }

    static void SetLimit(const std::string &value)
    {
        fake::SetProfile(Profile, "[TOVRIN]\nlimit=" + value + "\n");
    }

    static size_t Count(const std::string &text)
    {
        size_t count = 0;
        for (const std::string &call : fake::CallTexts()) {
            count += call == text;
        }
        return count;
    }
};

struct ThresholdCase {
    const char *limit; // null: no profile
    std::vector<LONGLONG> sizes;
    bool responds;
};

TEST_F(WatchdogTest, RespondsOnceTheTotalInWholeMiBReachesTheLimit)
{
    const ThresholdCase cases[] = {
        {nullptr, {134217727}, false},
        {nullptr, {134217728}, true},
        {nullptr, {64 * MiB, 32 * MiB, 32 * MiB - 1}, false},
        {nullptr, {64 * MiB, 32 * MiB, 32 * MiB}, true},
        {"0", {}, true},
        {"-1", {}, true},
        {"abc", {}, true},
        {"", {}, true},
        {"1", {}, false},
        {"1", {MiB - 1}, false},
        {"1", {MiB}, true},
        {" 64MB", {64 * MiB - 1}, false},
        {" 64MB", {64 * MiB}, true},
        {"+32", {32 * MiB}, true},
        {"4294967424", {128 * MiB}, true},
        {"2147483647", {(LONGLONG)INT32_MAX * MiB}, true},
        // Only the low 32 bits of the MiB count are compared.
        {"1", {(LONGLONG)1 << 52}, false},
        // A negative total (a record gone wrong) divides toward zero.
        {"0", {-1}, true},
        {"-1", {-MiB - 1}, true},
    };
    for (const ThresholdCase &c : cases) {
        std::string label = std::string("limit ") + (c.limit ? c.limit : "(none)");
        for (LONGLONG size : c.sizes) {
            label += " size " + std::to_string(size);
        }
        SCOPED_TRACE(label);
        fake::Reset();
        WarningShowing.store(true);
        if (c.limit != nullptr) {
            SetLimit(c.limit);
        }
        int index = 0;
        for (LONGLONG size : c.sizes) {
            sim::AddVolume("Vol" + std::to_string(index), (WCHAR)('C' + index), size);
            ++index;
        }
        DismissWhenShown();
        EXPECT_EQ(!c.responds, KeepsPolling(3));
        EXPECT_EQ(c.responds ? 1u : 0u, fake::Boxes().size());
        EXPECT_EQ(c.responds ? 1u : 3u, Count("Sleep(2000)"));
    }
}

TEST_F(WatchdogTest, MeasuresAfterEachTwoSecondSleepFromZero)
{
    SetLimit("128");
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 100 * MiB);
    ASSERT_TRUE(KeepsPolling(4)) << "100 MiB, not 4 x 100 MiB: the total restarts each poll";

    std::vector<fake::Call> calls = fake::Calls();
    std::vector<unsigned long long> measuredAt;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].api == "EwfMgrGetProtectedVolumeList") {
            measuredAt.push_back(calls[i].atMs);
            ASSERT_GT(i, 0u);
            EXPECT_EQ("Sleep(2000)", calls[i - 1].Text()) << "each measurement follows a sleep";
        }
    }
    EXPECT_EQ((std::vector<unsigned long long>{2000, 4000, 6000, 8000}), measuredAt);
    EXPECT_EQ("Ewf API Sample\n\n", TraceTexts().front());
    EXPECT_EQ(100 * MiB, volume.ramDataSize);
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchdogTest, ResponseFollowsThePollThatSeesTheOverlayFull)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 10 * MiB);
    fake::OnSleep([&volume](DWORD) {
        if (fake::Now() == 6000) {
            volume.ramDataSize = 128 * MiB;
        }
    });
    DismissWhenShown();
    EXPECT_EQ(0, Run());
    EXPECT_EQ(4u, fake::CallTexts({"EwfMgrGetProtectedVolumeList"}).size())
        << "three polls and the pass";
    for (const fake::Call &call : fake::Calls()) {
        if (call.api == "CreateThread") {
            EXPECT_EQ(6000u, call.atMs);
        }
    }
}

TEST_F(WatchdogTest, RespondsWithTracesWarningAndPassThenExitsZero)
{
    SetLimit("3");
    sim::AddVolume("VolC", 'C', 2 * MiB);
    sim::AddVolume("VolD", 'D', MiB + 5);
    fake::OnCall([](const std::string &api) {
        if (api == "EwfMgrCommitAndDisableLive") {
            fake::DismissWarning();
        }
    });
    EXPECT_EQ(0, Run());

    std::vector<std::string> traces = TraceTexts();
    std::vector<std::string> expected = {
        "Ewf API Sample\n\n",
        "C: = VolC\n",
        "D: = VolD\n",
        "Total Ram Data Size : 3145733 bytes\n",
        "Total Ram Data Size : 3 MB\n",
        "EwfMgrCommit succeeded\n",
        "EwfMgrEnable succeeded\n",
        "EwfMgrCommit succeeded\n",
        "EwfMgrEnable succeeded\n",
    };
    EXPECT_EQ(expected, traces);

    EXPECT_EQ((std::vector<std::string>{"CreateThread(null, 0, routine, null, 0, null) -> thread"}),
              fake::CallTexts({"CreateThread"}));
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_FALSE(boxes[0].onMainThread);
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_EQ(std::string(WarningText), boxes[0].text);
    EXPECT_EQ("Tovrin V1.00 20070610 Ondrap", boxes[0].caption);
    EXPECT_EQ(0x00040030u, boxes[0].style);

    for (const sim::Volume &volume : sim::TheWorld().volumes) {
        EXPECT_EQ(1u, volume.commits);
        EXPECT_EQ(1u, volume.enables);
        EXPECT_EQ(EWF_ENABLE, volume.bootCommand);
    }
    EXPECT_EQ(0u, fake::CallTexts({"GetCurrentProcess"}).size()) << "no restart";
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchdogTest, DismissedBeforeThePassEndsMeansNoWaitAtAll)
{
    SetLimit("1");
    sim::AddVolume("VolC", 'C', MiB);
    sim::AddVolume("VolD", 'D', MiB);
    fake::OnCall([](const std::string &api) {
        if (api == "EwfMgrCommitAndDisableLive") {
            fake::DismissWarning();
        }
    });
    EXPECT_EQ(0, Run());
    EXPECT_EQ(0u, Count("Sleep(100)"));
    EXPECT_EQ(2u, fake::CallTexts({"EwfMgrEnable"}).size()) << "the pass still ran to its end";
    EXPECT_EQ("EwfMgrVolumeNameListDelete()",
              fake::CallTexts({"Sleep", "EwfMgrVolumeNameListDelete"}).back());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchdogTest, DismissedAfterThePassMeansHundredMillisecondSteps)
{
    for (unsigned steps : {1u, 3u, 25u}) {
        SCOPED_TRACE(std::to_string(steps) + " steps");
        fake::Reset();
        WarningShowing.store(true);
        SetLimit("1");
        sim::AddVolume("VolC", 'C', MiB);
        unsigned seen = 0;
        fake::OnSleep([&seen, steps](DWORD milliseconds) {
            if (milliseconds == 100 && ++seen == steps) {
                fake::DismissWarning();
            }
        });
        EXPECT_EQ(0, Run());
        EXPECT_EQ(steps, Count("Sleep(100)"));
        // The waiting starts only once the pass is over.
        EXPECT_EQ(steps, (unsigned)CallsFrom("EwfMgrEnable", {"Sleep"}).size());
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(WatchdogTest, KeepsWaitingWhileTheBoxIsUp)
{
    SetLimit("1");
    sim::AddVolume("VolC", 'C', MiB);
    // Every step begins with the box surely on screen, whatever the threads'
    // timing: the flag must still say so then.
    fake::OnSleep([](DWORD milliseconds) {
        if (milliseconds == 100) {
            fake::WaitForBox();
        }
    });
    fake::StopAfterSleeps(20, 100);
    bool stillWaiting = false;
    try {
        Run();
    } catch (const fake::StopRun &) {
        stillWaiting = true;
    }
    EXPECT_TRUE(stillWaiting) << "the program ended with the warning still on screen";
    EXPECT_EQ(1u, fake::Boxes().size());
}

TEST_F(WatchdogTest, WithoutAWarningThreadWarnsOnTheMainThreadAfterThePass)
{
    SetLimit("1");
    sim::AddVolume("VolC", 'C', MiB);
    fake::Fail("CreateThread", 8);
    DismissWhenShown();
    EXPECT_EQ(0, Run());
    std::vector<fake::Box> boxes = fake::Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_TRUE(boxes[0].onMainThread);
    EXPECT_EQ(std::string(WarningText), boxes[0].text);
    EXPECT_EQ((std::vector<std::string>{"EwfMgrVolumeNameListDelete()", "MessageBoxA"}), [] {
        std::vector<std::string> order;
        for (const fake::Call &call : fake::Calls()) {
            if (call.api == "MessageBoxA") {
                order.push_back(call.api);
            } else if (call.api == "EwfMgrVolumeNameListDelete") {
                order.assign(1, call.Text());
            }
        }
        return order;
    }()) << "the data is safe before the box can block";
    EXPECT_EQ(0u, Count("Sleep(100)"));
    EXPECT_EQ(1u, sim::TheWorld().volumes[0].commits);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchdogTest, FailingMeasurementsKeepTheTotalAtZero)
{
    sim::AddVolume("VolC", 'C', 500 * MiB);
    fake::Fail("EwfMgrGetProtectedVolumeList", 5);
    EXPECT_TRUE(KeepsPolling(5));
    EXPECT_EQ(5u, fake::CallTexts({"EwfMgrGetProtectedVolumeList"}).size());
    EXPECT_TRUE(fake::Boxes().empty());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(WatchdogTest, APartialMeasurementIsComparedAsItStands)
{
    SetLimit("100");
    sim::AddVolume("VolC", 'C', 60 * MiB);
    sim::AddVolume("VolD", 'D', 60 * MiB);
    fake::Fail("EwfMgrOpenProtected", 5, "VolD");
    EXPECT_TRUE(KeepsPolling(3)) << "60 MiB counted, the rest unread";

    fake::Reset();
    WarningShowing.store(true);
    SetLimit("50");
    sim::AddVolume("VolC", 'C', 60 * MiB);
    sim::AddVolume("VolD", 'D', 60 * MiB);
    fake::Fail("EwfMgrOpenProtected", 5, "VolD", 1);
    DismissWhenShown();
    EXPECT_EQ(0, Run());
    std::vector<std::string> traces = TraceTexts();
    EXPECT_NE(traces.end(),
              std::find(traces.begin(), traces.end(), "Total Ram Data Size : 62914560 bytes\n"));
}

TEST_F(WatchdogTest, ResponseRunsToItsEndWhateverFails)
{
    SetLimit("0");
    sim::AddVolume("VolC", 'C', 0);
    fake::Fail("EwfMgrGetProtectedVolumeList", 5, "", 2);
    DismissWhenShown();
    EXPECT_EQ(0, Run());
    EXPECT_EQ(1u, fake::Boxes().size());
    EXPECT_EQ("EwfMgrGetProtectedVolumeList failed LE = 5\n", TraceTexts().back());
    EXPECT_TRUE(NothingLeft());
}

} // namespace
