#include "tests/unit/check_fixture.h"

#include <algorithm>
#include <memory>
#include <sstream>

const char DefaultProfile[] = "; Tovrin\r\n[TOVRIN]\r\nlimit=128\r\n";
const std::string WatchdogPath = "C:\\Tovrin\\tovrin.exe";
const std::string ProfilePath = "C:\\Tovrin\\tovrin.ini";
const std::string SystemLibrary = "C:\\WINDOWS\\system32\\EWFAPI.dll";
const std::string RunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string Utf16(const std::string &text, bool mark)
{
    std::string out = mark ? "\xFF\xFE" : "";
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string PeHeader(unsigned machine)
{
    return fake::PeImage((WORD)machine, {});
}

void OnlyAdministrators(fake::File &file)
{
    file.owner = "S-1-5-32-544";
    file.aces = {{"S-1-5-32-544", 0x1F01FF}, {"S-1-5-18", 0x1F01FF}, {"S-1-5-32-545", 0x1200A9}};
}

void RootAsWindowsLeavesIt(fake::File &file)
{
    file.owner = "S-1-5-18";
    file.aces = {{"S-1-5-32-544", 0x1F01FF, 0x03},
                 {"S-1-5-18", 0x1F01FF, 0x03},
                 {"S-1-5-32-545", 0x1200A9, 0x03},
                 {"S-1-5-11", 0x4},
                 {"S-1-5-11", 0x1301BF, 0x0B}};
}

void CheckTest::SetUp()
{
    Install();
}

void CheckTest::TearDown()
{
    fake::Reset();
}

void CheckTest::Install(const char *profile, bool running)
{
    fake::Reset();
    TotalRamDataSize = 0;
    fake::SetModulePath("C:\\Tovrin\\tovrin-check.exe");
    RootAsWindowsLeavesIt(fake::AddFolder("C:\\"));
    OnlyAdministrators(fake::AddFolder("C:\\Tovrin"));
    OnlyAdministrators(fake::AddFile(WatchdogPath, PeHeader(0x14C)));
    OnlyAdministrators(fake::AddFile("C:\\Tovrin\\tovrin-check.exe", PeHeader(0x14C)));
    if (profile != nullptr) {
        fake::SetProfile(ProfilePath, profile);
        OnlyAdministrators(fake::AddFile(ProfilePath, profile));
    }
    fake::AddFolder("C:\\WINDOWS\\system32");
    fake::AddLibrary(SystemLibrary, fake::EwfExports());
    fake::AddLibrary("C:\\WINDOWS\\system32\\netapi32.dll",
                     {"NetUserGetLocalGroups", "NetApiBufferFree"});
    // The check is run by an administrator at the console.
    fake::AddAccount("S-1-5-21-7-7-7-500", "KIOSK", "Administrator", 1);
    fake::SetAdministrators({"S-1-5-21-7-7-7-500"});
    sim::AddVolume("\\Device\\HarddiskVolume1", 'C', 12 * MiB);
    // Started as the guide says for XP: a Run value for every user.
    fake::SetRegistryValue(RunKey, "Tovrin", 1, WatchdogPath + '\0');
    fake::AddProcess(4, "System");
    if (running) {
        fake::AddProcess(1234, "tovrin.exe");
    }
}

int CheckTest::Run(const std::string &commandLine)
{
    fake::SetCommandLine(commandLine);
    int code = CheckMain(GetCommandLineA());
    output = fake::Output();
    return code;
}

std::vector<ReportLine> CheckTest::Findings() const
{
    std::vector<ReportLine> lines;
    std::istringstream stream(output);
    std::string text;
    while (std::getline(stream, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        if (text.rfind("verdict:", 0) == 0 || text.size() < 24) {
            continue;
        }
        ReportLine line;
        line.level = text.substr(0, text.find(' '));
        // A key too long for its column is followed by one blank.
        size_t keyEnd = text.find(' ', 8);
        line.key = text.substr(8, keyEnd - 8);
        line.value = text.substr(keyEnd < 24 ? 24 : keyEnd + 1);
        lines.push_back(line);
    }
    return lines;
}

ReportLine CheckTest::Line(const std::string &key) const
{
    std::vector<ReportLine> found;
    for (const ReportLine &line : Findings()) {
        if (line.key == key) {
            found.push_back(line);
        }
    }
    EXPECT_EQ(1u, found.size()) << "lines with key " << key << " in:\n" << output;
    return found.empty() ? ReportLine() : found[0];
}

std::vector<std::string> CheckTest::Said(const std::string &key) const
{
    std::vector<std::string> lines;
    for (const ReportLine &line : Findings()) {
        if (line.key == key || line.key.rfind(key + ".", 0) == 0) {
            lines.push_back(line.Text());
        }
    }
    return lines;
}

::testing::AssertionResult CheckTest::Reads(const std::string &expected) const
{
    size_t keyAt = expected.find(' ') + 1;
    std::string text = Line(expected.substr(keyAt, expected.find(' ', keyAt) - keyAt)).Text();
    if (Says(text, expected)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << expected << "\n     got " << text;
}

void GrowEachPoll(LONGLONG perPoll, unsigned polls, DWORD event)
{
    auto measured = std::make_shared<unsigned>(0);
    fake::OnCall([=](const std::string &api) {
        if (api != "EwfMgrGetProtectedVolumeList") {
            return;
        }
        sim::FindVolume(sim::Widen("\\Device\\HarddiskVolume1"))->ramDataSize +=
            *measured == 0 ? 0 : perPoll;
        if (++*measured == polls) {
            EXPECT_TRUE(fake::PressCtrl(event));
        }
    });
}

bool Says(const std::string &line, const std::string &wanted)
{
    bool ends = !wanted.empty() && wanted.back() == '$';
    std::string expected = ends ? wanted.substr(0, wanted.size() - 1) : wanted;
    size_t end = expected.find(" | ");
    std::string head = expected.substr(0, end);
    // The level and the key whole, then the value's start.
    size_t keyEnd = std::min(line.find(' ', line.find(' ') + 1), line.size());
    if (line.rfind(head, 0) != 0 || head.size() < keyEnd ||
        (head.size() > keyEnd && head[keyEnd] != ' ')) {
        return false;
    }
    size_t at = head.size();
    while (end != std::string::npos) {
        size_t start = end + 3;
        end = expected.find(" | ", start);
        at = line.find(expected.substr(start, end - start), at);
        if (at == std::string::npos) {
            return false;
        }
        at += (end == std::string::npos ? expected.size() : end) - start;
    }
    return !ends || at == line.size();
}

::testing::AssertionResult SayAll(const std::vector<std::string> &expected,
                                  const std::vector<std::string> &lines)
{
    bool same = expected.size() == lines.size();
    for (size_t i = 0; same && i < lines.size(); i++) {
        same = Says(lines[i], expected[i]);
    }
    if (same) {
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "expected:";
    for (const std::string &line : expected) {
        failure << "\n  " << line;
    }
    failure << "\ngot:";
    for (const std::string &line : lines) {
        failure << "\n  " << line;
    }
    return failure;
}

bool CheckTest::Has(const std::string &key) const
{
    for (const ReportLine &line : Findings()) {
        if (line.key == key) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> CheckTest::NotOk() const
{
    std::vector<std::string> lines;
    for (const ReportLine &line : Findings()) {
        if (line.level != "ok") {
            lines.push_back(line.level + " " + line.key);
        }
    }
    return lines;
}

std::string CheckTest::VerdictLine() const
{
    size_t at = output.find("verdict: ");
    return at == std::string::npos ? "" : output.substr(at, output.find('\r', at) - at);
}

std::vector<std::string> CheckTest::StateChangingCalls() const
{
#define EWF_WRITE(returns, name, ...) #name,
    return fake::CallTexts({
#include "platform/ewfapi_calls.h"
        "ExitWindowsEx", "AdjustTokenPrivileges"});
}
