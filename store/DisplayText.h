#pragma once
// Text from a snapshot (file and directory names, descriptions, paths) shown
// to a person. Names are bytes: one holding ESC or BEL would retitle or clear
// a terminal, a newline would split a row of a table, and C1 controls
// (U+0080..U+009F) are obeyed by some terminals too. EscapeForDisplay turns
// all of those, and every byte that is not part of valid UTF-8, into \xHH;
// a backslash becomes \\ so that an escape cannot be mistaken for a name that
// holds the same four characters. Valid printable UTF-8 passes unchanged.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <string>
#include <string_view>

namespace corvina {

std::string EscapeForDisplay(std::string_view text);

}  // namespace corvina
