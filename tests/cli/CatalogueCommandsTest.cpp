// corvina-cli list, info and delete over snapshots taken by the tool itself.

#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "tests/cli/RunTool.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;

class CatalogueCommands : public ::testing::Test {
protected:
    void SetUp() override {
        db = dir.File("c.mdb");
        alpha = dir.File("alpha");
        beta = dir.File("beta 'quoted'");
        fs::create_directories(alpha + "/sub");
        fs::create_directories(beta);
        test::WriteFile(alpha + "/sub/f", std::string(3000, 'x'));
    }
    // Takes a snapshot and returns its key (the first field of the summary line).
    std::string Take(const std::string& path, const std::string& description) {
        auto run = test::RunTool({"snapshot", path, "--db", db, "--description", description});
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        return run.Out.substr(0, run.Out.find('\t'));
    }

    test::TempDir dir;
    std::string db, alpha, beta;
};

TEST_F(CatalogueCommands, ListShowsBasePathsThenSnapshotsNewestFirst) {
    std::string first = Take(alpha, "one");
    std::string second = Take(alpha, "two");
    Take(beta, "other");

    auto paths = test::RunTool({"list", "--db", db});
    EXPECT_EQ(paths.ExitCode, 0);
    EXPECT_EQ(paths.Out, alpha + "\n" + beta + "\n");

    auto rows = test::RunTool({"list", "--db", db, "--path", alpha});
    ASSERT_EQ(rows.ExitCode, 0) << rows.Err;
    EXPECT_EQ(rows.Out, second + "\t2 directories\t1 files\t2 KB\ttwo\n" + first + "\t2 directories\t1 files\t2 KB\tone\n");

    auto json = test::RunTool({"list", "--db", db, "--path", beta, "--json"});
    auto parsed = nlohmann::json::parse(json.Out);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["description"], "other");
    EXPECT_EQ(parsed[0]["basepath"], beta);

    // A trailing separator and a relative form find the same base path.
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", alpha + "/"}).Out, rows.Out);
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", dir.File("none")}).Out, "");
}

TEST_F(CatalogueCommands, OddBytesAreEscapedInTextAndReplacedInJson) {
    std::string odd = dir.File("bad\xff\xfe name"), shownOdd = dir.File("bad\\xFF\\xFE name");
    fs::create_directories(odd);
    std::string key = Take(odd, "odd \xc3\x1b[2K\nline \xc2\x9b\\");
    const std::string shownDescription = "odd \\xC3\\x1B[2K\\x0Aline \\xC2\\x9B\\\\";

    EXPECT_EQ(test::RunTool({"list", "--db", db}).Out, shownOdd + "\n");
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", odd}).Out,
              key + "\t1 directories\t0 files\t0\t" + shownDescription + "\n");
    auto info = test::RunTool({"info", "latest", "--db", db});
    EXPECT_NE(info.Out.find("\nBase path:         " + shownOdd + "\nDescription:       " + shownDescription + "\n"),
              std::string::npos)
        << info.Out;
    for (auto args : {std::vector<std::string>{"list", "--db", db, "--json"},
                      std::vector<std::string>{"list", "--db", db, "--json", "--path", odd},
                      std::vector<std::string>{"info", "latest", "--db", db, "--json"}}) {
        auto run = test::RunTool(args);
        EXPECT_EQ(run.ExitCode, 0) << run.Err;
        EXPECT_NO_THROW(nlohmann::json::parse(run.Out)) << run.Out;
        EXPECT_NE(run.Out.find("\xef\xbf\xbd"), std::string::npos);  // the replacement character
    }
}

TEST_F(CatalogueCommands, InfoByKeyOrLatest) {
    std::string key = Take(alpha, "one");
    auto info = test::RunTool({"info", key, "--db", db});
    ASSERT_EQ(info.ExitCode, 0) << info.Err;
    EXPECT_NE(info.Out.find("Base path:         " + alpha + "\n"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("Bytes:             3000 (2 KB)\n"), std::string::npos) << info.Out;
    EXPECT_NE(info.Out.find("Files recorded:    N (from 0 bytes)\n"), std::string::npos) << info.Out;

    auto latest = nlohmann::json::parse(test::RunTool({"info", "latest", "--db", db, "--json"}).Out);
    EXPECT_EQ(latest["key"], key);
    EXPECT_EQ(latest["directories"], 2);
    EXPECT_EQ(latest["files"], 1);
}

// The window program and the tool keep one history: without --db the tool
// takes the default beside the programs and writes it as the first recent
// entry, as the window program does; an explicit --db leaves the list alone.
TEST_F(CatalogueCommands, WithoutDbTheDefaultBesideTheProgramsBecomesTheFirstRecentEntry) {
    const std::string config = dir.File("config");
    const std::string settings = config + "/Corvina/Corvina.conf";
    test::ToolRedirect keep;
    keep.ConfigHome = config;
    EXPECT_EQ(test::RunTool({"list", "--db", db}, false, keep).ExitCode, 1);
    EXPECT_FALSE(fs::exists(settings));

    const std::string beside = (fs::path(CORVINA_CLI_PATH).parent_path() / "corvina.mdb").string();
    auto run = test::RunTool({"list"}, false, keep);
    if (fs::exists(beside)) GTEST_SKIP() << "a default database exists beside the programs";
    EXPECT_EQ(run.Err, "corvina: No snapshot database at " + beside + "\n");
    std::ifstream in(settings);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("File1=" + beside), std::string::npos) << text;
}

TEST_F(CatalogueCommands, MissingDatabaseUnknownAndMalformedKeys) {
    // Read commands create nothing: a mistyped --db is an error, not a new file.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"list"}, {"list", "--path", alpha}, {"info", "latest"}, {"delete", "latest"},
          {"analyse", "directory-details"}}) {
        std::vector<std::string> withDb = args;
        withDb.insert(withDb.end(), {"--db", db});
        auto run = test::RunTool(withDb);
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_EQ(run.Err, "corvina: No snapshot database at " + db + "\n") << args[0];
        EXPECT_FALSE(fs::exists(db)) << args[0];
        // An empty name is bad usage, not the default database.
        withDb.back() = "";
        EXPECT_EQ(test::RunTool(withDb).ExitCode, 2) << args[0];
    }
    EXPECT_EQ(test::RunTool({"info", "yesterday", "--db", db}).ExitCode, 2);

    ASSERT_EQ(test::RunTool({"check", "--db", db}).ExitCode, 0);
    auto none = test::RunTool({"info", "latest", "--db", db});
    EXPECT_EQ(none.ExitCode, 1);
    EXPECT_NE(none.Err.find("no snapshot"), std::string::npos) << none.Err;

    auto missing = test::RunTool({"info", "2001-02-03 04:05:06", "--db", db});
    EXPECT_EQ(missing.ExitCode, 1);
    EXPECT_NE(missing.Err.find("Snapshot 2001-02-03 04:05:06 not found"), std::string::npos) << missing.Err;

    EXPECT_EQ(test::RunTool({"info", "yesterday", "--db", db}).ExitCode, 2);
    EXPECT_EQ(test::RunTool({"delete", "2001-02-30 04:05:06", "--db", db}).ExitCode, 2);
    EXPECT_EQ(test::RunTool({"delete", "2001-02-03 04:05:06", "--db", db}).ExitCode, 1);
    EXPECT_EQ(test::RunTool({"info", "--db", db}).ExitCode, 2);
}

TEST_F(CatalogueCommands, DeleteRemovesOneSnapshotFromAllTables) {
    std::string kept = Take(alpha, "kept");
    std::string gone = Take(alpha, "gone");
    auto run = test::RunTool({"delete", "latest", "--db", db});
    ASSERT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out, "Snapshot " + gone + " deleted\n");

    SQLite::Database file(db, SQLite::OPEN_READONLY);
    EXPECT_EQ(file.execAndGet("SELECT count(*) FROM Control").getInt(), 1);
    EXPECT_EQ(file.execAndGet("SELECT count(*) FROM Dir WHERE Snapshot <> '" + kept + "'").getInt(), 0);
    EXPECT_EQ(file.execAndGet("SELECT count(*) FROM Dir").getInt(), 3);
    EXPECT_EQ(test::RunTool({"delete", gone, "--db", db}).ExitCode, 1);
}

}  // namespace
}  // namespace corvina
