// ReadShortcut on any bytes: never a read outside the file (copied to a
// block of its exact size, for the sanitizer to see), and the target
// terminated within MAX_PATH, empty when the file is refused.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "check/startfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BYTE *file = (BYTE *)malloc(size + 1);
    memcpy(file, data, size);
    char target[MAX_PATH + 16];
    memset(target, 'x', sizeof target);
    const char *why = ReadShortcut(file, (DWORD)size, target);
    if (memchr(target, '\0', MAX_PATH) == nullptr || (why != nullptr && target[0] != '\0')) {
        abort();
    }
    for (size_t i = MAX_PATH; i < sizeof target; ++i) {
        if (target[i] != 'x') {
            abort();
        }
    }
    free(file);
    return 0;
}
