// ParseLimit against two models: digits accumulated in 64 bits and reduced
// modulo 2^32 at each step, and, where it cannot saturate, the C library's
// strtoll reduced the same way.
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "watchdog/config.h"

namespace
{

int32_t FromModulus(uint64_t value)
{
    value %= 4294967296u;
    return value >= 2147483648u ? (int32_t)((int64_t)value - 4294967296) : (int32_t)value;
}

int32_t Model(const std::string &text, size_t *digits)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint64_t value = 0;
    *digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++*digits) {
        value = (value * 10 + (uint64_t)(text[i] - '0')) % 4294967296u;
    }
    return FromModulus(negative ? 4294967296u - value : value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));

    size_t digits = 0;
    int32_t expected = Model(text, &digits);
    int actual = ParseLimit(text.c_str());
    if (actual != expected) {
        abort();
    }
    if (digits <= 18) {
        long long exact = strtoll(text.c_str(), nullptr, 10);
        if (actual != FromModulus((uint64_t)exact)) {
            abort();
        }
    }
    return 0;
}
