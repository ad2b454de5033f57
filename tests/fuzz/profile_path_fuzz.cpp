// ProfilePathFromModulePath against a model: the directory kept, the file
// name's extension replaced by (or, without one, followed by) ".ini", nothing
// written past the 260-character buffer, and no path at all exactly when the
// executable's path was not had whole or the result would not fit.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "watchdog/config.h"

namespace
{

const char Guard = '\x5a';

// The expected profile path, or empty when none can be formed.
std::string Model(const std::string &module, DWORD length)
{
    if (length == 0 || length >= MAX_PATH) {
        return "";
    }
    size_t nameStart = module.find_last_of("\\/:");
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    size_t dot = module.rfind('.');
    std::string stem =
        dot != std::string::npos && dot >= nameStart ? module.substr(0, dot) : module;
    std::string profile = stem + ".ini";
    return profile.size() < MAX_PATH ? profile : "";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    // First byte: how the path call went; the rest: the path, which the
    // platform never returns with a NUL inside.
    uint8_t mode = data[0];
    std::string module(reinterpret_cast<const char *>(data + 1), size - 1);
    for (char &c : module) {
        c = c == '\0' ? 'x' : c;
    }

    char memory[MAX_PATH + 32];
    memset(memory, Guard, sizeof memory);
    DWORD length;
    if (mode % 4 == 0) {
        length = 0; // the call failed
        memcpy(memory, module.c_str(), module.size() < MAX_PATH ? module.size() : MAX_PATH - 1);
    } else if (module.size() >= MAX_PATH) {
        length = MAX_PATH; // truncated, unterminated as on XP
        memcpy(memory, module.data(), MAX_PATH);
    } else {
        length = (DWORD)module.size();
        memcpy(memory, module.c_str(), module.size() + 1);
    }

    std::string expected = Model(module, length);
    BOOL formed = ProfilePathFromModulePath(memory, length);
    for (size_t i = MAX_PATH; i < sizeof memory; ++i) {
        if (memory[i] != Guard) {
            abort(); // wrote past the buffer
        }
    }
    if ((formed != FALSE) != !expected.empty()) {
        abort();
    }
    if (formed && (memchr(memory, '\0', MAX_PATH) == nullptr || expected != memory)) {
        abort();
    }
    return 0;
}
