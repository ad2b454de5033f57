// The readers of task files, .job files and shortcuts against malformed
// input, one table a reader: each case either reads or gives its reason,
// never reads outside what it is given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "check/startfiles.h"
#include "tests/unit/check_fixture.h"

namespace
{

const std::string Good = "<Task><Settings><ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"
                         "</Settings><Actions><Exec><Command>&quot;C:\\T\\tovrin.exe&quot; -a"
                         "</Command></Exec></Actions></Task>";

struct TaskRead {
    const char *what;
    std::string bytes;
    const char *reason; // null when it reads
};

// A copy of exactly the bytes given, so that a read past them is the
// sanitizer's finding.
const char *ReadTask(const std::string &bytes, TaskFacts *facts)
{
    std::vector<BYTE> copy(bytes.begin(), bytes.end());
    static char Text[TASK_FILE_MAX + 1];
    DWORD length = 0;
    return ReadTaskFile(copy.data(), (DWORD)copy.size(), facts, Text, &length);
}

} // namespace

TEST(StartFiles, TaskFileReadsOrSaysWhy)
{
    const TaskRead cases[] = {
        {"as Task Scheduler writes it", Utf16(Good), nullptr},
        {"empty", "", "not UTF-16 with a byte-order mark"},
        {"UTF-8", Good, "not UTF-16 with a byte-order mark"},
        {"UTF-16 without its mark", Utf16(Good, false), "not UTF-16 with a byte-order mark"},
        {"an odd byte at the end", Utf16(Good) + "<", nullptr},
        {"cut inside a tag", Utf16(Good.substr(0, Good.size() - 3)), "cut short inside a tag"},
        {"cut before the end", Utf16(Good.substr(0, Good.size() - 7)), "cut short before </Task>"},
        {"cut inside a comment", Utf16("<Task><!-- <a>"), "cut short inside a tag"},
        {"no element", Utf16("just text"), "no element at all"},
        {"another root", Utf16("<Job></Job>"), "not a task definition"},
        {"closed out of order", Utf16("<Task><A><B></A></B></Task>"), "unbalanced elements"},
        {"closed and never opened", Utf16("<Task></A></Task>"), "unbalanced elements"},
        {"a nameless element", Utf16("<Task>< ></Task>"), "an element without a name"},
        {"twelve levels", Utf16("<Task><a><b><c><d><e><f><g><h><i><j><k><l>"),
         "nested deeper than any task"},
        {"too large", Utf16(Good) + std::string(TASK_FILE_MAX, ' '), "too large"},
    };
    for (const TaskRead &c : cases) {
        TaskFacts facts;
        const char *reason = ReadTask(c.bytes, &facts);
        EXPECT_STREQ(c.reason, reason) << c.what;
    }
    TaskFacts facts;
    ASSERT_EQ(nullptr, ReadTask(Utf16(Good), &facts));
    EXPECT_STREQ("C:\\T\\tovrin.exe", facts.command);
    EXPECT_EQ(0u, facts.limit);
    // Left out, the settings are Task Scheduler's defaults.
    EXPECT_TRUE(facts.enabled && facts.noBatteryStart && facts.batteryStop && !facts.highest);
    ASSERT_EQ(nullptr, ReadTask(Utf16("<Task/>"), &facts));
    EXPECT_EQ(72u * 3600, facts.limit);
    EXPECT_STREQ("absent, the default PT72H", facts.limitText);
}

TEST(StartFiles, DurationsAsTaskSchedulerWritesThem)
{
    const struct {
        const char *text;
        bool reads;
        ULONGLONG seconds;
    } cases[] = {
        {"PT0S", true, 0},           {"PT72H", true, 259200}, {"P3D", true, 259200},
        {"P1DT2H3M4S", true, 93784}, {"P1M", true, 2592000},  {"P1Y", true, 31536000},
        {"PT30M", true, 1800},       {"P", false, 0},         {"PT", false, 0},
        {"72H", false, 0},           {"P1H", false, 0},       {"PT1D", false, 0},
        {"PT1.5S", false, 0},        {"PTT1H", false, 0},     {"PT1H2H", false, 0},
        {"PT9999999999S", false, 0}, {"", false, 0},
    };
    for (const auto &c : cases) {
        ULONGLONG seconds = 0;
        EXPECT_EQ(c.reads, ReadDuration(c.text, &seconds) != FALSE) << c.text;
        if (c.reads) {
            EXPECT_EQ(c.seconds, seconds) << c.text;
        }
    }
}

namespace
{

void Put16(std::string &out, size_t at, unsigned value)
{
    out[at] = (char)value;
    out[at + 1] = (char)(value >> 8);
}

// A .job whose application name has `count` characters said, `name` given.
std::string Job(unsigned count, const std::string &name, unsigned triggers = 0)
{
    std::string job(0x46, '\0');
    Put16(job, 20, 0x46);
    job += std::string(2, '\0') + Utf16(name, false);
    Put16(job, 0x46, count);
    Put16(job, 22, (unsigned)job.size());
    job += std::string(2, '\0');
    Put16(job, job.size() - 2, triggers);
    return job;
}

} // namespace

TEST(StartFiles, JobFileReadsOrSaysWhy)
{
    const struct {
        const char *what;
        std::string bytes;
        const char *reason;
    } cases[] = {
        {"whole", Job(4, std::string("a.e\0", 4)), nullptr},
        {"no terminator", Job(3, "a.e"), nullptr},
        {"empty", "", "cut short"},
        {"the fixed part only", std::string(0x48, '\0'),
         "its application name lies outside the file"},
        {"a name past the end", Job(200, "a.e"), "its application name runs past the file"},
        {"a name longer than a path", Job(300, std::string(300, 'a')),
         "its application name runs past the file"},
        {"triggers past the end", Job(3, "a.e", 2), "more triggers than the file holds"},
    };
    for (const auto &c : cases) {
        std::vector<BYTE> copy(c.bytes.begin(), c.bytes.end());
        JobFacts facts;
        const char *reason = ReadJobFile(copy.data(), (DWORD)copy.size(), &facts);
        EXPECT_STREQ(c.reason, reason) << c.what;
        if (reason == nullptr) {
            EXPECT_STREQ("a.e", facts.application) << c.what;
        }
    }
}

TEST(StartFiles, ShortcutReadsOrSaysWhy)
{
    std::string link(0x4C, '\0');
    link[0] = 0x4C;
    link[0x14] = 0x2; // LinkInfo, no item list
    std::string info(28, '\0');
    info[0] = 28 + 9;
    info[8] = 1;
    info[16] = 28;
    info[24] = 28 + 8;
    const std::string whole = link + info + "C:\\a.exe" + std::string(1, '\0');
    const struct {
        const char *what;
        std::string bytes;
        const char *reason;
    } cases[] = {
        {"whole", whole, nullptr},
        {"empty", "", "not a shortcut"},
        {"no LinkInfo", link.substr(0, 0x14) + std::string(1, '\0') + link.substr(0x15),
         "no local path in it"},
        {"cut in its LinkInfo", whole.substr(0, 0x4C + 20), "cut short"},
        {"the path without its terminator", whole.substr(0, whole.size() - 1),
         "its link information runs past the file"},
    };
    for (const auto &c : cases) {
        std::vector<BYTE> copy(c.bytes.begin(), c.bytes.end());
        char target[MAX_PATH];
        const char *reason = ReadShortcut(copy.data(), (DWORD)copy.size(), target);
        EXPECT_STREQ(c.reason, reason) << c.what;
        EXPECT_STREQ(reason == nullptr ? "C:\\a.exe" : "", target) << c.what;
    }
}
