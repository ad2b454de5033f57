// ReadTaskFile on any bytes: never a read outside the file (the input is
// copied to a block of its exact size, for the sanitizer to see), an answer
// or a reason, and every text it gives terminated within its field.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "check/startfiles.h"

static void Terminated(const char *text, size_t capacity)
{
    if (memchr(text, '\0', capacity) == nullptr) {
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    BYTE *file = (BYTE *)malloc(size + 1);
    memcpy(file, data, size);
    static char Text[TASK_FILE_MAX + 1];
    TaskFacts facts;
    DWORD length = 0;
    const char *why = ReadTaskFile(file, (DWORD)size, &facts, Text, &length);
    if (length > TASK_FILE_MAX || Text[length] != '\0') {
        abort();
    }
    if (why == nullptr) {
        Terminated(facts.command, sizeof facts.command);
        Terminated(facts.logonType, sizeof facts.logonType);
        Terminated(facts.limitText, sizeof facts.limitText);
        // A limit read from a duration of at most 9 digits a field.
        if (facts.limitRead && facts.limit > 6ull * 999999999ull * 31536000ull) {
            abort();
        }
    }
    ULONGLONG seconds = 0;
    Text[length < 40 ? length : 40] = '\0';
    ReadDuration(Text, &seconds);
    free(file);
    return 0;
}
