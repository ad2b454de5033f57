#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "check/bytes.h"
#include "check/pe.h"
#include "sim/host/fake.h"

namespace
{

// Offsets in the image fake::PeImage writes: PE header at 0x80, optional
// header at 0x98, one section whose bytes start at file offset 0x200 and RVA
// 0x1000 with the export directory at its start.
const size_t OptionalHeader = 0x98;
const size_t ExportDirectory = 0x200;
const size_t Section = OptionalHeader + 224;

void Put32(std::string &image, size_t at, unsigned long value)
{
    for (int i = 0; i < 4; ++i) {
        image[at + i] = (char)(value >> (8 * i));
    }
}

std::string Library()
{
    return fake::PeImage(0x14C, {"EwfMgrClose", "EwfMgrEnable"},
                         {{"EwfMgrOpenProtected", "evil.EwfMgrOpenProtected"}});
}

struct PeCase {
    const char *what;
    std::function<void(std::string &)> spoil;
    const char *malformed;  // what OpenExports says, or null
    ExportKind close;       // what EwfMgrClose is then
    ExportKind open;        // and EwfMgrOpenProtected
    const char *forwardsTo; // where that one forwards
};

TEST(CheckPe, ExportsAreReadFromTheFileBytesAlone)
{
    const PeCase cases[] = {
        {"whole", [](std::string &) {}, nullptr, ExportHere, ExportForwarded,
         "evil.EwfMgrOpenProtected"},
        {"64-bit",
         [](std::string &image) {
             image = fake::PeImage(0x8664, {"EwfMgrClose"},
                                   {{"EwfMgrOpenProtected", "evil.EwfMgrOpenProtected"}});
         },
         nullptr, ExportHere, ExportForwarded, "evil.EwfMgrOpenProtected"},
        {"empty", [](std::string &image) { image.clear(); }, "not a Windows library", ExportMissing,
         ExportMissing, nullptr},
        {"DOS header cut", [](std::string &image) { image.resize(0x3F); }, "not a Windows library",
         ExportMissing, ExportMissing, nullptr},
        {"no MZ", [](std::string &image) { image[0] = 'X'; }, "not a Windows library",
         ExportMissing, ExportMissing, nullptr},
        {"PE header past the end", [](std::string &image) { Put32(image, 0x3C, 0xFFFFFFF0); },
         "not a Windows library", ExportMissing, ExportMissing, nullptr},
        {"PE header cut", [](std::string &image) { image.resize(0x90); }, "not a Windows library",
         ExportMissing, ExportMissing, nullptr},
        {"optional header cut", [](std::string &image) { image.resize(0xA0); },
         "its headers are cut short", ExportMissing, ExportMissing, nullptr},
        {"unknown optional header", [](std::string &image) { image[OptionalHeader] = 7; },
         "its headers are of no known kind", ExportMissing, ExportMissing, nullptr},
        {"no data directories", [](std::string &image) { Put32(image, OptionalHeader + 92, 0); },
         "it has no export directory", ExportMissing, ExportMissing, nullptr},
        {"section table past the end",
         [](std::string &image) {
             image[0x86] = (char)0xFF;
             image[0x87] = (char)0xFF;
         },
         "its section table lies past the end of the file", ExportMissing, ExportMissing, nullptr},
        {"no export directory at all",
         [](std::string &image) { Put32(image, OptionalHeader + 96, 0); },
         "it has no export directory", ExportMissing, ExportMissing, nullptr},
        {"export directory in no section",
         [](std::string &image) { Put32(image, OptionalHeader + 96, 0x7FFF0000); },
         "its export directory lies outside the file", ExportMissing, ExportMissing, nullptr},
        {"section data past the end", [](std::string &image) { image.resize(0x210); },
         "its export directory lies outside the file", ExportMissing, ExportMissing, nullptr},
        {"name count past the file",
         [](std::string &image) { Put32(image, ExportDirectory + 24, 0x40000000); },
         "its export tables lie outside the file", ExportMissing, ExportMissing, nullptr},
        {"function count past the file",
         [](std::string &image) { Put32(image, ExportDirectory + 20, 0xFFFFFFFF); },
         "its export tables lie outside the file", ExportMissing, ExportMissing, nullptr},
        {"name array outside every section",
         [](std::string &image) { Put32(image, ExportDirectory + 32, 0x50000000); },
         "its export tables lie outside the file", ExportMissing, ExportMissing, nullptr},
        {"ordinal array wrapping",
         [](std::string &image) { Put32(image, ExportDirectory + 36, 0xFFFFFFFE); },
         "its export tables lie outside the file", ExportMissing, ExportMissing, nullptr},
        {"names point nowhere",
         [](std::string &image) {
             for (int i = 0; i < 3; ++i) {
                 Put32(image, ExportDirectory + 40 + 12 + 4 * i, 0x90000000);
             }
         },
         nullptr, ExportMissing, ExportMissing, ""},
        {"name count whose products wrap",
         [](std::string &image) { Put32(image, ExportDirectory + 24, 0x80000000); },
         "its export tables lie outside the file", ExportMissing, ExportMissing, nullptr},
        {"a function right after the export directory is no forwarder",
         [](std::string &image) {
             // The directory ends where EwfMgrOpenProtected's text begins.
             Put32(image, OptionalHeader + 100,
                   Read32((const BYTE *)image.data() + ExportDirectory + 48) - 0x1000);
         },
         nullptr, ExportHere, ExportHere, ""},
        // A directory of size 0xFFFFFFFF, its section moved to start 0x100
        // bytes lower, so that a function there lies below the directory.
        {"a function below a huge directory is no forwarder",
         [](std::string &image) {
             Put32(image, OptionalHeader + 100, 0xFFFFFFFF);
             Put32(image, Section + 12, 0xF00);
             Put32(image, Section + 16, Read32((const BYTE *)image.data() + Section + 16) + 0x100);
             Put32(image, Section + 20, 0x100);
             Put32(image, ExportDirectory + 40, 0xF80);
         },
         nullptr, ExportHere, ExportForwarded, "evil.EwfMgrOpenProtected"},
        {"a function at the start of a huge directory is a forwarder",
         [](std::string &image) {
             Put32(image, OptionalHeader + 100, 0xFFFFFFFF);
             Put32(image, ExportDirectory + 40 + 8, 0x1000);
         },
         nullptr, ExportHere, ExportForwarded, ""},
        {"ordinal one past the functions",
         [](std::string &image) { image[ExportDirectory + 40 + 24] = 3; }, nullptr, ExportMissing,
         ExportForwarded, "evil.EwfMgrOpenProtected"},
        {"forwarder cut by the end of the file",
         [](std::string &image) { image.resize(image.size() - 6); }, nullptr, ExportHere,
         ExportForwarded, "evil.EwfMgrOpenProt"},
        {"forwarder with other bytes",
         [](std::string &image) { image[image.size() - 10] = (char)0x82; }, nullptr, ExportHere,
         ExportForwarded, "evil.EwfMgrOpen?rotected"},
        {"name without a terminator at the end of the file",
         [](std::string &image) {
             image.back() = 'E';
             Put32(image, ExportDirectory + 40 + 12 + 8,
                   0x1000 + (unsigned long)(image.size() - ExportDirectory - 1));
         },
         nullptr, ExportHere, ExportMissing, ""},
    };
    for (const PeCase &c : cases) {
        SCOPED_TRACE(c.what);
        std::string image = Library();
        c.spoil(image);
        // An exact copy, so that a read past its end is caught by the sanitizers.
        std::vector<BYTE> bytes(image.begin(), image.end());
        ExportTable table;
        const char *malformed = OpenExports(bytes.data(), (DWORD)bytes.size(), &table);
        EXPECT_STREQ(c.malformed, malformed);
        if (malformed != nullptr) {
            continue;
        }
        char target[32];
        EXPECT_EQ(c.close, FindExport(&table, "EwfMgrClose", target, sizeof target));
        EXPECT_STREQ("", target);
        EXPECT_EQ(c.open, FindExport(&table, "EwfMgrOpenProtected", target, sizeof target));
        EXPECT_STREQ(c.forwardsTo, target);
        EXPECT_EQ(ExportMissing, FindExport(&table, "EwfMgrClos", target, sizeof target));
        EXPECT_EQ(ExportMissing, FindExport(&table, "EwfMgrCloseX", target, sizeof target));
    }
}

TEST(CheckPe, AForwardersTextIsCutToItsBuffer)
{
    std::string image = Library();
    std::vector<BYTE> bytes(image.begin(), image.end());
    ExportTable table;
    ASSERT_EQ(nullptr, OpenExports(bytes.data(), (DWORD)bytes.size(), &table));
    char target[6] = "xxxxx";
    EXPECT_EQ(ExportForwarded, FindExport(&table, "EwfMgrOpenProtected", target, sizeof target));
    EXPECT_STREQ("evil.", target);
}

} // namespace
