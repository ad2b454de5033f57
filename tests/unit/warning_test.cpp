#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "platform/user32.h"
#include "watchdog/warning.h"

namespace
{

// Decodes with the C library's converter, independent of how the bytes were
// written down; empty when they are not valid CP932.
std::string FromCodePage932(const std::string &bytes)
{
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == (iconv_t)-1) {
        ADD_FAILURE() << "no CP932 converter";
        return "";
    }
    std::string input = bytes;
    std::string output(bytes.size() * 4, '\0');
    char *in = &input[0];
    char *out = &output[0];
    size_t inLeft = input.size();
    size_t outLeft = output.size();
    size_t converted = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (converted == (size_t)-1 || inLeft != 0) {
        return "";
    }
    output.resize(output.size() - outLeft);
    return output;
}

// Read while the test binary loads, before any test or fixture has set it: the
// value the program starts with. The Windows build runs no constructors, so
// the flag must also be constant-initialised to have it there.
const bool ShowingAtLoad = WarningShowing.load();

TEST(Warning, IsShowingFromLoadOn)
{
    // Were it false, the program would end as soon as the pass ends, taking
    // the box off the screen before the user has read it.
    EXPECT_TRUE(ShowingAtLoad);
}

TEST(Warning, TextIsTheJapaneseWarningInCodePage932)
{
    EXPECT_EQ("EWFライトバッファがいっぱいになったため、ライトバックしています\n"
              "以降、書き込みパフォーマンスが低下する為、必要に応じPCを再起動してください",
              FromCodePage932(WarningText));
}

TEST(Warning, CaptionAndStyle)
{
    EXPECT_STREQ("Tovrin V1.00 20070610 Ondrap", WarningCaption);
    EXPECT_EQ(0x00040030u, (unsigned)WARNING_STYLE);
}

} // namespace
