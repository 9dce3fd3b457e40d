// EscapeForDisplay at the edges of each range it escapes and of UTF-8.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "store/DisplayText.h"

namespace corvina {
namespace {

TEST(EscapeForDisplay, ControlsBackslashAndBrokenUtf8ShowAsHexWhilePrintableUtf8Passes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // C0 at both ends, DEL, and the printable ASCII beside them.
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1f \x7e\x7f", "\\x1F ~\\x7F"},
        {"\x1b]0;owned\x07\x1b[2K", "\\x1B]0;owned\\x07\\x1B[2K"},
        // C1 controls U+0080..U+009F; U+00A0 (no-break space) is the first printable after them.
        {"\xc2\x80|\xc2\x9b|\xc2\x9f", "\\xC2\\x80|\\xC2\\x9B|\\xC2\\x9F"},
        {"\xc2\xa0", "\xc2\xa0"},
        // A backslash is doubled, so that "\x41" typed in a name is not taken for an escape.
        {"back\\slash", "back\\\\slash"},
        {"\\x41", "\\\\x41"},
        // Valid UTF-8 of each length, up to the highest code point.
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xef\xbf\xbd\xf4\x8f\xbf\xbf",
         "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xef\xbf\xbd\xf4\x8f\xbf\xbf"},
        // Bytes that never occur in UTF-8, and a lone continuation byte.
        {"\xff\xfe\xc0\xc1\xf5", "\\xFF\\xFE\\xC0\\xC1\\xF5"},
        {"a\x80z", "a\\x80z"},
        // Overlong forms of "/", a surrogate, and the first value above U+10FFFF.
        {"\xc0\xaf", "\\xC0\\xAF"},
        {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        // Truncated sequences: every byte shows, and what follows is read afresh.
        {"\xc3", "\\xC3"},
        {"\xf0\x9f\x98" "\xc3\xa9", "\\xF0\\x9F\\x98\xc3\xa9"},
        {"\xf0\x9f\x98\x1b", "\\xF0\\x9F\\x98\\x1B"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(EscapeForDisplay(text), shown) << testing::PrintToString(text);
    }
}

}  // namespace
}  // namespace corvina
