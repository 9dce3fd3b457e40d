#pragma once
// Text from a snapshot (file and directory names, descriptions, paths) shown
// to a person. Names are bytes: one holding ESC or BEL would retitle or clear
// a terminal, a newline would split a row of a table, and C1 controls
// (U+0080..U+009F) are obeyed by some terminals too. EscapeForDisplay turns
// all of those, and every byte that is not part of valid UTF-8, into \xHH.
// Format characters (Unicode category Cf: the bidirectional overrides and
// isolates such as U+202E, which make a name read backwards, zero-width
// spaces and joiners, the byte order mark) and the line and paragraph
// separators U+2028 and U+2029 are invisible or move text about, so they
// become \u{HHHH}. A backslash becomes \\ so that an escape cannot be
// mistaken for a name that holds the same characters. Every other valid
// UTF-8 character passes unchanged.
//
// DisplayWidth counts the columns of a terminal that shown text takes, so
// that tables line up under wide (CJK) and combining characters.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <cstddef>
#include <string>
#include <string_view>

namespace corvina {

std::string EscapeForDisplay(std::string_view text);

// 2 for each wide East Asian character and emoji, 0 for combining marks,
// format characters and controls, 1 for any other character and for each
// byte that is not part of valid UTF-8.
std::size_t DisplayWidth(std::string_view text);

}  // namespace corvina
