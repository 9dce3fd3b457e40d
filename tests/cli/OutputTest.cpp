// Tables as a terminal shows them: columns line up by the columns of the
// screen a text takes, not by its bytes or characters.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/Output.h"

namespace corvina {
namespace {

TEST(AlignedTable, WideAndCombiningCharactersAndEscapesKeepTheColumnsInLine) {
    const std::vector<std::vector<std::string>> rows = {
        {"Name", "Size"},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "1"},         // 日本語: six columns
        {"cafe\xcc\x81", "22"},                                // café with a combining acute: four
        {EscapeForDisplay("rtl\xe2\x80\xaegpj.exe"), "333"},  // the override shown as an escape
    };
    std::ostringstream out;
    cli::PrintAlignedTable(rows, {false, true}, false, out);
    EXPECT_EQ(out.str(),
              "Name                Size\n"
              "------------------  ----\n"
              "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e                 1\n"
              "cafe\xcc\x81                  22\n"
              "rtl\\u{202E}gpj.exe   333\n");
}

}  // namespace
}  // namespace corvina
