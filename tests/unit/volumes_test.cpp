#include "platform/ewfapi.h"
#include "tests/unit/fixture.h"
#include "volumes/volumes.h"

namespace
{

#define EWF_IMPORTED(returns, name, ...) #name,
#define EWF_READ EWF_IMPORTED
#define EWF_WRITE EWF_IMPORTED
const std::vector<std::string> EwfCalls = {
#include "platform/ewfapi_calls.h"
    "LocalFree"};
#undef EWF_IMPORTED

const std::vector<std::string> TokenCalls = {"GetCurrentProcess",     "OpenProcessToken",
                                             "LookupPrivilegeValueA", "AdjustTokenPrivileges",
                                             "ExitWindowsEx",         "CloseHandle"};

class VolumesTest : public PlatformTest
{
  protected:
    // Five volumes whose sizes tell which of them were added.
    void AddFiveVolumes()
    {
        const char letters[] = "CDEFG";
        for (int i = 0; i < 5; ++i) {
            sim::AddVolume(std::string("Vol") + letters[i], (WCHAR)letters[i], (LONGLONG)1 << i);
        }
    }
};

TEST_F(VolumesTest, SumAddsEveryVolumeInListOrderAndReleasesAll)
{
    sim::AddVolume("VolC", 'C', 3 * MiB);
    sim::AddVolume("VolD", 'D', 5);
    TotalRamDataSize = 100; // the measurement adds; zeroing is the driver's

    EXPECT_EQ(0u, SumRamDataSize());
    EXPECT_EQ(100 + 3 * MiB + 5, TotalRamDataSize);
    EXPECT_EQ((std::vector<std::string>{
                  "EwfMgrGetProtectedVolumeList() -> list of 2",
                  "EwfMgrVolumeNameListIsEmpty(VolC) -> FALSE",
                  "EwfMgrGetDriveLetterFromVolumeName(VolC) -> C",
                  "EwfMgrOpenProtected(VolC) -> handle",
                  "EwfMgrGetProtectedVolumeConfig(VolC) -> RamDataSize 3145728",
                  "LocalFree(record)",
                  "EwfMgrClose(VolC) -> TRUE",
                  "EwfMgrVolumeNameEntryPop(VolC)",
                  "EwfMgrVolumeNameListIsEmpty(VolD) -> FALSE",
                  "EwfMgrGetDriveLetterFromVolumeName(VolD) -> D",
                  "EwfMgrOpenProtected(VolD) -> handle",
                  "EwfMgrGetProtectedVolumeConfig(VolD) -> RamDataSize 5",
                  "LocalFree(record)",
                  "EwfMgrClose(VolD) -> TRUE",
                  "EwfMgrVolumeNameEntryPop(VolD)",
                  "EwfMgrVolumeNameListIsEmpty() -> TRUE",
                  "EwfMgrVolumeNameListDelete()",
              }),
              fake::CallTexts(EwfCalls));
    EXPECT_EQ((std::vector<std::string>{"C: = VolC\n", "D: = VolD\n"}), TraceTexts());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, SumOfNoVolumesIsNothing)
{
    EXPECT_EQ(0u, SumRamDataSize());
    EXPECT_EQ(0, TotalRamDataSize);
    EXPECT_EQ((std::vector<std::string>{"EwfMgrGetProtectedVolumeList() -> list of 0",
                                        "EwfMgrVolumeNameListIsEmpty() -> TRUE",
                                        "EwfMgrVolumeNameListDelete()"}),
              fake::CallTexts());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, SumWrapsInsteadOfOverflowing)
{
    sim::AddVolume("VolC", 'C', INT64_MAX);
    sim::AddVolume("VolD", 'D', 2);
    EXPECT_EQ(0u, SumRamDataSize());
    EXPECT_EQ(INT64_MIN + 1, TotalRamDataSize);
}

struct Injected {
    const char *api;
    const char *volume;
    DWORD error;
};

struct SumFailure {
    std::vector<Injected> failures;  // each on its volume's first such call
    DWORD result;                    // the first failure's
    LONGLONG added;                  // VolC..VolG are 1, 2, 4, 8, 16
    std::vector<std::string> failed; // the failure traces, in order
    const char *labelOfVolE;
    size_t closes;               // every volume opened is closed, a failed close once more
    const char *closedInCleanUp; // after the list's deletion
};

TEST_F(VolumesTest, SumSkipsAVolumeItCannotReadAndGoesOn)
{
    const SumFailure cases[] = {
        {{{"EwfMgrGetDriveLetterFromVolumeName", "VolE", 2}}, 0, 31, {}, "?: = VolE\n", 5, nullptr},
        {{{"EwfMgrOpenProtected", "VolE", 32}},
         32,
         27,
         {"EwfMgrOpenProtected failed LE = 32\n"},
         "E: = VolE\n",
         4,
         nullptr},
        {{{"EwfMgrGetProtectedVolumeConfig", "VolE", 1117}},
         1117,
         27,
         {"EwfMgrGetProtectedVolumeConfig failed LE = 1117\n"},
         "E: = VolE\n",
         5,
         nullptr},
        {{{"EwfMgrClose", "VolE", 6}},
         6,
         31,
         {"EwfMgrClose failed LE = 6\n"},
         "E: = VolE\n",
         6,
         "VolE"},
        // A first failure without a code is still the first.
        {{{"EwfMgrOpenProtected", "VolC", 0}, {"EwfMgrGetProtectedVolumeConfig", "VolE", 1117}},
         0,
         26,
         {"EwfMgrOpenProtected failed LE = 0\n",
          "EwfMgrGetProtectedVolumeConfig failed LE = 1117\n"},
         "E: = VolE\n",
         4,
         nullptr},
        // D:'s handle is closed again when F:'s takes its place.
        {{{"EwfMgrClose", "VolD", 6}, {"EwfMgrClose", "VolF", 9}},
         6,
         31,
         {"EwfMgrClose failed LE = 6\n", "EwfMgrClose failed LE = 9\n"},
         "E: = VolE\n",
         7,
         "VolF"},
    };
    for (const SumFailure &c : cases) {
        SCOPED_TRACE(std::string(c.failures[0].api) + " fails on " + c.failures[0].volume);
        fake::Reset();
        TotalRamDataSize = 0;
        AddFiveVolumes();
        for (const Injected &failure : c.failures) {
            fake::Fail(failure.api, failure.error, failure.volume, 1);
        }

        EXPECT_EQ(c.result, SumRamDataSize());
        EXPECT_EQ(c.added, TotalRamDataSize);
        std::vector<std::string> failed;
        std::vector<std::string> labels;
        for (const std::string &trace : TraceTexts()) {
            (trace.find(" failed ") != std::string::npos ? failed : labels).push_back(trace);
        }
        EXPECT_EQ(c.failed, failed);
        ASSERT_EQ(5u, labels.size());
        EXPECT_EQ(c.labelOfVolE, labels[2]);
        EXPECT_EQ(5u, fake::CallTexts({"EwfMgrOpenProtected"}).size()) << "every volume is tried";
        EXPECT_EQ(c.closes, fake::CallTexts({"EwfMgrClose"}).size());
        std::vector<std::string> expectedTail = {"EwfMgrVolumeNameListDelete()"};
        if (c.closedInCleanUp != nullptr) {
            expectedTail.push_back(std::string("EwfMgrClose(") + c.closedInCleanUp + ") -> TRUE");
        }
        EXPECT_EQ(expectedTail, CallsFrom("EwfMgrVolumeNameListDelete", EwfCalls));
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(VolumesTest, SumReportsAListThatCannotBeHad)
{
    for (DWORD error : {5u, 0u}) {
        fake::Reset();
        TotalRamDataSize = 0;
        AddFiveVolumes();
        fake::Fail("EwfMgrGetProtectedVolumeList", error);
        EXPECT_EQ(error, SumRamDataSize());
        EXPECT_EQ(0, TotalRamDataSize);
        EXPECT_EQ((std::vector<std::string>{"EwfMgrGetProtectedVolumeList() -> null, LE " +
                                            std::to_string(error)}),
                  fake::CallTexts());
        EXPECT_EQ((std::vector<std::string>{
                      "EwfMgrGetProtectedVolumeList failed LE = " + std::to_string(error) + "\n"}),
                  TraceTexts());
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(VolumesTest, CommitWritesTheOverlayBackAndSwitchesProtectionOff)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 7 * MiB);
    EXPECT_EQ(0u, CommitAndDisableVolume(volume.name.c_str()));
    EXPECT_EQ((std::vector<std::string>{"EwfMgrOpenProtected(VolC) -> handle",
                                        "EwfMgrCommitAndDisableLive(VolC) -> TRUE",
                                        "EwfMgrClose(VolC) -> TRUE"}),
              fake::CallTexts());
    EXPECT_EQ((std::vector<std::string>{"EwfMgrCommit succeeded\n"}), TraceTexts());
    EXPECT_EQ(EWF_DISABLED, volume.state);
    EXPECT_EQ(7 * MiB, volume.committedBytes);
    EXPECT_EQ(0, volume.ramDataSize);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, EnableAsksForProtectionAtTheNextBoot)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 0);
    volume.state = EWF_DISABLED;
    EXPECT_EQ(0u, EnableVolume(volume.name.c_str(), FALSE));
    EXPECT_EQ((std::vector<std::string>{"EwfMgrOpenProtected(VolC) -> handle",
                                        "EwfMgrEnable(VolC) -> TRUE", "EwfMgrClose(VolC) -> TRUE"}),
              fake::CallTexts());
    EXPECT_EQ((std::vector<std::string>{"EwfMgrEnable succeeded\n"}), TraceTexts());
    EXPECT_EQ(EWF_ENABLE, volume.bootCommand);
    EXPECT_TRUE(NothingLeft());
}

struct SingleFailure {
    const char *api;
    DWORD error;
    bool commit; // else enable
    std::vector<std::string> calls;
    const char *trace;
};

TEST_F(VolumesTest, SingleVolumeFailuresReturnTheCodeAndCloseWhatWasOpened)
{
    const SingleFailure cases[] = {
        {"EwfMgrOpenProtected",
         5,
         true,
         {"EwfMgrOpenProtected(VolC) -> INVALID, LE 5"},
         "EwfMgrOpenProtected failed LE = 5\n"},
        {"EwfMgrCommitAndDisableLive",
         50,
         true,
         {"EwfMgrOpenProtected(VolC) -> handle", "EwfMgrCommitAndDisableLive(VolC) -> FALSE, LE 50",
          "EwfMgrClose(VolC) -> TRUE"},
         "EwfMgrCommit failed LE = 50\n"},
        {"EwfMgrCommitAndDisableLive",
         0,
         true,
         {"EwfMgrOpenProtected(VolC) -> handle", "EwfMgrCommitAndDisableLive(VolC) -> FALSE, LE 0",
          "EwfMgrClose(VolC) -> TRUE"},
         "EwfMgrCommit failed LE = 0\n"},
        {"EwfMgrOpenProtected",
         3,
         false,
         {"EwfMgrOpenProtected(VolC) -> INVALID, LE 3"},
         "EwfMgrOpenProtected failed LE = 3\n"},
        {"EwfMgrEnable",
         87,
         false,
         {"EwfMgrOpenProtected(VolC) -> handle", "EwfMgrEnable(VolC) -> FALSE, LE 87",
          "EwfMgrClose(VolC) -> TRUE"},
         "EwfMgrEnable failed LE = 87\n"},
    };
    for (const SingleFailure &c : cases) {
        SCOPED_TRACE(std::string(c.api) + (c.commit ? " in commit" : " in enable"));
        fake::Reset();
        sim::Volume &volume = sim::AddVolume("VolC", 'C', MiB);
        if (!c.commit) {
            volume.state = EWF_DISABLED;
        }
        fake::Fail(c.api, c.error);
        LPCWSTR name = volume.name.c_str();
        EXPECT_EQ(c.error, c.commit ? CommitAndDisableVolume(name) : EnableVolume(name, TRUE));
        EXPECT_EQ(c.calls, fake::CallTexts());
        EXPECT_EQ(std::vector<std::string>{c.trace}, TraceTexts());
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(VolumesTest, AFailedCloseAfterSuccessIsNotAFailure)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', MiB);
    fake::Fail("EwfMgrClose", 6);
    EXPECT_EQ(0u, CommitAndDisableVolume(volume.name.c_str()));
    EXPECT_EQ(0u, EnableVolume(volume.name.c_str(), FALSE));
    EXPECT_EQ(EWF_ENABLE, volume.bootCommand);
}

TEST_F(VolumesTest, RestartComesAfterTheEnableAndBeforeTheClose)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 0);
    volume.state = EWF_DISABLED;
    EXPECT_EQ(0u, EnableVolume(volume.name.c_str(), TRUE));
    EXPECT_EQ((std::vector<std::string>{
                  "EwfMgrOpenProtected(VolC) -> handle",
                  "EwfMgrEnable(VolC) -> TRUE",
                  "GetCurrentProcess() -> process",
                  "OpenProcessToken(process, 0x28) -> token",
                  "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\") -> TRUE",
                  "AdjustTokenPrivileges(token, FALSE, 1 x {19:0, 0x2}, 0, null, null) -> TRUE",
                  "ExitWindowsEx(0x6, 0) -> TRUE",
                  "CloseHandle(token) -> TRUE",
                  "EwfMgrClose(VolC) -> TRUE",
              }),
              fake::CallTexts());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, AFailedRestartLeavesTheEnableSucceeded)
{
    sim::Volume &volume = sim::AddVolume("VolC", 'C', 0);
    volume.state = EWF_DISABLED;
    fake::Fail("ExitWindowsEx", 5);
    EXPECT_EQ(0u, EnableVolume(volume.name.c_str(), TRUE));
    EXPECT_EQ("EwfMgrClose(VolC) -> TRUE", fake::CallTexts().back());
    EXPECT_TRUE(NothingLeft());
}

struct RestartCase {
    const char *failing; // null: nothing fails
    DWORD error;
    size_t callsMade; // of GetCurrentProcess..ExitWindowsEx
    bool tokenClosed;
    bool closeFails; // the token's close fails too, with 6
};

TEST_F(VolumesTest, RestartReturnsTheFirstFailureAndAlwaysClosesTheToken)
{
    const RestartCase cases[] = {
        {nullptr, 0, 5, true, false},
        {"OpenProcessToken", 5, 2, false, false},
        {"LookupPrivilegeValueA", 1313, 3, true, false},
        {"AdjustTokenPrivileges", 6, 4, true, false},
        {"ExitWindowsEx", 1314, 5, true, false},
        {"ExitWindowsEx", 0, 5, true, false},
        // The close comes after the failure: its own code must not replace
        // the failure's, and its result is not looked at.
        {"LookupPrivilegeValueA", 1313, 3, true, true},
        {"ExitWindowsEx", 1314, 5, true, true},
        {nullptr, 0, 5, true, true},
    };
    for (const RestartCase &c : cases) {
        SCOPED_TRACE(std::string(c.failing ? c.failing : "no failure") +
                     (c.closeFails ? ", close fails" : ""));
        fake::Reset();
        if (c.failing != nullptr) {
            fake::Fail(c.failing, c.error);
        }
        if (c.closeFails) {
            fake::Fail("CloseHandle", 6);
        }
        EXPECT_EQ(c.error, RestartSystem());
        std::vector<std::string> calls = fake::CallTexts(TokenCalls);
        size_t closes = !calls.empty() && calls.back().rfind("CloseHandle(token)", 0) == 0;
        EXPECT_EQ(c.callsMade, calls.size() - closes);
        EXPECT_EQ(c.tokenClosed, closes == 1);
        EXPECT_TRUE(TraceTexts().empty()) << "the restart traces nothing";
        if (c.closeFails) {
            EXPECT_EQ(1u, fake::Left().tokens) << "the failed close is not tried again";
        } else {
            EXPECT_TRUE(NothingLeft());
        }
    }
}

TEST_F(VolumesTest, PassCommitsThenEnablesEveryVolumeInOrder)
{
    sim::AddVolume("VolC", 'C', 3 * MiB);
    sim::AddVolume("VolD", 'D', 4 * MiB);
    EXPECT_EQ(0u, CommitAndReenableAll());
    EXPECT_EQ((std::vector<std::string>{
                  "EwfMgrCommitAndDisableLive(VolC) -> TRUE",
                  "EwfMgrEnable(VolC) -> TRUE",
                  "EwfMgrCommitAndDisableLive(VolD) -> TRUE",
                  "EwfMgrEnable(VolD) -> TRUE",
              }),
              fake::CallTexts({"EwfMgrCommitAndDisableLive", "EwfMgrEnable"}));
    for (const sim::Volume &volume : sim::TheWorld().volumes) {
        EXPECT_EQ(0, volume.ramDataSize);
        EXPECT_EQ(EWF_ENABLE, volume.bootCommand);
    }
    EXPECT_EQ(7 * MiB, sim::TheWorld().volumes[0].committedBytes +
                           sim::TheWorld().volumes[1].committedBytes);
    EXPECT_TRUE(fake::CallTexts({"GetCurrentProcess"}).empty()) << "the pass never restarts";
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, PassGoesOnPastAVolumeWhoseCommitFails)
{
    sim::AddVolume("VolC", 'C', MiB);
    sim::AddVolume("VolD", 'D', MiB);
    sim::AddVolume("VolE", 'E', MiB);
    fake::Fail("EwfMgrCommitAndDisableLive", 50, "VolD");
    EXPECT_EQ(0u, CommitAndReenableAll());
    EXPECT_EQ((std::vector<std::string>{
                  "EwfMgrCommitAndDisableLive(VolC) -> TRUE",
                  "EwfMgrEnable(VolC) -> TRUE",
                  "EwfMgrCommitAndDisableLive(VolD) -> FALSE, LE 50",
                  "EwfMgrEnable(VolD) -> FALSE, LE 1",
                  "EwfMgrCommitAndDisableLive(VolE) -> TRUE",
                  "EwfMgrEnable(VolE) -> TRUE",
              }),
              fake::CallTexts({"EwfMgrCommitAndDisableLive", "EwfMgrEnable"}));
    EXPECT_EQ(0, sim::TheWorld().volumes[2].ramDataSize);
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, PassLeavesAVolumeWhoseProtectionIsOffAsItIs)
{
    // Every mix of three volumes, each protected or deliberately not.
    for (unsigned off = 0; off < 8; ++off) {
        SCOPED_TRACE("protection off on volumes " + std::to_string(off) + " (bit 0 = C)");
        fake::Reset();
        const char letters[] = "CDE";
        std::vector<std::string> expected;
        std::vector<std::string> traces;
        for (unsigned i = 0; i < 3; ++i) {
            std::string name = std::string("Vol") + letters[i];
            sim::Volume &volume = sim::AddVolume(name, (WCHAR)letters[i], MiB << i);
            // RAM-REG, Standard 7's usual mode, is protected as RAM is.
            volume.type = i == 1 ? EWF_RAM_REG : EWF_RAM;
            if ((off >> i & 1) != 0) {
                volume.state = EWF_DISABLED;
                volume.bootCommand = EWF_NO_CMD;
                traces.push_back(name + ": protection is off, left as it is\n");
            } else {
                expected.push_back("EwfMgrCommitAndDisableLive(" + name + ") -> TRUE");
                expected.push_back("EwfMgrEnable(" + name + ") -> TRUE");
                traces.push_back("EwfMgrCommit succeeded\n");
                traces.push_back("EwfMgrEnable succeeded\n");
            }
        }
        EXPECT_EQ(0u, CommitAndReenableAll());
        EXPECT_EQ(expected, fake::CallTexts({"EwfMgrCommitAndDisableLive", "EwfMgrEnable"}));
        EXPECT_EQ(traces, TraceTexts());
        for (unsigned i = 0; i < 3; ++i) {
            const sim::Volume &volume = sim::TheWorld().volumes[i];
            bool left = (off >> i & 1) != 0;
            EXPECT_EQ(left ? EWF_NO_CMD : EWF_ENABLE, volume.bootCommand) << letters[i];
            EXPECT_EQ(left ? (MiB << i) : 0, volume.ramDataSize) << letters[i];
            EXPECT_EQ(left ? 0u : 1u, volume.commits) << letters[i];
            EXPECT_EQ(left ? 0u : 1u, volume.enables) << letters[i];
        }
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(VolumesTest, PassReadsEachVolumesStateJustBeforeItsWriteBack)
{
    sim::AddVolume("VolC", 'C', MiB);
    sim::AddVolume("VolD", 'D', MiB).state = EWF_DISABLED;
    EXPECT_EQ(0u, CommitAndReenableAll());
    EXPECT_EQ((std::vector<std::string>{
                  "EwfMgrOpenProtected(VolC) -> handle",
                  "EwfMgrGetProtectedVolumeConfig(VolC) -> RamDataSize 1048576",
                  "EwfMgrClose(VolC) -> TRUE",
                  "EwfMgrOpenProtected(VolC) -> handle",
                  "EwfMgrCommitAndDisableLive(VolC) -> TRUE",
                  "EwfMgrClose(VolC) -> TRUE",
                  "EwfMgrOpenProtected(VolC) -> handle",
                  "EwfMgrEnable(VolC) -> TRUE",
                  "EwfMgrClose(VolC) -> TRUE",
                  "EwfMgrOpenProtected(VolD) -> handle",
                  "EwfMgrGetProtectedVolumeConfig(VolD) -> RamDataSize 1048576",
                  "EwfMgrClose(VolD) -> TRUE",
              }),
              fake::CallTexts({"EwfMgrOpenProtected", "EwfMgrGetProtectedVolumeConfig",
                               "EwfMgrClose", "EwfMgrCommitAndDisableLive", "EwfMgrEnable"}));
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, PassWritesBackAVolumeWhoseStateCannotBeRead)
{
    // A failed read must never leave a protected overlay filling up, so
    // such a volume is treated as protected, even one that is not.
    struct Case {
        const char *api;
        EWF_STATE state;
        std::vector<std::string> calls;
        std::vector<std::string> traces;
    };
    const Case cases[] = {
        {"EwfMgrOpenProtected",
         EWF_ENABLED,
         {"EwfMgrCommitAndDisableLive(VolC) -> TRUE", "EwfMgrEnable(VolC) -> TRUE"},
         {"EwfMgrOpenProtected failed LE = 5\n", "EwfMgrCommit succeeded\n",
          "EwfMgrEnable succeeded\n"}},
        {"EwfMgrGetProtectedVolumeConfig",
         EWF_ENABLED,
         {"EwfMgrCommitAndDisableLive(VolC) -> TRUE", "EwfMgrEnable(VolC) -> TRUE"},
         {"EwfMgrGetProtectedVolumeConfig failed LE = 5\n", "EwfMgrCommit succeeded\n",
          "EwfMgrEnable succeeded\n"}},
        {"EwfMgrGetProtectedVolumeConfig",
         EWF_DISABLED,
         {"EwfMgrCommitAndDisableLive(VolC) -> FALSE, LE 1", "EwfMgrEnable(VolC) -> TRUE"},
         {"EwfMgrGetProtectedVolumeConfig failed LE = 5\n", "EwfMgrCommit failed LE = 1\n",
          "EwfMgrEnable succeeded\n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.api) + (c.state == EWF_DISABLED ? ", disabled" : ""));
        fake::Reset();
        sim::AddVolume("VolC", 'C', MiB).state = c.state;
        sim::AddVolume("VolD", 'D', MiB).state = EWF_DISABLED;
        fake::Fail(c.api, 5, "VolC", 1);
        EXPECT_EQ(0u, CommitAndReenableAll());
        std::vector<std::string> calls = c.calls;
        EXPECT_EQ(calls, fake::CallTexts({"EwfMgrCommitAndDisableLive", "EwfMgrEnable"}));
        std::vector<std::string> traces = c.traces;
        traces.push_back("VolD: protection is off, left as it is\n");
        EXPECT_EQ(traces, TraceTexts());
        EXPECT_EQ(MiB, sim::TheWorld().volumes[1].ramDataSize) << "D: is left alone";
        EXPECT_TRUE(NothingLeft());
    }
}

TEST_F(VolumesTest, PassOverNoVolumesTouchesNone)
{
    EXPECT_EQ(0u, CommitAndReenableAll());
    EXPECT_EQ((std::vector<std::string>{"EwfMgrGetProtectedVolumeList() -> list of 0",
                                        "EwfMgrVolumeNameListIsEmpty() -> TRUE",
                                        "EwfMgrVolumeNameListDelete()"}),
              fake::CallTexts());
    EXPECT_TRUE(NothingLeft());
}

TEST_F(VolumesTest, PassReportsAListThatCannotBeHad)
{
    sim::AddVolume("VolC", 'C', MiB);
    fake::Fail("EwfMgrGetProtectedVolumeList", 1450);
    EXPECT_EQ(1450u, CommitAndReenableAll());
    EXPECT_EQ(1u, fake::CallTexts().size());
    EXPECT_EQ((std::vector<std::string>{"EwfMgrGetProtectedVolumeList failed LE = 1450\n"}),
              TraceTexts());
    EXPECT_EQ(MiB, sim::TheWorld().volumes[0].ramDataSize);
}

} // namespace
