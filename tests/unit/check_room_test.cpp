// The room finding: physical memory and free system PTEs against what the
// limit lets the overlays grow by, on the fake machine's figures.
#include "tests/unit/check_fixture.h"

namespace
{

struct RoomCase {
    const char *what;
    const char *limit;
    std::function<void()> arrange;
    const char *said;
    bool asksPtes;
};

const unsigned long long MiBs = 1048576;

void Memory(unsigned long long totalMiB, unsigned long long availableMiB)
{
    fake::SetMemory(totalMiB * MiBs, availableMiB * MiBs);
}

// Beside C: with 12 MiB: an empty one, one with 20 MiB, one switched off.
void MixedVolumes()
{
    sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 0);
    sim::AddVolume("\\Device\\HarddiskVolume3", 'E', 20 * MiB);
    sim::AddVolume("\\Device\\HarddiskVolume4", 'F', 0).state = EWF_DISABLED;
}

// The machine's defaults: 2048 MiB, 1536 available, 150000 free PTEs
// (585.9375 MiB, so the PTEs bound the room); C: holds 12 MiB. The highest
// sound limit there is 12 + 3/4 x 585.9375 = 451.45 MiB.
TEST_F(CheckTest, RoomAgainstTheLimit)
{
    const RoomCase cases[] = {
        {"free PTEs leave less room than memory", "128", [] {},
         "ok room room 585.9 MiB | free system PTEs 150000, 585.9 MiB | needs 116.0 MiB", true},
        {"plenty of room", "128", [] { fake::SetFreeSystemPtes(1000000); },
         "ok room room 1536.0 MiB | free system PTEs 1000000, 3906.3 MiB | needs 116.0 MiB", true},
        {"needs more than the room", "1024", [] {},
         "PROBLEM room room 585.9 MiB | needs 1012.0 MiB | runs out about 426.1 MiB | "
         "at most 451 MiB",
         true},
        {"needs just more than the room", "598", [] {},
         "PROBLEM room room 585.9 MiB | needs 586.0 MiB | runs out about 0.1 MiB | at most 451 MiB",
         true},
        {"needs all the room", "597", [] {},
         "WARNING room room 585.9 MiB | needs 585.0 MiB | less than a quarter | at most 451 MiB",
         true},
        {"within a quarter of the room", "452", [] {},
         "WARNING room room 585.9 MiB | needs 440.0 MiB | less than a quarter | at most 451 MiB",
         true},
        {"at the highest sound limit", "451", [] {}, "ok room room 585.9 MiB | needs 439.0 MiB",
         true},
        {"limit as large as memory", "2048",
         [] {
             Memory(2048, 2048);
             fake::SetFreeSystemPtes(0);
         },
         "WARNING room room 2048.0 MiB | 2048.0 of 2048.0 MiB | PTEs unknown | needs 2036.0 MiB | "
         "less than a quarter | at most 1548 MiB",
         true},
        {"limit above physical memory", "2049",
         [] {
             Memory(2048, 2048);
             fake::SetFreeSystemPtes(0);
         },
         "PROBLEM room room 2048.0 MiB | PTEs unknown | needs 2037.0 MiB | "
         "more than the machine's physical memory | at most 1548 MiB",
         true},
        // The watchdog's total counts a disk overlay's map size: never a
        // highest limit above physical memory, however large it is.
        {"limit above memory, a large disk map counted", "4096",
         [] { sim::AddVolume("\\Device\\HarddiskVolume2", 'D', 5000 * MiB).type = EWF_DISK; },
         "PROBLEM room room 585.9 MiB | needs 0.0 MiB | more than the machine's physical memory | "
         "at most 2048 MiB",
         true},
        // As Wine reports a large host's memory to a 32-bit program under
        // qemu: the room and the highest limit stay within physical memory.
        {"available memory above physical memory", "3000",
         [] {
             Memory(3625, 22524);
             fake::SetFreeSystemPtes(0);
         },
         "WARNING room room 3625.0 MiB | 22524.0 MiB read | physical memory of 3625.0 MiB | "
         "PTEs unknown | needs 2988.0 MiB | less than a quarter | at most 2730 MiB",
         true},
        {"free PTE count 0 is unknown", "128", [] { fake::SetFreeSystemPtes(0); },
         "ok room room 1536.0 MiB | free system PTEs unknown | needs 116.0 MiB", true},
        {"NTDLL without the call", "128", [] { fake::SetFreeSystemPtes(150000, false); },
         "ok room room 1536.0 MiB | free system PTEs unknown | needs 116.0 MiB", false},
        {"the call failing", "128", [] { fake::Fail("NtQuerySystemInformation", 0xC0000001); },
         "ok room room 1536.0 MiB | free system PTEs unknown | needs 116.0 MiB", true},
        {"64-bit Windows", "128",
         [] {
             fake::SetOwnMachine(0x8664);
             fake::AddFile(WatchdogPath, PeHeader(0x8664));
         },
         "ok room room 1536.0 MiB | no bound on 64-bit Windows | needs 116.0 MiB", false},
        {"the x86 check on 64-bit Windows", "128",
         [] {
             fake::SetWow64(true, true);
             fake::AddLibrary("C:\\WINDOWS\\SysWOW64\\EWFAPI.dll", fake::EwfExports());
         },
         "ok room room 1536.0 MiB | no bound on 64-bit Windows | needs 116.0 MiB", false},
        // The count is no ceiling where the kernel grows the pool on demand.
        {"32-bit Windows 6.x", "128", [] { fake::SetVersion(6, 1, 7601, ""); },
         "ok room room 1536.0 MiB | left for system PTEs is not read | needs 116.0 MiB", false},
        {"memory that cannot be read", "128", [] { fake::Fail("GlobalMemoryStatusEx", 8); },
         "note room available memory cannot be read | GlobalMemoryStatusEx error 8", false},
        {"mixed volumes", "128", MixedVolumes, "ok room room 585.9 MiB | needs 96.0 MiB", true},
        {"mixed volumes, too high a limit", "1024", MixedVolumes,
         "PROBLEM room room 585.9 MiB | needs 992.0 MiB | runs out about 406.1 MiB | "
         "at most 471 MiB",
         true},
        {"limit 0", "0", [] {}, "ok room room 585.9 MiB | needs 0.0 MiB", true},
        {"total above the limit", "10", [] {}, "ok room room 585.9 MiB | needs 0.0 MiB", true},
        {"no memory available", "128", [] { Memory(2048, 0); },
         "PROBLEM room room 0.0 MiB | 0.0 of 2048.0 MiB | needs 116.0 MiB | runs out about 116.0 "
         "MiB | at most 12 MiB",
         true},
        {"nothing to spare at all", "128",
         [] {
             sim::ResetWorld();
             sim::AddVolume("\\Device\\HarddiskVolume1", 'C', 0);
             Memory(2048, 1);
         },
         "PROBLEM room room 1.0 MiB | needs 128.0 MiB | runs out about 127.0 MiB | "
         "no room to spare | add memory",
         true},
    };
    for (const RoomCase &c : cases) {
        std::string profile = std::string("[TOVRIN]\nlimit=") + c.limit + "\n";
        Install(profile.c_str());
        c.arrange();
        Run();
        EXPECT_TRUE(Reads(c.said)) << c.what;
        std::vector<ReportLine> lines = Findings();
        size_t at = 0;
        while (at < lines.size() && lines[at].key != "room") {
            ++at;
        }
        EXPECT_TRUE(at > 0 && at < lines.size() && lines[at - 1].key == "total")
            << c.what << ": right after the total";
        // Class 2 only: the boot time (class 3) is persist's.
        bool asked = false;
        for (const std::string &call : fake::CallTexts({"NtQuerySystemInformation"})) {
            asked = asked || call.rfind("NtQuerySystemInformation(2,", 0) == 0;
        }
        EXPECT_EQ(c.asksPtes, asked) << c.what;
        EXPECT_TRUE(NothingLeft()) << c.what;
    }
}

TEST_F(CheckTest, NoRoomLineWithoutATotal)
{
    sim::ResetWorld();
    Run();
    EXPECT_FALSE(Has("room")) << "no protected volume, no overlay to make room for";

    Install();
    fake::Fail("EwfMgrGetProtectedVolumeList", 5);
    Run();
    EXPECT_FALSE(Has("room")) << "no total to start from";
}

} // namespace
