// corvina-cli list, info, delete, prune, check and analyse: over snapshots taken by
// the tool itself, over files it did not make, with output that cannot be
// written, and over a file with a damaged page; a prune on a server too,
// beside one. The analyse cases run on a small pair of snapshots written
// through the store.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include <fmt/format.h>

#include "capture/SnapshotRun.h"
#include "store/Catalogue.h"
#include "store/DiskUsage.h"
#include "store/HostLabel.h"
#include "store/SnapshotDatabase.h"
#include "tests/cli/RunTool.h"
#include "tests/support/DiskRows.h"
#include "tests/support/LayoutChoice.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using testing::HasSubstr;

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

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
    std::string Take(const std::string& path, const std::string& description, const Args& more = {}) {
        Args args{"snapshot", path, "--description", description};
        args.insert(args.end(), more.begin(), more.end());
        return test::FirstField(test::RunOkOn(db, args).Out);
    }

    test::TempDir dir;
    std::string db, alpha, beta;
};

TEST_F(CatalogueCommands, ListShowsBasePathsThenSnapshotsNewestFirstAndInfoOneOfThem) {
    std::string first = Take(alpha, "one");
    std::string second = Take(alpha, "two");
    Take(beta, "other");

    EXPECT_EQ(test::RunTool({"list", "--db", db}).Out, alpha + "\n" + beta + "\n");
    auto rows = test::RunOkOn(db, {"list", "--path", alpha});
    EXPECT_EQ(rows.Out, second + "\t2 directories\t1 files\t2 KB\ttwo\n" + first + "\t2 directories\t1 files\t2 KB\tone\n");
    auto parsed = nlohmann::json::parse(test::RunTool({"list", "--db", db, "--path", beta, "--json"}).Out);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["description"], "other");
    EXPECT_EQ(parsed[0]["basepath"], beta);
    // A trailing separator finds the same base path.
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", alpha + "/"}).Out, rows.Out);
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", dir.File("none")}).Out, "");

    auto info = test::RunOkOn(db, {"info", first});
    for (const std::string& line : {"Base path:         " + alpha + "\n", std::string("Bytes:             3000 (2 KB)\n"),
                                   std::string("Files recorded:    N (from 0 bytes)\n")}) {
        EXPECT_THAT(info.Out, HasSubstr(line));
    }
    auto latest = nlohmann::json::parse(test::RunTool({"info", "latest", "--db", db, "--json"}).Out);
    EXPECT_EQ(latest["description"], "other");
    EXPECT_EQ(latest["directories"], 1);
    EXPECT_EQ(latest["collectfiles"], "N");

    // Both totals: 3000 bytes take whole blocks on disk, and no file is recorded.
    auto json = nlohmann::json::parse(test::RunTool({"info", first, "--db", db, "--json"}).Out);
    ASSERT_TRUE(json["diskbytes"].is_number()) << json;
    const std::int64_t disk = json["diskbytes"];
    EXPECT_TRUE(disk >= 3000 && disk % 512 == 0) << disk;
    EXPECT_EQ(json["collecteddiskbytes"], 0);
    EXPECT_THAT(info.Out, HasSubstr("Bytes on disk:     " + std::to_string(disk) + " ("));
    EXPECT_THAT(info.Out, HasSubstr("Collected on disk: 0 (0)\n"));
    // A snapshot taken before blocks were recorded, and a database from before
    // the table: no figure on disk, never a made-up one.
    SQLite::Database(db, SQLite::OPEN_READWRITE).exec("DELETE FROM Diskusage WHERE Snapshot = '" + first + "'");
    info = test::RunOkOn(db, {"info", first});
    EXPECT_THAT(info.Out, HasSubstr("Bytes on disk:     \u2014\nFiles collected:"));
    EXPECT_THAT(info.Out, HasSubstr("Collected on disk: \u2014\n"));
    SQLite::Database(db, SQLite::OPEN_READWRITE).exec("DROP TABLE Diskusage");
    json = nlohmann::json::parse(test::RunOkOn(db, {"info", "latest", "--json"}).Out);
    EXPECT_TRUE(json["diskbytes"].is_null() && json["collecteddiskbytes"].is_null()) << json;
}

// The same base path from two machines is listed once per host, and each
// snapshot with its host; a database of one host lists as one without labels.
TEST_F(CatalogueCommands, ListShowsHostsOnlyWhenTheDatabaseHoldsSeveralAndDeleteTakesTheHostRow) {
    const auto list = [&](Args args) {
        args.insert(args.begin(), "list");
        return test::RunOn(db, args).Out;
    };
    const std::string first = Take(alpha, "north", {"--host-label", "north"});
    // One host lists as the database of the first test does, without a host field.
    EXPECT_FALSE(nlohmann::json::parse(list({"--path", alpha, "--json"}))[0].contains("host"));

    const std::string second = Take(alpha, "south", {"--host-label", "south"});
    Take(beta, "north", {"--host-label", "north"});
    EXPECT_EQ(list({}), alpha + "\tnorth\n" + alpha + "\tsouth\n" + beta + "\tnorth\n");
    EXPECT_EQ(list({"--path", alpha}), second + "\tsouth\t2 directories\t1 files\t2 KB\tsouth\n" + first +
                                           "\tnorth\t2 directories\t1 files\t2 KB\tnorth\n");
    auto rows = nlohmann::json::parse(list({"--path", alpha, "--json"}));
    EXPECT_EQ(std::tuple(rows[0]["host"], rows[1]["host"]), std::tuple("south", "north"));
    // Scripts read these fields, and only these.
    std::vector<std::string> fields;
    for (const auto& [name, value] : rows[0].items()) fields.push_back(name);
    EXPECT_EQ(fields, (std::vector<std::string>{"basepath", "bytes", "description", "directories", "files", "host",
                                                "key", "size"}));
    EXPECT_EQ(nlohmann::json::parse(list({"--json"})), nlohmann::json({alpha, beta}));

    // A snapshot taken before hosts were recorded is one of an unknown host.
    SQLite::Database(db, SQLite::OPEN_READWRITE).exec("DELETE FROM Host WHERE Snapshot = '" + first + "'");
    EXPECT_EQ(list({}), alpha + "\tunknown host\n" + alpha + "\tsouth\n" + beta + "\tnorth\n");

    ASSERT_EQ(test::RunTool({"delete", second, "--db", db}).ExitCode, 0);
    EXPECT_EQ(test::Query(db, "SELECT count(*) FROM Host WHERE Snapshot = '" + second + "'"), "0");
    EXPECT_EQ(list({}), alpha + "\n" + beta + "\n");
}

// A history to prune, the same on a file and on a server: nightly snapshots
// of /srv on host north from 1 to 10 March 2024 at 02:00 and one more at
// 14:00 on the 10th, and /home on host south on 1 February and 5 March at
// 03:00. Each holds 300 files rows, so that what a prune removes shows in the
// file's size.
void AddPruneHistory(const std::string& location) {
    std::vector<std::pair<std::string, std::string>> keys;  // key, base path
    for (int day = 1; day <= 10; ++day) keys.emplace_back(fmt::format("2024-03-{:02} 02:00:00", day), "/srv");
    keys.emplace_back("2024-03-10 14:00:00", "/srv");
    keys.emplace_back("2024-02-01 03:00:00", "/home");
    keys.emplace_back("2024-03-05 03:00:00", "/home");
    test::WithDatabase(location, [&](DatabaseState& state) {
        for (const auto& [key, base] : keys) {
            test::SnapshotRows snap{.Key = key.c_str(), .BasePath = base, .Dirs = {{"2", base, 300, 300.0 * 4096}}, .Files = {}};
            for (int i = 0; i < 300; ++i) {
                snap.Files.push_back({base + "/data", fmt::format("report-{:04}-of-a-long-series.pdf", i), 4096});
            }
            test::AddSnapshot(state, snap);
            ASSERT_TRUE(WriteHostLabel(state, test::Key(key.c_str()), base == "/srv" ? "north" : "south").Ok());
        }
    });
}

// What a dry run of --keep-daily 3 --keep-last 1 --host north says of that history.
const std::string kPruneDryRun =
    "keep\t2024-03-10 14:00:00\t/srv\tnorth\n"
    "remove\t2024-03-10 02:00:00\t/srv\tnorth\n"
    "keep\t2024-03-09 02:00:00\t/srv\tnorth\n"
    "keep\t2024-03-08 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-07 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-06 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-05 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-04 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-03 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-02 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-01 02:00:00\t/srv\tnorth\n"
    "8 snapshots would be removed, 3 kept\n";
// The keys left after it, in key order.
const std::string kPrunedKeys =
    "2024-02-01 03:00:00,2024-03-05 03:00:00,2024-03-08 02:00:00,2024-03-09 02:00:00,2024-03-10 14:00:00";
// Three machines share a database, and this one's snapshot is not the
// newest: a command reads this machine's snapshots or the host asked for,
// never silently another's, and a machine that is gone can be retired.
TEST_F(CatalogueCommands, CommandsReadThisMachinesSnapshotsOrTheHostNamedAndPruneRetiresAHost) {
    const std::string mine = Take(alpha, "mine");
    const std::string theirs = Take(alpha, "theirs", {"--host-label", "elsewhere"});
    const std::string third = Take(beta, "third", {"--host-label", "third"});
    const auto latest = [&](Args more) {
        Args args{"info", "latest", "--json"};
        args.insert(args.end(), more.begin(), more.end());
        return nlohmann::json::parse(test::RunOkOn(db, args).Out);
    };
    // The trend of a directory below the base path keeps to the host as the base path's does.
    const auto trendKeys = [&](Args more) {
        Args args{"trend", "--dir", alpha + "/sub", "--format", "json"};
        args.insert(args.end(), more.begin(), more.end());
        const auto doc = nlohmann::json::parse(test::RunOkOn(db, args).Out);
        std::vector<std::string> keys;
        for (const auto& point : doc["points"]) keys.push_back(point["snapshot"]);
        return keys;
    };
    EXPECT_EQ(std::tuple(latest({})["key"], latest({})["host"]), std::tuple(mine, MachineName()));
    EXPECT_EQ(latest({"--host", "elsewhere"})["description"], "theirs");
    EXPECT_EQ(trendKeys({}), std::vector<std::string>{mine});
    EXPECT_EQ(trendKeys({"--host", "elsewhere"}), std::vector<std::string>{theirs});
    auto objects = nlohmann::json::parse(test::RunOkOn(db, {"list", "--format", "json", "--host", "elsewhere"}).Out);
    ASSERT_EQ(objects.size(), 1u) << objects;
    EXPECT_EQ(std::tuple(objects[0]["path"], objects[0]["host"], objects[0]["snapshots"].size()),
              std::tuple(alpha, "elsewhere", 1u));
    EXPECT_EQ(objects[0]["snapshots"][0]["key"], theirs);
    EXPECT_EQ(nlohmann::json::parse(test::RunOkOn(db, {"list", "--format", "json"}).Out).size(), 3u);
    auto nobody = test::RunOn(db, {"info", "latest", "--host", "nobody"});
    EXPECT_EQ(nobody.ExitCode, 1);
    EXPECT_THAT(nobody.Err, HasSubstr("no snapshot of host nobody"));

    // Without this machine's snapshots the command asks for a host; a key needs none.
    ASSERT_EQ(test::RunTool({"delete", mine, "--db", db}).ExitCode, 0);
    for (const Args& args : {Args{"info", "latest"}, Args{"growth"}, Args{"trend", "--path", alpha},
                             Args{"prune", "--keep-last", "1"}}) {
        auto asked = test::RunOn(db, args);
        EXPECT_EQ(std::tuple(asked.ExitCode, asked.Out), std::tuple(2, "")) << args[0];
        EXPECT_THAT(asked.Err, HasSubstr("name one with --host:\n  elsewhere\n  third\n"));
    }
    EXPECT_EQ(test::RunOn(db, {"info", theirs}).ExitCode, 0);

    // --keep-last 0 takes a host's every snapshot, and only with the host named.
    EXPECT_EQ(test::RunOn(db, {"prune", "--keep-last", "0"}).ExitCode, 2);
    EXPECT_EQ(test::RunOkOn(db, {"prune", "--keep-last", "0", "--host", "third"}).Out,
              "removed\t" + third + "\t" + beta + "\tthird\n1 snapshot removed, 0 kept\n");
    // One host is left: the database reads as one of a single machine.
    EXPECT_EQ(latest({})["key"], theirs);
    EXPECT_EQ(test::RunOkOn(db, {"list"}).Out, alpha + "\n");
}

// A laptop flew from Tokyo to New York: its second snapshot has the earlier
// local key. latest, previous, the history and the trend follow the
// instants, in a file and on a server, and info shows them.
TEST_F(CatalogueCommands, SnapshotsOfAHostThatChangedZonesAreOrderedByTheirInstantsOnFileAndServer) {
    const test::ServerSchema schema;
    std::vector<std::string> locations{db};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    const char* east = "2024-06-01 09:00:00";  // 00:00 UTC
    const char* west = "2024-05-31 22:00:00";  // 02:00 UTC
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        test::WithDatabase(location, [&](DatabaseState& state) {
            test::AddSnapshot(state, {.Key = east, .BasePath = "/data", .Dirs = {{"2", "/data", 1, 100}}, .Files = {},
                                      .Instant = 1717200000, .Utcoffset = 9 * 3600});
            test::AddSnapshot(state, {.Key = west, .BasePath = "/data", .Dirs = {{"2", "/data", 2, 300}}, .Files = {},
                                      .Instant = 1717207200, .Utcoffset = -4 * 3600});
        });
        auto latest = nlohmann::json::parse(test::RunOkOn(location, {"info", "latest", "--json"}).Out);
        EXPECT_EQ(std::tuple(latest["key"], latest["instant"], latest["utc_offset"]),
                  std::tuple(west, "2024-06-01T02:00:00Z", "-04:00"));
        EXPECT_THAT(test::RunOkOn(location, {"info", east}).Out,
                    HasSubstr("Snapshot:          2024-06-01 09:00:00\nInstant:           2024-06-01T00:00:00Z\n"
                              "UTC offset:        +09:00\n"));
        EXPECT_EQ(test::FirstField(test::RunOkOn(location, {"list", "--path", "/data"}).Out), west);

        auto growth = nlohmann::json::parse(test::RunOkOn(location, {"growth", "--format", "json"}).Out);
        EXPECT_EQ(growth["title"], "Where did /data grow from 1 Jun to 31 May");
        auto history = test::RunOkOn(location, {"analyse", "directory-history", "--dir", "/data", "--format", "csv"}).Out;
        EXPECT_LT(history.find("2024-06-01 09:00"), history.find("2024-05-31 22:00")) << history;
        auto trend = nlohmann::json::parse(test::RunOkOn(location, {"trend", "--path", "/data", "--format", "json"}).Out);
        EXPECT_EQ(std::tuple(trend["points"][0]["snapshot"], trend["points"][1]["snapshot"]), std::tuple(east, west));
    }
}

// The database file and its write-ahead log, as the next run finds them.
std::uintmax_t BytesOnDisk(const std::string& db) {
    std::error_code error;
    const std::uintmax_t log = fs::file_size(db + "-wal", error);
    return fs::file_size(db) + (error ? 0 : log);
}

// The same history pruned in a file and, beside a database server, on the server.
TEST_F(CatalogueCommands, PruneListsWhatItWouldRemoveThenRemovesExactlyThatOnFileAndServer) {
    // Snapshots of the tables layout share no rows: each pruned one is its share of the file.
    const test::TablesLayout tablesLayout;
    const test::ServerSchema schema;
    std::vector<std::string> locations{db};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    const std::string counts = "SELECT count(*), (SELECT count(*) FROM files), (SELECT count(*) FROM Host) FROM Control";
    const Args policy{"prune", "--keep-daily", "3", "--keep-last", "1", "--host", "north"};
    std::string removed;
    for (std::size_t at = 0; (at = kPruneDryRun.find("remove\t", at)) != std::string::npos; ++at) {
        removed += "removed" + kPruneDryRun.substr(at + 6, kPruneDryRun.find('\n', at) - at - 5);
    }
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        const bool file = location == db;
        const auto rows = [&](const std::string& sql) { return test::RowsAt(location, sql); };
        AddPruneHistory(location);
        ASSERT_EQ(rows(counts), "13|3900|13");
        Args dryRun = policy;
        dryRun.push_back("--dry-run");
        EXPECT_EQ(test::RunOkOn(location, dryRun).Out, kPruneDryRun);
        EXPECT_EQ(rows(counts), "13|3900|13");

        const std::uintmax_t size = file ? BytesOnDisk(db) : 0;
        EXPECT_EQ(test::RunOkOn(location, policy).Out, removed + "8 snapshots removed, 3 kept\n");
        EXPECT_EQ(rows("SELECT Snapshot FROM Control ORDER BY Snapshot"), kPrunedKeys);
        for (const char* table : {"Dir", "files", "Host"}) {
            EXPECT_EQ(rows(std::string("SELECT count(DISTINCT Snapshot) FROM ") + table +
                           " WHERE Snapshot NOT IN (SELECT Snapshot FROM Control)"),
                      "0")
                << table;
        }
        EXPECT_EQ(rows(counts), "5|1500|5");
        if (!file) continue;
        // Eight of thirteen snapshots gone: the file gives back at least half.
        EXPECT_LT(BytesOnDisk(db), size / 2) << size;
    }
    EXPECT_EQ(test::RunOkOn(db, policy).Out, "nothing to remove, 3 snapshots kept\n");
    // One base path alone; its host's other base paths stay whole.
    EXPECT_EQ(test::RunOkOn(db, {"prune", "--keep-last", "1", "--path", "/home", "--host", "south"}).Out,
              "removed\t2024-02-01 03:00:00\t/home\tsouth\n1 snapshot removed, 1 kept\n");
    EXPECT_EQ(test::Query(db, "SELECT count(*) FROM Control WHERE Basepath = '/srv'"), "3");

    // A path without snapshots is refused and changes nothing; bad usage: Usage.
    auto none = test::RunOn(db, {"prune", "--keep-last", "1", "--path", dir.File("none"), "--host", "north"});
    EXPECT_EQ(std::tuple(none.ExitCode, none.Out), std::tuple(1, ""));
    EXPECT_THAT(none.Err, HasSubstr("no snapshot of " + dir.File("none")));
    EXPECT_EQ(test::Query(db, "SELECT count(*) FROM Control"), "4");
    EXPECT_EQ(test::RunOn(dir.File("absent.mdb"), {"prune", "--keep-last", "1"}).ExitCode, 1);
    EXPECT_FALSE(fs::exists(dir.File("absent.mdb")));
}

// Text output escapes as every other output does; JSON must stay valid.
TEST_F(CatalogueCommands, OddBytesAreEscapedInTextAndReplacedInJson) {
    std::string odd = dir.File("bad\xff\xfe name");
    fs::create_directories(odd);
    std::string key = Take(odd, "odd \xc3\x1b[2K\nline \xc2\x9b\\");
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", odd}).Out,
              key + "\t1 directories\t0 files\t0\todd \\xC3\\x1B[2K\\x0Aline \\xC2\\x9B\\\\\n");
    for (const Args& args : {Args{"list", "--db", db, "--json"}, Args{"info", "latest", "--db", db, "--json"}}) {
        auto run = test::RunOk(args);
        EXPECT_NO_THROW(nlohmann::json::parse(run.Out)) << run.Out;
        EXPECT_THAT(run.Out, HasSubstr("\xef\xbf\xbd"));  // the replacement character
    }
}

// The window program and the tool keep one history: without --db the tool
// takes the default beside the programs and writes it as the first recent
// entry, as the window program does; an explicit --db leaves the list alone.
TEST_F(CatalogueCommands, WithoutDbTheDefaultBesideTheProgramsBecomesTheFirstRecentEntry) {
    const std::string config = dir.File("config"), settings = config + "/Corvina/Corvina.conf";
    EXPECT_EQ(test::RunTool({"list", "--db", db}, {.ConfigHome = config}).ExitCode, 1);
    EXPECT_FALSE(fs::exists(settings));

    const std::string beside = (fs::path(CORVINA_CLI_PATH).parent_path() / "corvina.mdb").string();
    auto run = test::RunTool({"list"}, {.ConfigHome = config});
    if (fs::exists(beside)) GTEST_SKIP() << "a default database exists beside the programs";
    EXPECT_EQ(run.Err, "corvina: No snapshot database at " + beside + "\n");
    EXPECT_THAT(test::ReadFile(settings), HasSubstr("File1=" + beside));
}

TEST_F(CatalogueCommands, MissingDatabaseUnknownAndMalformedKeysAndBadUsage) {
    // Read commands create nothing: a mistyped --db is an error, not a new file.
    for (const Args& args : {Args{"list"}, {"list", "--path", alpha}, {"info", "latest"}, {"delete", "latest"},
                             {"analyse", "directory-details"}}) {
        auto run = test::RunOn(db, args);
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_EQ(run.Err, "corvina: No snapshot database at " + db + "\n") << args[0];
        EXPECT_FALSE(fs::exists(db)) << args[0];
        // An empty name is bad usage, not the default database.
        EXPECT_EQ(test::RunOn("", args).ExitCode, 2) << args[0];
    }
    // Check creates the database and says so; the next check is silent.
    auto check = test::RunOkOn(db, {"check"});
    EXPECT_THAT(check.Err, HasSubstr("created snapshot database " + db));
    EXPECT_EQ(check.Out, "Snapshot database " + db + ": 0 snapshots of 0 base paths\n");
    EXPECT_EQ(test::RunTool({"check", "--db", db}).Err, "");

    const struct {
        Args Arguments;
        int ExitCode;
        const char* Said;
    } cases[] = {
        {{"info", "latest"}, 1, "no snapshot"},
        {{"info", "2001-02-03 04:05:06"}, 1, "Snapshot 2001-02-03 04:05:06 not found"},
        {{"delete", "2001-02-03 04:05:06"}, 1, ""},
    };
    EXPECT_EQ(test::RunTool({}).ExitCode, 2);  // no command
    for (const auto& c : cases) {
        auto run = test::RunOn(db, c.Arguments);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Arguments[0] << " " << c.Arguments.back();
        EXPECT_THAT(run.Err, HasSubstr(c.Said));
    }
    std::string notes = dir.File("notes.txt");
    test::WriteFile(notes, "not a database\n");
    auto foreign = test::RunTool({"check", "--db", notes});
    EXPECT_EQ(foreign.ExitCode, 1);
    EXPECT_THAT(foreign.Err, HasSubstr("does not seem to be a valid Corvina database"));
}

// Root writes anything, so the tool runs as an unprivileged user on an older
// file it may not upgrade (current files in places it may not write: DatabasePlaces).
TEST_F(CatalogueCommands, ReadOnlyFilesListAndLoadEverySnapshotUnchanged) {
    if (!test::CanDropPrivileges()) GTEST_SKIP() << "needs root and setpriv to run as another user";
    {
        SQLite::Database file(db, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        file.exec(test::kOlderTables + std::string(
                  "INSERT INTO Control VALUES ('2001-05-06 07:08:09', '/old', 'first', 'N', 0, 4, 9, 900, 0, 0);"
                  "INSERT INTO Control VALUES ('2001-06-06 07:08:09', '/old', 'second', 'N', 0, 5, 10, 1000, 0, 0);"
                  "INSERT INTO Dir VALUES ('2001-06-06 07:08:09', '2', '/old/x', 'x', '/old', 1, 1, 900);"));
    }
    fs::permissions(dir.Path(), fs::perms::all);
    fs::permissions(db, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const test::ToolOptions other{.Unprivileged = true};
    // Check says what the file holds, and fails: the upgrade it would make cannot be made.
    auto run = test::RunTool({"check", "--db", db}, other);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Err, "corvina: Table Control cannot be migrated\ncorvina: Table dir cannot be migrated\n"
                       "corvina: The snapshot database " + db + " cannot be written: this user may not write the "
                       "file; it stays in the older format\n");
    EXPECT_EQ(run.Out, "Snapshot database " + db + ": 2 snapshots of 1 base path (read-only)\n");
    // Only the total the file lacks is left out.
    auto list = test::RunOkOn(db, {"list", "--path", "/old"}, other);
    EXPECT_EQ(list.Out, "2001-06-06 07:08:09\t5 directories\t10 files\t\tsecond\n"
                        "2001-05-06 07:08:09\t4 directories\t9 files\t\tfirst\n");
    auto info = test::RunTool({"info", "2001-05-06 07:08:09", "--db", db}, other);
    EXPECT_THAT(info.Out, HasSubstr("Description:       first")) << info.Err;
    EXPECT_EQ(test::Query(db, "SELECT count(*) FROM pragma_table_info('Control')"), "10");
    // A directory's total the file lacks is said as such, not as a directory the snapshot does not hold.
    auto total = test::RunTool({"analyse", "directory-details", "--dir", "/old/x", "--db", db}, other);
    EXPECT_EQ(total.ExitCode, 1);
    EXPECT_THAT(total.Err,
                HasSubstr("corvina: Error: Other no such column: TotsizeF\n  While processing directory /old/x\n"));
}

// A file of an older layout (the tables, with a rowid files table beside a
// File1 index) is used as it is; compact converts it to the history layout,
// every row of every snapshot kept, but only while no other program writes.
TEST_F(CatalogueCommands, OlderLayoutWorksAsItIsAndCompactConvertsItWhenNobodyWrites) {
    SQLite::Database(db, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE)
        .exec(test::kOlderTables + "CREATE UNIQUE INDEX File1 ON files (Snapshot, Filedir, Filename);");
    auto take = [&] { return test::FirstField(test::RunOn(db, {"snapshot", alpha, "--files"}).Out); };
    test::WriteFile(alpha + "/empty", "");  // a row whose values are all falsy must survive too
    const std::string first = take();
    test::WriteFile(alpha + "/sub/f", std::string(5000, 'x'));
    test::WriteFile(alpha + "/new", "n");
    const std::string second = take();
    ASSERT_EQ(test::RunOn(db, {"list", "--path", alpha}).Out.substr(0, second.size()), second);
    const Args changed{"analyse", "changed-files", "--snapshot", second, "--compare", first, "--format", "csv",
                       "--unit", "B"};
    const std::string changes = test::RunOn(db, changed).Out;
    EXPECT_THAT(changes, HasSubstr("f," + alpha + "/sub,-2000,5000"));
    EXPECT_THAT(test::RunOn(db, {"analyse", "new-files", "--compare", first}).Out, HasSubstr("new"));
    const std::string layout = "SELECT count(*) FROM pragma_index_list('files') WHERE name = 'File1'";
    const std::string rows = "SELECT group_concat(r, '|') FROM (SELECT Snapshot || Filedir || Filename || Filesize || "
                             "Filetype || Fileattr || Filedate AS r FROM files ORDER BY 1)";
    EXPECT_EQ(test::Query(db, layout), "1");
    const std::string before = test::Query(db, rows);
    // The runs added the on-disk tables to the older file; compact keeps them,
    // and the files rows the figures are derived from.
    const FilediskSql terms = FilediskTerms({});
    const std::string diskRows = "SELECT (SELECT count(*) FROM Diskusage) || ' ' || (SELECT count(*) FROM Dirdisk) || "
                                 "' ' || (SELECT group_concat(r) FROM (SELECT f.Filename || " + terms.Diskbytes +
                                 " AS r FROM files f" + terms.Joins + " ORDER BY f.Snapshot, f.Filedir, f.Filename))";
    const std::string onDisk = test::Query(db, diskRows);
    EXPECT_TRUE(onDisk.starts_with("2 8 ")) << onDisk;

    {
        SQLite::Database writer(db, SQLite::OPEN_READWRITE);
        writer.exec("BEGIN IMMEDIATE");
        auto busy = test::RunOn(db, {"compact"});
        EXPECT_EQ(busy.ExitCode, 1);
        EXPECT_EQ(busy.Err, "corvina: Snapshot database " + db +
                                " is busy: another program has held it locked for too long. Try again later; "
                                "nothing compacted\n");
    }
    EXPECT_EQ(test::Query(db, layout), "1");

    const std::string converted = test::RunOkOn(db, {"compact"}).Out;
    EXPECT_TRUE(converted.starts_with("Snapshot database " + db + ": 2 snapshots converted to the history layout, "))
        << converted;
    EXPECT_EQ(test::Query(db, "SELECT type FROM sqlite_master WHERE name = 'files'"), "view");
    EXPECT_EQ(test::Query(db, rows), before);
    EXPECT_EQ(test::Query(db, diskRows), onDisk);
    EXPECT_EQ(test::RunOn(db, changed).Out, changes);
    EXPECT_EQ(test::RunOn(db, {"delete", first}).ExitCode, 0);
    EXPECT_EQ(test::RunOn(db, {"compact"}).Out, "Snapshot database " + db + ": in the history layout already\n");
    // The second snapshot keeps its rows whole without the first.
    EXPECT_THAT(test::RunOn(db, {"analyse", "files-in-tree", "--format", "csv"}).Out, HasSubstr("new"));
}

// Output that could not be written is a failure: the command says why on
// stderr and exits with 1, even when its work (a delete) was done.
TEST_F(CatalogueCommands, AFullStdoutOrStderrEndsEveryCommandWithExitOne) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    ASSERT_EQ(test::RunTool({"snapshot", alpha, "--db", db, "--files"}).ExitCode, 0);
    for (const Args& args : {Args{"list", "--db", db}, Args{"list", "--db", db, "--path", alpha},
                             Args{"info", "latest", "--db", db}, Args{"info", "latest", "--db", db, "--json"},
                             Args{"check", "--db", db}, Args{"analyse", "directory-details", "--db", db},
                             Args{"analyse", "files-in-tree", "--db", db, "--format", "csv"}, Args{"--help"},
                             Args{"delete", "latest", "--db", db}}) {
        auto run = test::RunTool(args, {.StdoutPath = "/dev/full"});
        EXPECT_EQ(run.ExitCode, 1) << args[0];
        EXPECT_EQ(run.Err, "corvina: cannot write output: No space left on device\n") << args[0];
    }
    // The delete itself happened; only its confirmation was lost.
    EXPECT_EQ(test::RunTool({"list", "--db", db, "--path", alpha}).Out, "");
    // The snapshot is taken, but its progress lines went nowhere.
    auto run = test::RunTool({"snapshot", alpha, "--db", db}, {.StderrPath = "/dev/full"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_THAT(run.Out, HasSubstr("\t" + alpha + "\t"));
}

// The /srv snapshots of 1 and 2 May record files; that of 3 May does not.
test::SnapshotRows Srv(const char* key, bool collect, std::vector<test::FileRow> files,
                       const std::vector<std::pair<const char*, double>>& dirs) {
    test::SnapshotRows snap{.Key = key, .BasePath = "/srv", .Dirs = {}, .Files = std::move(files), .Collect = collect};
    for (const auto& [name, bytes] : dirs) snap.Dirs.push_back({"2", name, 1, bytes});
    return snap;
}

class AnalyseCommand : public ::testing::Test {
protected:
    // The on-disk rows of one test are written straight into tables.
    const test::TablesLayout tablesLayout_;

    void SetUp() override {
        db_ = dir_.File("a.mdb");
        test::WithDatabase(db_, [](DatabaseState& state) {
            const char* date = "2024-01-02 03:04:05";
            test::AddSnapshot(state, Srv("2024-05-01 08:00:00", true, {{"/srv/web", "a,\"b\".html", 2048, date}},
                                         {{"/srv/web", 2048}, {"/srv/old", 100}, {"/srv", 2148}}));
            test::AddSnapshot(state, Srv("2024-05-02 08:00:00", true,
                                         {{"/srv/web", "a,\"b\".html", 4096, date}, {"/srv/web/x", "n.txt", 1024, date}},
                                         {{"/srv/web/x", 1024}, {"/srv/web", 5120}, {"/srv", 5120}}));
            test::AddSnapshot(state, Srv("2024-05-03 08:00:00", false, {}, {{"/srv/web", 5120}, {"/srv", 5120}}));
        });
    }

    // An analysis that must succeed.
    test::ToolRun Analyse(std::vector<std::string> args) {
        args.insert(args.begin(), "analyse");
        return test::RunOkOn(db_, args);
    }
    // The arguments with "--format format" after them.
    static Args As(Args args, const char* format) {
        args.insert(args.end(), {"--format", format});
        return args;
    }

    // Snapshots of base that record only the own files of directories: one
    // vector of Dir rows a snapshot, keyed by the key beside it.
    void AddOwnFiles(const char* base, std::vector<std::pair<const char*, std::vector<test::DirRow>>> snapshots) {
        test::WithDatabase(db_, [&](DatabaseState& state) {
            for (auto& [key, dirs] : snapshots) {
                test::AddSnapshot(state, {.Key = key, .BasePath = base, .Dirs = std::move(dirs), .Files = {}});
            }
        });
    }

    test::TempDir dir_;
    std::string db_;
};

TEST_F(AnalyseCommand, TableIsAlignedCsvQuotesFieldsAndJsonCarriesTheSameTexts) {
    EXPECT_EQ(Analyse({"directory-details", "--snapshot", "2024-05-02 08:00:00", "--unit", "B"}).Out,
              "Analysis of directory /srv\n"
              "Directory Name  # of Files  Total size (Bytes)  % of Total\n"
              "--------------  ----------  ------------------  ----------\n"
              "Total for /srv           1                5120         100\n"
              "web                      1                5120         100\n");

    // The headings are the header record, without the grid's padding.
    EXPECT_EQ(Analyse({"11", "--snapshot", "2024-05-02 08:00:00", "--unit", "K", "--format", "csv", "--dir", "/srv/web/"}).Out,
              "File,Directory,Size(KB),File Date\r\n"
              "Total for /srv/web, ,5,  \r\n"
              "\"a,\"\"b\"\".html\",/srv/web,4,2024-01-02 03:04 \r\n"
              "n.txt,/srv/web/x,1,2024-01-02 03:04 \r\n");

    // "previous" is the newest earlier snapshot of the same path.
    auto doc = nlohmann::json::parse(Analyse({"changed-files", "--snapshot", "2024-05-02 08:00:00", "--compare",
                                              "previous", "--format", "json", "--unit", "B"}).Out);
    EXPECT_EQ(doc["title"], "Changed files in /srv directory tree  (all files)");
    EXPECT_EQ(doc["compare"], "2024-05-01 08:00:00");
    EXPECT_EQ(doc["total"], nullptr);
    EXPECT_EQ(doc["rows"], nlohmann::json::parse(
                               R"([["a,\"b\".html", "/srv/web", "-2048", "4096", "2024-01-02 03:04 ", "2048", "2024-01-02 03:04 "]])"));
    EXPECT_EQ(doc["columns"][2]["heading"], "Change(Bytes)   ");
    EXPECT_EQ(doc["columns"][2]["align"], "right");
    // Each column's rule by its letter: text, count, size, percentage, date.
    auto formats = [](const nlohmann::json& columns) {
        std::string letters;
        for (const auto& column : columns) letters += column["format"].get<std::string>();
        return letters;
    };
    EXPECT_EQ(formats(doc["columns"]), "CCSSDSD");
    doc = nlohmann::json::parse(
        Analyse({"directory-details", "--snapshot", "2024-05-02 08:00:00", "--format", "json"}).Out);
    EXPECT_EQ(formats(doc["columns"]), "CNSP");
}

// --limit N: the grid's rows, a total row included, as the window's 1000.
TEST_F(AnalyseCommand, LimitCutsTheRowsAndEveryFormatSaysSo) {
    auto recent = [&](const char* limit, const char* format) {
        return Analyse(
            {"recently-changed-files", "--snapshot", "2024-05-02 08:00:00", "--limit", limit, "--format", format});
    };
    for (const char* format : {"csv", "table"}) {
        EXPECT_EQ(recent("1", format).Err, "corvina: Display truncated after 1 entries\n") << format;
    }
    EXPECT_EQ(recent("1", "csv").Out,
              "File,Directory,Size(MB),File Date\r\n\"a,\"\"b\"\".html\",/srv/web,0,2024-01-02 03:04 \r\n");
    for (const char* limit : {"1", "2", "0"}) {
        auto doc = nlohmann::json::parse(recent(limit, "json").Out);
        const bool cut = limit[0] == '1';
        EXPECT_EQ(std::tuple(doc["truncated"], doc["rows"].size()), std::tuple(cut, cut ? 1u : 2u)) << limit;
    }
    // The total row counts: a limit of 1 leaves no room for a detail row.
    auto run = Analyse({"directory-details", "--snapshot", "2024-05-02 08:00:00", "--limit", "1", "--format", "json"});
    EXPECT_EQ(nlohmann::json::parse(run.Out)["truncated"], true);
}

TEST_F(AnalyseCommand, MissingCompareOrFilesOrDirectoryAreClearErrors) {
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        const char* Said;
    } cases[] = {
        {{"analyse", "new-directories"}, 1, "needs a compare snapshot"},
        {{"analyse", "files-in-tree"}, 1, "recorded no files"},  // the latest snapshot
        {{"analyse", "new-files", "--snapshot", "2024-05-01 08:00:00", "--compare", "previous"}, 1,
         "no earlier snapshot of /srv"},
        {{"analyse", "directory-details", "--dir", "/srv/nowhere"}, 1, "holds no directory /srv/nowhere"},
    };
    for (const auto& c : cases) {
        auto run = test::RunOn(db_, c.Args);
        EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Args[1];
        EXPECT_THAT(run.Err, HasSubstr(c.Said));
    }
}

// The top directories by the growth of their own files. /big/a's own files
// then grow by 1704.5 MB; /big/b's shrink by 1.5 KB. Tables show each size in
// its own unit, files carry bytes. (Swapped snapshots: AnalysisKinds.)
TEST_F(AnalyseCommand, GrowthListsTheTopDirectoriesInAutoUnits) {
    AddOwnFiles("/srv", {{"2024-05-04 08:00:00", {{"1", "/srv/a/(files)", 1, 100}, {"1", "/srv/b/(files)", 1, 300}}},
                         {"2024-05-05 08:00:00",
                          {{"1", "/srv/a/(files)", 2, 400}, {"1", "/srv/b/(files)", 1, 200}, {"1", "/srv/c/(files)", 1, 50}}}});
    EXPECT_EQ(test::RunOkOn(db_, {"growth", "--top", "2", "--unit", "B", "--format", "csv"}).Out,
              "Directory,Change in files,Change (Bytes),Size (5 May) (Bytes),Size (4 May) (Bytes)\r\n"
              "Total for /srv,2,250,650,400\r\n"
              "/srv/a,1,300,400,100\r\n"
              "/srv/c,1,50,50,0\r\n");

    constexpr double kMiB = 1024.0 * 1024, kGiB = 1024 * kMiB, kGrowth = 1704.5 * kMiB;
    AddOwnFiles("/big", {{"2024-06-01 08:00:00", {{"1", "/big/a/(files)", 1, kMiB}, {"1", "/big/b/(files)", 4, 3 * kGiB}}},
                         {"2024-06-02 08:00:00",
                          {{"1", "/big/a/(files)", 2, kMiB + kGrowth}, {"1", "/big/b/(files)", 4, 3 * kGiB - 1536}}}});

    EXPECT_EQ(test::RunOkOn(db_, {"growth", "--snapshot", "2024-06-02 08:00:00"}).Out,
              "Where did /big grow from 1 Jun to 2 Jun\n"
              "Directory       Change in files  Change   Size (2 Jun)  Size (1 Jun)\n"
              "--------------  ---------------  -------  ------------  ------------\n"
              "Total for /big                1   1.6 GB        4.6 GB        3.0 GB\n"
              "/big/a                        1   1.6 GB        1.6 GB        1.0 MB\n"
              "/big/b                        0  -1.5 KB        2.9 GB        3.0 GB\n");

    auto doc = nlohmann::json::parse(test::RunOn(db_, {"growth", "--snapshot", "2024-06-02 08:00:00", "--format", "json"}).Out);
    EXPECT_EQ(doc["unit"], "B");
    EXPECT_EQ(doc["rows"][0], nlohmann::json::parse(R"(["/big/a", "1", "1787297792", "1788346368", "1048576"])"));
}

// --size disk: 2024-05-02 recorded its blocks, the snapshots before and after
// it did not (taken before they were recorded). What was not recorded reads
// "—" in a table, an empty field in CSV and null in JSON; a comparison on disk
// with such a snapshot is refused, naming --size apparent. 2024-05-02 also
// left out "*.tmp", which the comparisons with it say.
TEST_F(AnalyseCommand, OnDiskTheBlocksShowAndWhatWasNotRecordedOrLeftOutIsSaid) {
    test::WithDatabase(db_, [](DatabaseState& state) {
        test::AddDiskRows(state, {.Key = "2024-05-02 08:00:00",
                                  .Total = 12288,
                                  .Dirs = {{"/srv", 12288}, {"/srv/web", 12288}, {"/srv/web/x", 4096}},
                                  .Files = {{"/srv/web", "a,\"b\".html", 8192}, {"/srv/web/x", "n.txt", 4096}}});
        test::AddExclusions(state, "2024-05-02 08:00:00", {{"pattern", "*.tmp"}});
    });
    const Args older{"directory-details", "--snapshot", "2024-05-01 08:00:00", "--size", "disk"};
    EXPECT_EQ(Analyse(older).Out,
              "Analysis of directory /srv (on disk)\n"
              "Directory Name  # of Files  Total size (MB on disk)  % of Total\n"
              "--------------  ----------  -----------------------  ----------\n"
              "Total for /srv           1                        \u2014           \u2014\n"
              "old                      1                        \u2014           \u2014\n"
              "web                      1                        \u2014           \u2014\n");
    EXPECT_EQ(Analyse(As(older, "csv")).Out,
              "Directory Name,# of Files,Total size (MB on disk),% of Total\r\n"
              "Total for /srv,1,,\r\nold,1,,\r\nweb,1,,\r\n");
    auto doc = nlohmann::json::parse(Analyse(As(older, "json")).Out);
    EXPECT_EQ(doc["size"], "disk");
    EXPECT_EQ(doc["total"], nlohmann::json::parse(R"(["Total for /srv", "1", null, null])"));
    EXPECT_FALSE(doc.contains("exclusions_differ"));

    for (const auto& [compare, without] :
         {std::pair{Args{"analyse", "compare-directories", "--snapshot", "2024-05-02 08:00:00", "--compare", "previous",
                         "--size", "disk"},
                    "2024-05-01"},
          {Args{"growth", "--size", "disk"}, "2024-05-03"}}) {
        auto run = test::RunOn(db_, compare);
        EXPECT_EQ(std::tuple(run.ExitCode, run.Out), std::tuple(1, "")) << compare[0];
        EXPECT_EQ(run.Err, "corvina: Snapshot " + std::string(without) + " 08:00:00 has no on-disk figures (it was "
                           "taken before they were recorded): the two snapshots cannot be compared on disk. Use --size "
                           "apparent to compare their apparent sizes.\n");
    }

    // What the two left out, on apparent sizes as on disk: a line on
    // stderr beside a table, a field in JSON, nothing for one snapshot's result.
    const Args changed{"changed-files", "--snapshot", "2024-05-02 08:00:00", "--compare", "previous"};
    EXPECT_EQ(Analyse(changed).Err,
              "corvina: The snapshots left out different entries: 2024-05-02 08:00:00 left out \"*.tmp\", "
              "2024-05-01 08:00:00 nothing\n");
    auto run = Analyse(As(changed, "json"));
    EXPECT_EQ(nlohmann::json::parse(run.Out)["exclusions_differ"], true);
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(Analyse({"directory-details", "--snapshot", "2024-05-02 08:00:00", "--compare", "previous"}).Err, "");
    EXPECT_EQ(nlohmann::json::parse(Analyse({"changed-files", "--snapshot", "2024-05-01 08:00:00", "--compare",
                                             "2024-05-01 08:00:00", "--format", "json"}).Out)["exclusions_differ"],
              false);

    // The trend on disk: one snapshot of three measured, so no grower either.
    const Args trend{"trend", "--path", "/srv", "--size", "disk", "--unit", "B"};
    EXPECT_EQ(test::RunOkOn(db_, trend).Out,
              "Trend of /srv (on disk)\n"
              "Snapshot             Files  Bytes on disk  FS size  FS free\n"
              "-------------------  -----  -------------  -------  -------\n"
              "2024-05-01 08:00:00      1              \u2014\n"
              "2024-05-02 08:00:00      1          12288\n"
              "2024-05-03 08:00:00      1              \u2014\n"
              "Forecast: none (needs the file system of three snapshots over a day or more)\n"
              "Top grower: none on disk (fewer than two snapshots recorded on-disk figures)\n");
    auto points = nlohmann::json::parse(test::RunOkOn(db_, As(trend, "json")).Out);
    EXPECT_EQ(points["size"], "disk");
    EXPECT_EQ(std::tuple(points["points"][0]["bytes"], points["points"][1]["bytes"], points["top_grower"]["bytes"]),
              std::tuple(nullptr, 12288, nullptr));
}

// /data/logs appears in the second snapshot; used space grows 100 bytes a day
// towards a size of 1000, reached 7 days after the last snapshot.
TEST_F(AnalyseCommand, TrendFollowsADirectoryAndForecastsTheFileSystemFull) {
    const std::vector<test::DirRow> rows[] = {
        {{"2", "/data", 1, 100}, {"1", "/data/(files)", 1, 100}},
        {{"2", "/data", 2, 300}, {"1", "/data/(files)", 1, 100}, {"2", "/data/logs", 1, 200},
         {"1", "/data/logs/(files)", 1, 200}},
        {{"2", "/data", 3, 600}, {"1", "/data/(files)", 1, 100}, {"2", "/data/logs", 2, 500},
         {"1", "/data/logs/(files)", 1, 200}, {"2", "/data/logs/big", 1, 300}, {"1", "/data/logs/big/(files)", 1, 300}},
    };
    test::WithDatabase(db_, [&](DatabaseState& state) {
        const char* keys[] = {"2024-06-01 00:00:00", "2024-06-02 00:00:00", "2024-06-03 00:00:00"};
        for (int i = 0; i < 3; ++i) {
            test::AddSnapshot(state, {.Key = keys[i], .BasePath = "/data", .Dirs = rows[i], .Files = {}});
            ASSERT_TRUE(WriteFilesystemRow(state, test::Key(keys[i]), {1000, 900 - 100 * i}).Ok());
        }
    });

    auto run = test::RunOkOn(db_, {"trend", "--dir", "/data/logs/", "--format", "json"});
    EXPECT_EQ(nlohmann::json::parse(run.Out), nlohmann::json::parse(R"({"host": null, "path": "/data", "points": [
        {"snapshot": "2024-06-01 00:00:00", "files": 0, "bytes": 0, "fs_size": 1000, "fs_free": 900},
        {"snapshot": "2024-06-02 00:00:00", "files": 1, "bytes": 200, "fs_size": 1000, "fs_free": 800},
        {"snapshot": "2024-06-03 00:00:00", "files": 2, "bytes": 500, "fs_size": 1000, "fs_free": 700}],
      "forecast": {"full_on": "2024-06-10", "earliest": "2024-06-10", "latest": "2024-06-10", "bytes_per_day": 100},
      "days_left": 7, "top_grower": {"directory": "/data/logs/big", "bytes": 300}})"));
    // The /srv snapshots recorded no file system: no figures, no forecast.
    auto srv = nlohmann::json::parse(test::RunOn(db_, {"trend", "--path", "/srv", "--format", "json"}).Out);
    EXPECT_EQ(std::tuple(srv["points"].size(), srv["points"][0]["fs_size"], srv["forecast"]["full_on"], srv["days_left"]),
              std::tuple(3u, nullptr, nullptr, nullptr));
    EXPECT_EQ(test::RunOn(db_, {"trend", "--dir", "/nowhere"}).ExitCode, 1);

    // The table shows sizes in units; bytes stay plain numbers in CSV.
    EXPECT_EQ(test::RunOkOn(db_, {"trend", "--dir", "/data/logs"}).Out,
              "Trend of /data/logs\n"
              "Snapshot             Files   Size  FS size  FS free\n"
              "-------------------  -----  -----  -------  -------\n"
              "2024-06-01 00:00:00      0    0 B   1000 B    900 B\n"
              "2024-06-02 00:00:00      1  200 B   1000 B    800 B\n"
              "2024-06-03 00:00:00      2  500 B   1000 B    700 B\n"
              "Forecast: 2024-06-10 (between 2024-06-10 and 2024-06-10), 100 B a day\n"
              "Top grower: /data/logs/big (+300 B)\n");
    run = test::RunOn(db_, {"trend", "--dir", "/data/logs", "--format", "csv"});
    EXPECT_THAT(run.Out, HasSubstr("\r\n2024-06-03 00:00:00,2,500,1000,700\r\n"));
}

// Real database files with a page overwritten by garbage, as a failing disk
// or a stray write leaves them: every command that meets the damage says the
// file is damaged and exits 1, prints no partial grid, and appends nothing.

// The page number of a b-tree page of table or index name: its root, or a
// leaf from the middle of it.
std::int64_t PageOf(const std::string& db, const std::string& name, bool root) {
    SQLite::Database file(db, SQLite::OPEN_READONLY);
    SQLite::Statement q(file, root ? "SELECT rootpage FROM sqlite_master WHERE name = ?"
                                   : "SELECT pageno FROM dbstat WHERE name = ? AND pagetype = 'leaf' ORDER BY pageno");
    q.bind(1, name);
    std::vector<std::int64_t> pages;
    while (q.executeStep()) pages.push_back(q.getColumn(0).getInt64());
    return pages.empty() ? 0 : pages[pages.size() / 2];
}

void Garble(const std::string& db, std::int64_t page) {
    ASSERT_GT(page, 1);
    const std::int64_t size = SQLite::Database(db).execAndGet("PRAGMA page_size").getInt64();
    std::string garbage(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919 + 13) % 251);
    test::WriteAt(db, static_cast<std::uint64_t>((page - 1) * size), garbage);
}

TEST(DamagedFile, EveryCommandThatMeetsTheDamageSaysSoAndChangesNothing) {
    // The pages it damages are those of the tables layout.
    const test::TablesLayout tablesLayout;
    test::TempDir dir;
    const std::string root = dir.File("tree"), pristine = dir.File("pristine.mdb"), db = dir.File("damaged.mdb");
    test::MakeLinkTree(root, 20, 50);
    for (const char* description : {"first", "second"}) {
        test::RunOkOn(pristine, {"snapshot", root, "--files", "--description", description});
    }
    const struct {
        const char* Page;
        bool Root;
        std::vector<Args> Commands;
    } cases[] = {
        {"files", false,
         {{"check"}, {"check", "--full"}, {"analyse", "files-in-tree"}, {"analyse", "file-type-summary"},
          {"analyse", "changed-files", "--compare", "previous"}}},
        // These read the directory totals through lookups that fall back to
        // nothing: the damage must still end them.
        {"Dir", true, {{"analyse", "duplicate-files"}, {"analyse", "recently-changed-files"}}},
        {"Index1", true, {{"snapshot", root, "--files"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Page);
        for (const char* suffix : {"-wal", "-shm"}) fs::remove(db + suffix);
        fs::copy_file(pristine, db, fs::copy_options::overwrite_existing);
        const std::string dirRows = test::Query(db, "SELECT count(*) FROM Dir");
        Garble(db, PageOf(db, c.Page, c.Root));
        for (const Args& args : c.Commands) {
            auto run = test::RunOn(db, args);
            EXPECT_EQ(run.ExitCode, 1) << args[1];
            EXPECT_THAT(run.Err, HasSubstr("Snapshot database " + db + " is damaged: ")) << args[1];
            if (args[0] == "snapshot") {
                EXPECT_THAT(run.Err, HasSubstr("Snapshot aborted"));
                EXPECT_EQ(test::Query(db, "SELECT count(*) FROM Dir"), dirRows);
            } else if (args[0] == "analyse") {
                EXPECT_TRUE(run.Out.empty()) << args[1] << ": " << run.Out.substr(0, 200);
            }
        }
        if (std::string(c.Page) == "files") {
            // What does not touch the damaged page still works.
            EXPECT_EQ(test::RunTool({"list", "--db", db}).Out, root + "\n");
        }
    }
}

}  // namespace
}  // namespace corvina
