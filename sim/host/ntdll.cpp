// NTDLL of the machine the installation check looks at, reached through
// GetModuleHandleA and GetProcAddress: the performance record, of which only
// the free system PTEs are filled in, and the time of day with the boot's.
#include <string.h>

#include "sim/host/machine.h"

#include "platform/ntdll.h"

using namespace fake::detail;

namespace fake
{
namespace machine
{

const LONG StatusInvalidInfoClass = (LONG)0xC0000003;
const LONG StatusInfoLengthMismatch = (LONG)0xC0000004;

LONG WINAPI FakeNtQuerySystemInformation(ULONG infoClass, LPVOID buffer, ULONG length,
                                         ULONG *returned)
{
    sim::SimBeforeCall("NtQuerySystemInformation");
    std::string args = std::to_string(infoClass) + ", " + std::to_string(length);
    // An injected failure's error is the status returned.
    DWORD error = 0;
    if (sim::ShouldFail("NtQuerySystemInformation", nullptr, &error)) {
        Log("NtQuerySystemInformation", args, "status " + sim::Hex(error));
        return (LONG)error;
    }
    if (infoClass == SYSTEM_TIME_OF_DAY_INFORMATION) {
        if (length < sizeof(SystemTimeOfDay)) {
            Log("NtQuerySystemInformation", args, "length mismatch");
            return StatusInfoLengthMismatch;
        }
        SystemTimeOfDay day = {};
        day.bootTime = (LONGLONG)(M().now - M().uptimeMs * 10000);
        day.currentTime = (LONGLONG)fake::WallClock();
        memcpy(buffer, &day, sizeof day);
        if (returned != nullptr) {
            *returned = sizeof day;
        }
        Log("NtQuerySystemInformation", args, "boot time");
        return 0;
    }
    if (infoClass != SYSTEM_PERFORMANCE_INFORMATION_CLASS) {
        Misuse("NtQuerySystemInformation asked for class " + std::to_string(infoClass));
        return StatusInvalidInfoClass;
    }
    // As the system does: a length it does not know is refused.
    if (length != SYSTEM_PERFORMANCE_INFORMATION_SIZE) {
        Log("NtQuerySystemInformation", args, "length mismatch");
        return StatusInfoLengthMismatch;
    }
    // Every other counter is noise to the check.
    memset(buffer, 0x5A, length);
    ((SYSTEM_PERFORMANCE_START *)buffer)->FreeSystemPtes = M().freeSystemPtes;
    if (returned != nullptr) {
        *returned = length;
    }
    Log("NtQuerySystemInformation", args, std::to_string(M().freeSystemPtes) + " free PTEs");
    return 0;
}

} // namespace machine
} // namespace fake
