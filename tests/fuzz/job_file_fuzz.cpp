// ReadJobFile on any bytes: never a read outside the file (copied to a block
// of its exact size, for the sanitizer to see), and the application's name
// terminated within its field.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "check/startfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BYTE *file = (BYTE *)malloc(size + 1);
    memcpy(file, data, size);
    JobFacts facts;
    if (ReadJobFile(file, (DWORD)size, &facts) == nullptr &&
        memchr(facts.application, '\0', sizeof facts.application) == nullptr) {
        abort();
    }
    free(file);
    return 0;
}
