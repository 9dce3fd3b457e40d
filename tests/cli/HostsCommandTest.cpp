// corvina-cli hosts and alert over a crafted history of three hosts: file
// systems that fill in 2 and 7 days, one that empties, one base path with a
// single snapshot and no file system figures, and one taken two hours ago.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <sys/wait.h>

#include "store/Catalogue.h"
#include "store/HostLabel.h"
#include "tests/cli/RunTool.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using testing::HasSubstr;

using Args = std::vector<std::string>;
using Json = nlohmann::json;

// A quote and a backslash, which a Prometheus label must escape.
const char* const kOddPath = "/home/a\"b\\c";

struct Taken {
    const char* Key;
    std::string Host;
    std::string Base;
    std::vector<test::DirRow> Dirs;
    std::optional<FilesystemFigures> Filesystem;
};

// north /data: used grows 100 bytes a day towards 2200 over 05-20, 05-27,
// 06-02 and 06-03, full on 06-10; /data/old grew in the first week only,
// /data/logs in the last. south /data: full on 06-05. east: emptying.
std::vector<Taken> History(const std::string& freshKey) {
    const auto data = [](double logs, double old) {
        return std::vector<test::DirRow>{{"2", "/data", 2, logs + old},      {"1", "/data/(files)", 0, 0},
                                         {"2", "/data/logs", 1, logs},       {"1", "/data/logs/(files)", 1, logs},
                                         {"2", "/data/old", 1, old},         {"1", "/data/old/(files)", 1, old}};
    };
    const auto one = [](const std::string& base) { return std::vector<test::DirRow>{{"2", base, 1, 10}}; };
    return {
        {"2024-05-20 00:00:00", "north", "/data", data(100, 0), FilesystemFigures{2200, 2100}},
        {"2024-05-27 00:00:00", "north", "/data", data(100, 5000), FilesystemFigures{2200, 1400}},
        {"2024-06-02 00:00:00", "north", "/data", data(300, 5000), FilesystemFigures{2200, 800}},
        {"2024-06-03 00:00:00", "north", "/data", data(400, 5000), FilesystemFigures{2200, 700}},
        {"2024-06-01 01:00:00", "south", "/data", one("/data"), FilesystemFigures{500, 400}},
        {"2024-06-02 01:00:00", "south", "/data", one("/data"), FilesystemFigures{500, 300}},
        {"2024-06-03 01:00:00", "south", "/data", one("/data"), FilesystemFigures{500, 200}},
        {"2024-06-03 03:00:00", "south", "/srv", one("/srv"), std::nullopt},
        {"2024-06-01 02:00:00", "east", kOddPath, one(kOddPath), FilesystemFigures{1000, 100}},
        {"2024-06-02 02:00:00", "east", kOddPath, one(kOddPath), FilesystemFigures{1000, 200}},
        {"2024-06-03 02:00:00", "east", kOddPath, one(kOddPath), FilesystemFigures{1000, 300}},
        {freshKey.c_str(), "fresh", "/tmp", one("/tmp"), std::nullopt},
    };
}

void WriteHistory(const std::string& location, const std::string& freshKey) {
    test::WithDatabase(location, [&](DatabaseState& state) {
        for (const Taken& taken : History(freshKey)) {
            test::AddSnapshot(state, {.Key = taken.Key, .BasePath = taken.Base, .Dirs = taken.Dirs, .Files = {}});
            ASSERT_TRUE(WriteHostLabel(state, test::Key(taken.Key), taken.Host).Ok());
            if (taken.Filesystem) {
                ASSERT_TRUE(WriteFilesystemRow(state, test::Key(taken.Key), *taken.Filesystem).Ok());
            }
        }
    });
}

// Two hours ago in local time, as a run without a recorded instant keys it.
std::string TwoHoursAgo() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return FormatKey(DateTime::FromUnix(std::chrono::duration_cast<std::chrono::seconds>(now).count() - 7200));
}

// What promtool says of the exposition text, and its exit code.
std::pair<int, std::string> PromtoolCheck(const std::string& text, const test::TempDir& dir) {
    const std::string input = dir.File("metrics.prom");
    test::WriteFile(input, text);
    std::string said;
    FILE* pipe = popen(("promtool check metrics < '" + input + "' 2>&1").c_str(), "r");
    if (pipe == nullptr) return {-1, "promtool did not start"};
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) said += buffer;
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

class HostsCommand : public ::testing::Test {
protected:
    void SetUp() override { db_ = dir_.File("h.mdb"); }

    test::TempDir dir_;
    std::string db_;
};

TEST_F(HostsCommand, ListsFewestDaysLeftFirstWithNullWhereThereIsNoForecastOnFileAndServer) {
    const test::ServerSchema schema;
    std::vector<std::string> locations{db_};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        WriteHistory(location, TwoHoursAgo());
        const Json rows = Json::parse(test::RunOkOn(location, {"hosts", "--format", "json"}).Out);
        ASSERT_EQ(rows.size(), 5u) << rows.dump(1);
        std::vector<std::tuple<Json, Json, Json, Json>> order;
        for (const Json& row : rows) order.emplace_back(row["host"], row["path"], row["days_left"], row["full_on"]);
        EXPECT_EQ(order, (std::vector<std::tuple<Json, Json, Json, Json>>{
                             {"south", "/data", 2, "2024-06-05"},
                             {"north", "/data", 7, "2024-06-10"},
                             {"east", kOddPath, nullptr, nullptr},
                             {"fresh", "/tmp", nullptr, nullptr},
                             {"south", "/srv", nullptr, nullptr}}));
        // The week's grower, not that since the oldest snapshot (/data/old).
        EXPECT_EQ(rows[1]["top_grower"], Json({{"directory", "/data/logs"}, {"bytes", 300}}));
        EXPECT_EQ(std::tuple(rows[1]["fs_size"], rows[1]["fs_used"], rows[1]["bytes_per_day"], rows[1]["latest"]),
                  std::tuple(2200, 1500, 100, "2024-06-03 00:00:00"));
        EXPECT_EQ(std::tuple(rows[2]["bytes_per_day"], rows[3]["age_hours"]), std::tuple(-100, 2));
        EXPECT_EQ(std::tuple(rows[4]["fs_size"], rows[4]["fs_used"], rows[4]["bytes_per_day"], rows[4]["top_grower"]),
                  std::tuple(nullptr, nullptr, nullptr, nullptr));

        // The trend of a file system that empties says so in numbers, not words.
        const Json trend = Json::parse(test::RunOkOn(location, {"trend", "--host", "east", "--format", "json"}).Out);
        EXPECT_EQ(std::tuple(trend["host"], trend["path"], trend["forecast"]["full_on"], trend["forecast"]["latest"],
                             trend["forecast"]["bytes_per_day"], trend["days_left"]),
                  std::tuple("east", kOddPath, nullptr, nullptr, -100, nullptr));

        const std::string table = test::RunOkOn(location, {"hosts"}).Out;
        EXPECT_THAT(table, HasSubstr("south  /data "));
        EXPECT_LT(table.find("south  /data "), table.find("north  /data "));
        EXPECT_THAT(table, HasSubstr("not filling       none"));
        const std::string csv = test::RunOkOn(location, {"hosts", "--format", "csv"}).Out;
        EXPECT_THAT(csv, HasSubstr("\r\nnorth,/data,2024-06-03 00:00:00,"));
        EXPECT_THAT(csv, HasSubstr(",2200,1500,100,2024-06-10,7,/data/logs,300\r\n"));
    }
}

TEST_F(HostsCommand, PrometheusTextPassesPromtoolAndLeavesOutWhatIsNotKnown) {
    WriteHistory(db_, TwoHoursAgo());
    const std::string text = test::RunOkOn(db_, {"hosts", "--format", "prometheus"}).Out;
    const auto [code, said] = PromtoolCheck(text, dir_);
    EXPECT_EQ(code, 0) << said << text;
    EXPECT_EQ(said, "") << text;
    EXPECT_THAT(text, HasSubstr("# TYPE corvina_filesystem_full_in_seconds gauge\n"
                                "corvina_filesystem_full_in_seconds{host=\"south\",path=\"/data\"} 172800\n"
                                "corvina_filesystem_full_in_seconds{host=\"north\",path=\"/data\"} 604800\n#"));
    EXPECT_THAT(text, HasSubstr("corvina_filesystem_used_bytes{host=\"east\",path=\"/home/a\\\"b\\\\c\"} 700\n"));
    EXPECT_EQ(text.find("corvina_filesystem_size_bytes{host=\"south\",path=\"/srv\"}"), std::string::npos) << text;
}

TEST_F(HostsCommand, AlertExitsAsAMonitoringPluginWithTheWorstLineDeciding) {
    WriteHistory(db_, TwoHoursAgo());
    const auto alert = [&](Args args) {
        args.insert(args.begin(), "alert");
        return test::RunOn(db_, args);
    };
    const Args days{"--warn-days", "5", "--crit-days", "2"};
    const auto with = [&days](Args args) {
        args.insert(args.end(), days.begin(), days.end());
        return args;
    };
    auto run = alert(with({"--host", "south", "--path", "/data/"}));
    EXPECT_EQ(std::tuple(run.ExitCode, run.Out), std::tuple(2, "CRITICAL\tsouth\t/data\t2 days left (full on 2024-06-05)\n"));
    run = alert({"--host", "north", "--warn-days", "7", "--crit-days", "2"});
    EXPECT_EQ(std::tuple(run.ExitCode, run.Out), std::tuple(1, "WARNING\tnorth\t/data\t7 days left (full on 2024-06-10)\n"));
    run = alert(with({"--host", "north"}));
    EXPECT_EQ(run.ExitCode, 0) << run.Out;
    run = alert(with({"--host", "east"}));
    EXPECT_EQ(std::tuple(run.ExitCode, run.Out), std::tuple(0, "OK\teast\t/home/a\"b\\\\c\tnot filling\n"));
    // Seven days left, but the forecast is days old: nothing to go by today.
    run = alert(with({"--host", "north", "--max-age", "24"}));
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
    EXPECT_THAT(run.Out, HasSubstr("UNKNOWN\tnorth\t/data\t7 days left (full on 2024-06-10); snapshot too old"));
    run = alert(with({"--host", "fresh", "--max-age", "3"}));
    EXPECT_EQ(run.ExitCode, 3) << run.Out;
    EXPECT_EQ(run.Out.find("too old"), std::string::npos) << run.Out;
    EXPECT_THAT(run.Out, HasSubstr("UNKNOWN\tfresh\t/tmp\tno forecast"));
    run = alert(with({"--host", "west"}));
    EXPECT_EQ(std::tuple(run.ExitCode, run.Out), std::tuple(3, "UNKNOWN\twest\tany path\tno snapshot\n"));

    // Every host: one line each, the CRITICAL outweighs the UNKNOWNs.
    run = alert(days);
    EXPECT_EQ(run.ExitCode, 2) << run.Out;
    EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 5) << run.Out;
    // /srv alone has no forecast.
    run = alert(with({"--path", "/srv"}));
    EXPECT_EQ(run.ExitCode, 3) << run.Out;

    // Bad usage is UNKNOWN too, never 2, which would read as CRITICAL.
    for (const Args& bad : {Args{"--crit-days", "2"}, Args{"--warn-days", "2", "--crit-days", "5"},
                            with({"--bogus"}), Args{"--warn-days", "x", "--crit-days", "2"}}) {
        run = alert(bad);
        EXPECT_EQ(run.ExitCode, 3) << testing::PrintToString(bad) << run.Err;
    }
    EXPECT_EQ(test::RunTool({"alert", "--db", dir_.File("none.mdb"), "--warn-days", "5", "--crit-days", "2"}).ExitCode,
              3);
}

}  // namespace
}  // namespace corvina
