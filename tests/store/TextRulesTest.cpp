// The pure rules of the store: directory names, file types, key texts, size
// texts, the escaping of what is shown, and the texts its server side works
// from (which --db texts name a server, what of them may be shown, how a
// statement reads on the server).

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/DateTime.h"
#include "base/DisplayText.h"
#include "base/PathStyle.h"
#include "store/SnapshotDatabase.h"
#include "base/SizeFormat.h"

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
        {"C:", "C:", PathStyle::Windows, ".", "", 1}, {"C:\\(files)", "C:", PathStyle::Windows, "(files)", "C:", 2},
        {"/", "/", PathStyle::Posix, ".", "", 1},     {"C:\\Data", "C:\\Data", PathStyle::Windows, ".", "", 1},
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
        EXPECT_EQ(std::tuple(names.Shortname, names.Parentdir, names.Dirlevel),
                  std::tuple(std::string(c.Shortname), std::string(c.Parentdir), c.Level));
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

TEST(FormatSize, WholeUnitsFromEach1024StepFractionsDropped) {
    const std::pair<double, const char*> cases[] = {
        {0, "0"},       {1023, "1023"}, {1024, "1 KB"}, {1024.0 * 1024 - 1, "1023 KB"}, {1024.0 * 1024, "1 MB"},
        {1.5 * 1024 * 1024, "1 MB"},
        {5.0 * 1024 * 1024 * 1024 * 1024, "5242880 MB"},  // a 5 TB total, beyond 32 bits
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(FormatSize(bytes), text) << bytes;
}

// Units round towards minus infinity unless asked to round towards zero, and
// divide exactly: the largest 64-bit value is not rounded up to 2^63 on its
// way through a double. Text passes unchanged.
TEST(FormatSizeCell, UnitsAndAutoDivideExactlyRoundDownOrTowardZeroAndTextPassesUnchanged) {
    constexpr std::int64_t kMiB = 1024 * 1024, kGiB = 1024 * kMiB, kTiB = 1024 * kGiB;
    const std::int64_t halfMiB = 1704 * kMiB + kMiB / 2;
    using enum SizeRounding;
    const struct {
        CellValue Value;
        char Unit;
        SizeRounding Rounding;
        const char* Text;
    } cases[] = {
        {std::int64_t{0}, 'M', Down, "0"},             {std::int64_t{1023}, 'K', Down, "0"},
        {std::int64_t{1024}, 'K', Down, "1"},          {1024.0 * 1024 - 1, 'M', Down, "0"},
        {3.0 * 1024 * 1024 * 1024, 'M', Down, "3072"}, {std::int64_t{3221225472}, 'B', Down, "3221225472"},
        // A shrinking directory in a comparison: -1 byte is -1 KB.
        {-1.0, 'K', Down, "-1"},                       {-2048.0, 'K', Down, "-2"},
        {std::string("abc"), 'K', Down, "abc"},        {std::string("2048"), 'K', Down, "2"},
        {CellValue{}, 'K', Down, ""},                  {3 * kGiB, 'G', Down, "3"},
        {kTiB - 1, 'T', Down, "0"},                    {std::int64_t{INT64_MAX}, 'T', Down, "8388607"},
        // One change read both ways: floored, its reverse is a unit larger.
        {halfMiB, 'M', Down, "1704"},                  {-halfMiB, 'M', Down, "-1705"},
        {-halfMiB, 'M', TowardZero, "-1704"},          {std::string("-1536"), 'K', TowardZero, "-1"},
        // Auto: bytes whole below 1 KB, then one decimal in the largest unit
        // that keeps the value at least 1, chosen by magnitude.
        {std::int64_t{0}, kAutoUnit, Down, "0 B"},     {std::int64_t{1023}, kAutoUnit, Down, "1023 B"},
        {std::int64_t{1024}, kAutoUnit, Down, "1.0 KB"}, {kMiB - 1, kAutoUnit, Down, "1023.9 KB"},
        {kMiB, kAutoUnit, Down, "1.0 MB"},             {halfMiB, kAutoUnit, Down, "1.6 GB"},
        {-halfMiB, kAutoUnit, Down, "-1.7 GB"},        {-halfMiB, kAutoUnit, TowardZero, "-1.6 GB"},
        {3 * kTiB / 2, kAutoUnit, Down, "1.5 TB"},     {std::int64_t{INT64_MAX}, kAutoUnit, Down, "8388607.9 TB"},
        // A difference or sum beyond 64 bits comes as its decimal text.
        {std::string("18446744073709551615"), 'T', Down, "16777215"},
        {std::string("-18446744073709551615"), 'T', Down, "-16777216"},
        {std::string("-18446744073709551615"), 'T', TowardZero, "-16777215"},
        {std::string("18446744073709551615"), kAutoUnit, Down, "16777215.9 TB"},
        {std::string(" "), kAutoUnit, Down, " "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSizeCell(c.Value, c.Unit, c.Rounding), c.Text) << CellText(c.Value) << c.Unit;
    }
}

TEST(EscapeForDisplay, ControlsBackslashAndBrokenUtf8ShowAsHexWhilePrintableUtf8Passes) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // C0 at both ends, DEL, and the printable ASCII beside them.
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1f \x7e\x7f", "\\x1F ~\\x7F"},
        // C1 controls U+0080..U+009F; U+00A0 (no-break space) is the first printable after them.
        {"\xc2\x80|\xc2\x9b|\xc2\x9f", "\\xC2\\x80|\\xC2\\x9B|\\xC2\\x9F"},
        {"\xc2\xa0", "\xc2\xa0"},
        // A backslash is doubled, so that "\x41" typed in a name is not taken for an escape.
        {"\\x41", "\\\\x41"},
        // Valid UTF-8 of each length, up to the highest code point.
        {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xef\xbf\xbd\xf4\x8f\xbf\xbf",
         "caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80 \xef\xbf\xbd\xf4\x8f\xbf\xbf"},
        // Bytes that never occur in UTF-8; then overlong forms of "/" (the first
        // leaves a lone continuation byte), a surrogate, and the first value above U+10FFFF.
        {"\xff\xfe\xc0\xc1\xf5", "\\xFF\\xFE\\xC0\\xC1\\xF5"},
        {"\xc0\xaf", "\\xC0\\xAF"},
        {"\xe0\x80\xaf", "\\xE0\\x80\\xAF"},
        {"\xed\xa0\x80", "\\xED\\xA0\\x80"},
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
        // Truncated sequences: every byte shows, and what follows is read afresh.
        {"\xc3", "\\xC3"},
        {"\xf0\x9f\x98" "\xc3\xa9", "\\xF0\\x9F\\x98\xc3\xa9"},
        {"\xf0\x9f\x98\x1b", "\\xF0\\x9F\\x98\\x1B"},
        // Format characters (category Cf) by code point, of each length: the
        // override that makes "exe.jpg" read "gpj.exe", the soft hyphen, the
        // byte order mark, a tag; and the line and paragraph separators.
        {"rtl\xe2\x80\xaegpj.exe", "rtl\\u{202E}gpj.exe"},
        {"soft\xc2\xadhyphen\xef\xbb\xbf", "soft\\u{00AD}hyphen\\u{FEFF}"},
        {"\xf3\xa0\x80\x81", "\\u{E0001}"},
        {"\xe2\x80\xa8\xe2\x80\xa9", "\\u{2028}\\u{2029}"},
        // Their printable neighbours pass: a hyphen, a narrow no-break space.
        {"\xe2\x80\x90\xe2\x80\xaf", "\xe2\x80\x90\xe2\x80\xaf"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(EscapeForDisplay(text), shown) << testing::PrintToString(text);
}

TEST(DisplayWidth, WideCharactersTakeTwoColumnsAndCombiningMarksNone) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"", 0},
        {"\xe6\x97\xa5\xe6\x9c\xac", 4},                  // 日本
        {"\xed\x95\x9c", 2},                                // 한, one syllable
        {"\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab", 2},    // the same as three jamo
        {"e\xcc\x81", 1},                                   // e and a combining acute
        {"\xef\xbc\xa1\xef\xbd\xb1", 3},                  // fullwidth A, halfwidth ka
        {"\xe3\x80\x80", 2},                                // ideographic space
        {"\xf0\x9f\x98\x80", 2},                            // an emoji
        {"\xf0\xa0\x80\x80\xf0\xbf\xbf\xbd", 4},          // U+20000, and U+3FFFD, unassigned
        {"a\xe2\x80\x8b" "b", 2},                           // a zero-width space
        {"\xff\xc3", 2},                                    // bytes of no character
        {"\x1b\xc2\x9b", 0},                                // controls
    };
    for (const auto& [text, width] : cases) EXPECT_EQ(DisplayWidth(text), width) << testing::PrintToString(text);
}

TEST(ServerLocation, UrisAndKeywordStringsNameAServerAndLoseTheirPasswordButNothingElse) {
    const std::pair<const char*, const char*> shown[] = {
        {"postgresql://u:pw@db.example:5432/snaps?sslmode=require&password=x", "postgresql://u@db.example:5432/snaps?sslmode=require"},
        {"postgres://db.example/snaps?password=x&sslmode=require", "postgres://db.example/snaps?sslmode=require"},
        {"postgresql:///snaps?host=/run/pg", "postgresql:///snaps?host=/run/pg"},
        {"host=/run/pg password='a b\\'c' dbname=snaps", "host=/run/pg dbname=snaps"},
        {"password = pw host=h options='-c search_path=x'", "host=h options='-c search_path=x'"},
        {"dbname=snaps user=me", "dbname=snaps user=me"},
    };
    for (const auto& [given, kept] : shown) {
        EXPECT_TRUE(IsServerLocation(given)) << given;
        EXPECT_EQ(WithoutPassword(given), kept);
    }
    for (const char* file : {"snap.mdb", "/tmp/host=a.mdb", "./dbname=x", "colour=blue", ""}) {
        EXPECT_FALSE(IsServerLocation(file)) << file;
    }
}

}  // namespace
}  // namespace corvina
