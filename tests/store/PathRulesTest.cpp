#include <gtest/gtest.h>

#include "store/DateTime.h"
#include "store/PathStyle.h"

namespace corvina {
namespace {

struct DirCase {
    const char* Entry;
    const char* Base;
    PathStyle Style;
    const char* Shortname;
    const char* Parentdir;
    int Level;
};

// Drive roots and the POSIX root as base path, then directories.
TEST(DirNames, RootsChildrenAndFilesEntriesInBothStyles) {
    const DirCase cases[] = {
        {"C:", "C:", PathStyle::Windows, ".", "", 1},
        {"C:\\(files)", "C:", PathStyle::Windows, "(files)", "C:", 2},
        {"C:\\Data", "C:", PathStyle::Windows, "Data", "C:", 2},
        {"/", "/", PathStyle::Posix, ".", "", 1},
        {"C:\\Data", "C:\\Data", PathStyle::Windows, ".", "", 1},
        {"C:\\Data\\Old\\(files)", "C:\\Data", PathStyle::Windows, "(files)", "C:\\Data\\Old", 3},
        {"/data/old", "/data", PathStyle::Posix, "old", "/data", 2},
        {"/data/old/(files)", "/data", PathStyle::Posix, "(files)", "/data/old", 3},
        // The root test is exact: another case is not the root.
        {"C:\\DATA", "C:\\Data", PathStyle::Windows, "DATA", "C:", 1},
        {"/DATA", "/data", PathStyle::Posix, "DATA", "/", 1},
        // Dots in a parent are ordinary characters.
        {"/my.dir/x", "/my.dir", PathStyle::Posix, "x", "/my.dir", 2},
        // A backslash is an ordinary character in a POSIX name.
        {"/data/a\\b", "/data", PathStyle::Posix, "a\\b", "/data", 2},
    };
    for (const DirCase& c : cases) {
        SCOPED_TRACE(c.Entry);
        DirNames names = DeriveDirNames(c.Entry, c.Base, BaseLevelOf(c.Base, c.Style), c.Style);
        EXPECT_EQ(names.Shortname, c.Shortname);
        EXPECT_EQ(names.Parentdir, c.Parentdir);
        EXPECT_EQ(names.Dirlevel, c.Level);
    }
}

TEST(FileType, ExtensionOfOneToThreeCharactersUpperCased) {
    const std::pair<const char*, const char*> cases[] = {
        {"report.doc", "DOC"}, {"archive.tar.gz", "GZ"}, {"notes.", ""},     {"README", ""},
        {".profile", ""},      {"page.html", ""},        {"a.b.c.TXT", "TXT"}, {"photo.JPEG", ""},
        {"x.Txt", "TXT"},      {".a", "A"},              {"caf\xc3\xa9.\xc3\xa9", "\xc3\xa9"},
    };
    for (const auto& [name, type] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(DeriveFileType(name), type);
    }
}

TEST(DateTexts, KeyTextReadsBackAndRejectsWhatIsNotAMoment) {
    auto parsed = DateTime::Parse("2024-02-29 23:59:59");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(FormatKey(*parsed), "2024-02-29 23:59:59");
    for (const char* bad : {"2023-02-29 00:00:00", "2024-13-01 00:00:00", "2024-01-01 24:00:00", "2024-01-01",
                            "2024-01-01T00:00:00", "latest", "", "2024-01-01 00:00:0x"}) {
        EXPECT_FALSE(DateTime::Parse(bad)) << bad;
    }
}

}  // namespace
}  // namespace corvina
