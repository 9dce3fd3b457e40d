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

TEST(DirNames, RootsChildrenAndFilesEntriesInBothStyles) {
    const DirCase cases[] = {
        // A drive root as base path.
        {"C:", "C:", PathStyle::Windows, ".", "", 1},
        {"C:\\(files)", "C:", PathStyle::Windows, "(files)", "C:", 2},
        {"C:\\Data", "C:", PathStyle::Windows, "Data", "C:", 2},
        // The POSIX root plays the drive's part.
        {"/", "/", PathStyle::Posix, ".", "", 1},
        {"/(files)", "/", PathStyle::Posix, "(files)", "/", 2},
        {"/data", "/", PathStyle::Posix, "data", "/", 2},
        // A directory as base path.
        {"C:\\Data", "C:\\Data", PathStyle::Windows, ".", "", 1},
        {"C:\\Data\\(files)", "C:\\Data", PathStyle::Windows, "(files)", "C:\\Data", 2},
        {"C:\\Data\\Old", "C:\\Data", PathStyle::Windows, "Old", "C:\\Data", 2},
        {"C:\\Data\\Old\\(files)", "C:\\Data", PathStyle::Windows, "(files)", "C:\\Data\\Old", 3},
        {"/data", "/data", PathStyle::Posix, ".", "", 1},
        {"/data/(files)", "/data", PathStyle::Posix, "(files)", "/data", 2},
        {"/data/old", "/data", PathStyle::Posix, "old", "/data", 2},
        {"/data/old/(files)", "/data", PathStyle::Posix, "(files)", "/data/old", 3},
        // The root test is exact: another case is not the root.
        {"C:\\DATA", "C:\\Data", PathStyle::Windows, "DATA", "C:", 1},
        {"/DATA", "/data", PathStyle::Posix, "DATA", "/", 1},
        // Dots in a parent are ordinary characters.
        {"C:\\my.dir\\x", "C:\\my.dir", PathStyle::Windows, "x", "C:\\my.dir", 2},
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

TEST(DirNames, BaseLevelAndWalkPathOfBothStyles) {
    EXPECT_EQ(BaseLevelOf("C:", PathStyle::Windows), -1);
    EXPECT_EQ(BaseLevelOf("C:\\Data", PathStyle::Windows), 0);
    EXPECT_EQ(BaseLevelOf("C:\\Data\\Old", PathStyle::Windows), 1);
    EXPECT_EQ(BaseLevelOf("/", PathStyle::Posix), -1);
    EXPECT_EQ(BaseLevelOf("/data", PathStyle::Posix), 0);
    EXPECT_EQ(BaseLevelOf("/data/old", PathStyle::Posix), 1);

    EXPECT_EQ(WalkPathOf("C:", PathStyle::Windows), "C:\\");
    EXPECT_EQ(WalkPathOf("C:\\Data", PathStyle::Windows), "C:\\Data\\");
    EXPECT_EQ(WalkPathOf("/", PathStyle::Posix), "/");
    EXPECT_EQ(WalkPathOf("/data", PathStyle::Posix), "/data/");
    EXPECT_EQ(FilesEntryName("/", PathStyle::Posix), "/(files)");
    EXPECT_EQ(FilesEntryName("C:", PathStyle::Windows), "C:\\(files)");
    EXPECT_EQ(JoinPath("/", "etc", PathStyle::Posix), "/etc");
}

TEST(DirNames, TreeMatchIsBoundedByTheSeparator) {
    EXPECT_TRUE(IsSameOrBelow("/data", "/data", PathStyle::Posix));
    EXPECT_TRUE(IsSameOrBelow("/data/x/y", "/data", PathStyle::Posix));
    EXPECT_FALSE(IsSameOrBelow("/data2", "/data", PathStyle::Posix));
    EXPECT_FALSE(IsSameOrBelow("/database", "/data", PathStyle::Posix));
    EXPECT_TRUE(IsSameOrBelow("/anything", "/", PathStyle::Posix));
    EXPECT_TRUE(IsSameOrBelow("C:\\data\\x", "C:\\data", PathStyle::Windows));
    EXPECT_FALSE(IsSameOrBelow("C:\\data2", "C:\\data", PathStyle::Windows));
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

TEST(DateTexts, KeyDisplayLiteralAndMediumForms) {
    DateTime t{2024, 3, 7, 14, 5, 9};
    EXPECT_EQ(FormatKey(t), "2024-03-07 14:05:09");
    EXPECT_EQ(FormatDisplayDate(t), "2024-03-07 14:05");
    EXPECT_EQ(FormatSqlDate(t), "03-07-2024 14:05:09");
    EXPECT_EQ(FormatMediumDate(DateTime{2026, 12, 5, 0, 0, 0}), "05-Dec-26");
    // One second apart: different keys, the same display text.
    DateTime u{2024, 3, 7, 14, 5, 10};
    EXPECT_NE(FormatKey(t), FormatKey(u));
    EXPECT_EQ(FormatDisplayDate(t), FormatDisplayDate(u));
}

TEST(DateTexts, KeyTextReadsBackAndRejectsWhatIsNotAMoment) {
    auto parsed = DateTime::Parse("2024-02-29 23:59:59");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(FormatKey(*parsed), "2024-02-29 23:59:59");
    for (const char* bad : {"2023-02-29 00:00:00", "2024-13-01 00:00:00", "2024-01-01 24:00:00", "2024-01-01",
                            "2024-01-01T00:00:00", "latest", "", "2024-01-01 00:00:0x"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(DateTime::Parse(bad));
    }
}

}  // namespace
}  // namespace corvina
