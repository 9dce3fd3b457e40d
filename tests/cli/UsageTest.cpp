// What corvina-cli makes of its arguments: sizes with their suffixes, and
// every malformed argument refused as bad usage (exit 2) with a message that
// names it, before any database is opened or made.

#include <gtest/gtest.h>

#include <filesystem>

#include "cli/CliSupport.h"
#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// A fraction of a byte rounds half to even.
TEST(SizeOption, SuffixesFromKToTAreOfTheBinaryUnitsWithOrWithoutBOrIB) {
    const std::pair<const char*, std::int64_t> good[] = {
        {"0", 0},         {"4096", 4096},       {"2.5", 2},          {"3.5", 4},          {"0.5K", 512},
        {"512B", 512},    {"10K", 10240},       {"1kib", 1024},      {"1.5M", 1572864},   {"1G", 1073741824},
        {"1GB", 1073741824}, {"1GiB", 1073741824}, {"0.5T", 549755813888}, {"8000000T", 8796093022208000000},
    };
    for (const auto& [text, bytes] : good) {
        std::int64_t parsed = -1;
        EXPECT_EQ(cli::ParseSize(text, &parsed), "") << text;
        EXPECT_EQ(parsed, bytes) << text;
    }
    for (const char* bad : {"", "1X", "1P", "1iB", "1GBB", "1Gi", "1 G", "G", "B", "1..5", "1e3", "-1G", "9000000T"}) {
        EXPECT_NE(cli::ParseSize(bad, nullptr), "") << bad;
    }
}

TEST(Usage, EveryMalformedArgumentExitsTwoNamingItAndOpensNoDatabase) {
    test::TempDir dir;
    const std::string db = dir.File("never.mdb"), tree = dir.File("t");
    fs::create_directory(tree);
    const std::string scan = dir.File("scan.json");
    test::WriteFile(scan, "[1,2,{},[{\"name\":\"/srv\"}]]");
    const struct {
        Args Arguments;
        std::string Named;
    } cases[] = {
        {{"bogus"}, "unknown command \"bogus\""},
        {{"info"}, ""},
        {{"check", "--no-such-option"}, ""},
        {{"prune"}, "prune needs a rule of what to keep"},
        {{"prune", "--path", "/srv", "--dry-run"}, "prune needs a rule"},
        {{"prune", "--keep-weekly", "0"}, "--keep-weekly: the count must be a whole number from 1 up"},
        {{"prune", "--keep-monthly", "-1"}, "--keep-monthly"},
        {{"prune", "--keep-yearly", "2x"}, "--keep-yearly"},
        {{"analyse", "99"}, "unknown analysis \"99\""},
        {{"analyse", "0", "--compare", "junk"}, "--compare: not a snapshot key: junk"},
        {{"analyse", "0", "--snapshot", "junk"}, "--snapshot: not a snapshot key: junk"},
        {{"growth", "--compare", "2024-02-30 00:00:00"}, "--compare: not a snapshot key: 2024-02-30 00:00:00"},
        {{"growth", "--top", "-1"}, "--top: a count of directories cannot be negative: -1\n"},
        {{"analyse", "0", "--limit", "-1"}, "--limit: a count of rows cannot be negative: -1\n"},
        {{"info", "junk"}, "not a snapshot key: junk"},
        {{"delete", "junk"}, "not a snapshot key: junk"},
        {{"analyse", "0", "--unit", "P"}, "--unit: P not in"},
        {{"trend", "--unit", "KB"}, "--unit: KB not in"},
        {{"analyse", "0", "--size", "blocks"}, "--size: blocks not in"},
        {{"growth", "--size", "Disk"}, "--size: Disk not in"},
        {{"trend", "--size", ""}, "--size:  not in"},
        {{"snapshot", tree, "--min-size", "1X"}, "not a size: 1X"},
        {{"snapshot", dir.File("nowhere")}, "The path " + dir.File("nowhere") + " is not an existing directory"},
        {{"snapshot", tree, "--description", std::string(256, 'd')}, "description is longer than 255 characters"},
        {{"snapshot", tree, "--host-label", ""}, "--host-label: the host label is empty"},
        {{"schedule", tree, "--on", ""}, "--on: the calendar is empty"},
        {{"schedule", dir.File("nowhere")}, "The path " + dir.File("nowhere") + " is not an existing directory"},
        {{"snapshot", tree, "--exclude", ""}, "--exclude: the pattern is empty"},
        {{"snapshot", tree, "--exclude-from", dir.File("none")},
         "cannot read the patterns of --exclude-from " + dir.File("none") + ": No such file or directory\n"},
        {{"snapshot", tree, "--exclude-from", tree},
         "cannot read the patterns of --exclude-from " + tree + ": Is a directory\n"},
        {{"schedule", tree, "--exclude", "*.o", "--exclude-from", dir.File("none")},
         "--exclude-from " + dir.File("none")},
        {{"import"}, "A subcommand is required"},
        {{"import", "ncdu", scan, "--min-size", "1X"}, "not a size: 1X"},
        {{"import", "ncdu", scan, "--description", std::string(256, 'd')}, "description is longer than 255 characters"},
        {{"export", "ncdu", "--snapshot", "junk"}, "--snapshot: not a snapshot key: junk"},
    };
    const test::ToolOptions options{.ConfigHome = dir.File("config")};
    for (const auto& c : cases) {
        const auto run = test::RunOn(db, c.Arguments, options);
        EXPECT_EQ(run.ExitCode, 2) << c.Arguments.front() << " " << c.Arguments.back();
        EXPECT_NE(run.Err.find(c.Named), std::string::npos) << run.Err;
        EXPECT_LT(run.Err.size(), 200u) << run.Err;
    }
    EXPECT_FALSE(fs::exists(db));
    // Nothing was scheduled either.
    EXPECT_EQ(test::RunTool({"schedule", "--list"}, options).Out, "");
}

}  // namespace
}  // namespace corvina
