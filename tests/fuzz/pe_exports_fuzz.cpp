// A library file as anyone could have planted it: reading its exports must
// never read outside the bytes, crash or hang, whatever they hold.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "check/library.h"
#include "check/pe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact copy, so that the sanitizer sees a read past its end.
    std::vector<BYTE> bytes(data, data + size);
    ExportTable table;
    if (OpenExports(bytes.data(), (DWORD)bytes.size(), &table) != nullptr) {
        return 0;
    }
    for (const char *call : WatchdogEwfCalls) {
        char target[96];
        if (FindExport(&table, call, target, sizeof target) == ExportForwarded &&
            strlen(target) >= sizeof target) {
            __builtin_trap();
        }
    }
    return 0;
}
