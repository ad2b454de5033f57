// Whole reports, byte for byte, on machines that each bring out many lines:
// the one place the full wording is pinned. After a deliberate rewording,
// write them anew with: TOVRIN_WRITE_GOLDEN=1 build/host/tests/unit/check_tests
// --gtest_filter='*GoldenReports*', and read the diff.
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/unit/check_fixture.h"

namespace
{

struct GoldenCase {
    const char *name; // of its file under tests/unit/golden
    std::function<void()> arrange;
    const char *commandLine;
};

std::string Read(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(CheckTest, GoldenReports)
{
    const char *check = "tovrin-check.exe";
    const GoldenCase cases[] = {
        {"installed-xp", [] {}, check},
        {"not-running-no-profile", [this] { Install(nullptr, false); }, check},
        {"seven-run-value-too-high-a-limit",
         [this] {
             Install("[TOVRIN]\r\nlimit=4096\r\n");
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 0).state = EWF_DISABLED;
             sim::AddVolume("\\Device\\HarddiskVolume3", 'E', 300 * MiB).horm = true;
         },
         check},
        // The kit's own task as the kit packs it (UTF-16LE with its mark, CRLF)
        // and as Task Scheduler keeps it once registered.
        {"seven-shipped-task",
         [] {
             std::string crlf;
             for (char ch : Read(TOVRIN_SOURCE_DIR "/windows/tovrin-task.xml")) {
                 crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
             }
             fake::SetVersion(6, 1, 7601, "Service Pack 1");
             fake::SetRegistryValue(RunKey, "Tovrin", 1, "C:\\Vendor\\app.exe");
             fake::AddFile("C:\\WINDOWS\\system32\\Tasks\\Tovrin", Utf16(crlf));
         },
         check},
        {"x64-watchdog-on-32-bit", [] { fake::AddFile(WatchdogPath, PeHeader(0x8664)); }, check},
        {"watchdog-missing", [] {}, "tovrin-check.exe C:\\Elsewhere\\tovrin.exe"},
        {"usage", [] {}, "tovrin-check.exe /x"},
        // The live view: C: grows 1 MiB a poll, and Ctrl+C after the third.
        {"watch", [] { GrowEachPoll(MiB, 3, CTRL_C_EVENT); }, "tovrin-check.exe /watch"},
    };
    const bool write = std::getenv("TOVRIN_WRITE_GOLDEN") != nullptr;
    for (const GoldenCase &c : cases) {
        SCOPED_TRACE(c.name);
        Install();
        c.arrange();
        int code = Run(c.commandLine);
        EXPECT_EQ(std::vector<std::string>{}, StateChangingCalls());
        EXPECT_TRUE(NothingLeft());
        // Kept with LF endings; the CRLF is tested apart.
        std::string report =
            output + fake::ErrorOutput() + "exit code " + std::to_string(code) + "\n";
        std::string lf;
        for (char ch : report) {
            if (ch != '\r') {
                lf += ch;
            }
        }
        std::string path = std::string(TOVRIN_SOURCE_DIR "/tests/unit/golden/") + c.name + ".txt";
        if (write) {
            std::ofstream(path, std::ios::binary) << lf;
        }
        EXPECT_EQ(Read(path), lf);
    }
}

} // namespace
