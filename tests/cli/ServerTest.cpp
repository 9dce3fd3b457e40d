// corvina-cli on a database server (run beside one by tests/server/with_server.sh;
// skipped without): a tree of odd names and a file beyond 4 GiB gives the
// same rows and the same grids as in a file, a password never shows, and
// what the server says reaches the terminal escaped. (A prune on a server:
// CatalogueCommands; several processes at once: Concurrency; each beside the
// file's.)

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "analysis/AnalysisCatalogue.h"
#include "store/DiskUsage.h"
#include "tests/cli/RunTool.h"
#include "tests/support/LayoutChoice.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;

// "yyyy-MM-dd HH:mm" and its seconds, where given, become KEY, and instants
// INSTANT. By hand: the sanitizer build's compiler warns falsely inside
// std::regex.
std::string WithoutKeys(const std::string& text) {
    const std::string shape = "dddd-dd-dd dd:dd";
    auto fits = [&](std::size_t at, std::string_view form) {
        if (at + form.size() > text.size()) return false;
        for (std::size_t i = 0; i < form.size(); ++i) {
            const char c = text[at + i];
            if (form[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != form[i]) return false;
        }
        return true;
    };
    // The instants too ("2024-06-01T02:00:00Z"): the two runs may start in different seconds.
    const std::string instant = "dddd-dd-ddTdd:dd:ddZ";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        if (fits(i, instant)) {
            out += "INSTANT";
            i += instant.size();
            continue;
        }
        if (!fits(i, shape)) {
            out += text[i++];
            continue;
        }
        out += "KEY";
        i += fits(i, shape + ":dd") ? shape.size() + 3 : shape.size();
    }
    return out;
}

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::TestServer().empty()) GTEST_SKIP() << "runs beside a database server (tests/server/with_server.sh)";
    }
    test::TempDir dir_;
    test::ServerSchema schema_;
};

enum class Table { Dir, Files, Dirdisk, Filedisk };

// The names' bytes in hex, so that both engines print them alike.
std::string RowsSql(bool server, Table table) {
    auto hex = [&](const char* field) {
        return server ? "upper(encode(" + std::string(field) + ", 'hex'))" : "hex(" + std::string(field) + ")";
    };
    switch (table) {
        case Table::Dir:
            return "SELECT " + hex("Dirname") + ", " + hex("Shortname") + ", " + hex("Parentdir") +
                   ", Entrytype, Dirlevel, Files, CAST(TotsizeF AS BIGINT) FROM Dir ORDER BY Dirname, Entrytype";
        case Table::Files:
            return "SELECT " + hex("Filedir") + ", " + hex("Filename") + ", " + hex("Filetype") +
                   ", Filesize, Fileattr, Filedate FROM files ORDER BY Filedir, Filename";
        case Table::Dirdisk:
            return "SELECT " + hex("Dirname") + ", Entrytype, Diskbytes FROM Dirdisk ORDER BY Dirname, Entrytype";
        case Table::Filedisk: {  // every files row's figures, from its Filedisk row or derived
            const FilediskSql terms = FilediskTerms({});
            return "SELECT " + hex("f.Filedir") + ", " + hex("f.Filename") + ", " + terms.Diskbytes + ", " +
                   terms.Links + " FROM files f" + terms.Joins + " ORDER BY f.Filedir, f.Filename";
        }
    }
    return {};
}

TEST_F(Server, OddNamesAndSizesBeyondFourGigabytesGiveTheRowsAndGridsOfAFileAndNoPasswordShows) {
    const std::string root = dir_.File("tree"), file = dir_.File("s.mdb"), server = schema_.Location();
    for (const char* name :
         {"a/b", "a/(files)", "back\\slash", "quote's \"dir\"", "bad\xff\xfe", "caf\xc3\xa9", "Case", "case"}) {
        fs::create_directories(root + "/" + name);
        std::ofstream(root + "/" + name + "/f\xe9\nline.txt") << name;
    }
    std::ofstream(root + "/a/huge.bin").close();
    fs::resize_file(root + "/a/huge.bin", (std::uintmax_t{6} << 30) + 7);
    // Names of one file in one directory and in another.
    std::ofstream(root + "/Case/shared") << std::string(20000, 's');
    fs::create_hard_link(root + "/Case/shared", root + "/Case/shared again");
    fs::create_hard_link(root + "/Case/shared", root + "/case/shared elsewhere");

    // The first run on an empty server database sets it up, as a new file is.
    for (const std::string& db : {file, server}) {
        auto run = test::RunOkOn(db, {"snapshot", root, "--files"});
        EXPECT_NE(run.Err.find("created snapshot database"), std::string::npos) << run.Err;
    }
    for (Table table : {Table::Dir, Table::Files, Table::Dirdisk, Table::Filedisk}) {
        const std::string rows = test::Query(file, RowsSql(false, table), "\n") + "\n";  // as RunOnServer gives them
        EXPECT_EQ(test::RunOnServer(server, RowsSql(true, table)), rows);
        EXPECT_GE(std::count(rows.begin(), rows.end(), '\n'), 8);
    }
    EXPECT_EQ(test::RunOnServer(server, "SELECT Filesize FROM files WHERE Filename = 'huge.bin'"), "6442450951\n");
    // Set up with every table, so that a role that may only add rows can leave things out.
    EXPECT_EQ(test::RunOnServer(server, "SELECT count(*) FROM exclusion"), "0\n");
    EXPECT_EQ(test::RunOnServer(server, "SELECT Totdiskbytes FROM Diskusage"),
              std::to_string(test::DuBytes(root)) + "\n");
    // Only the files whose figures cannot be told from their length have a Filedisk row.
    EXPECT_EQ(test::RunOnServer(server, "SELECT count(*) FROM Filedisk"), test::Query(file, "SELECT count(*) FROM Filedisk") + "\n");

    // A second snapshot, so that the comparisons have something to pair.
    fs::remove_all(root + "/Case");
    fs::resize_file(root + "/a/huge.bin", std::uintmax_t{5} << 32);
    std::ofstream(root + "/bad\xff\xfe/new") << "new";
    for (const std::string& db : {file, server}) {
        test::RunOkOn(db, {"snapshot", root, "--files", "--exclude", "caf\xc3\xa9", "--exclude-caches"});
    }
    EXPECT_NE(test::RunOn(server, {"info", "latest"}).Out.find("Left out:          caf\xc3\xa9\n"), std::string::npos);
    for (const AnalysisEntry& entry : AnalysisCatalogue()) {
        const std::string kind(entry.CommandName);
        for (const std::string& at : {root, root + "/bad\xff\xfe"}) {
            const std::vector<std::string> args{"analyse", kind, "--dir", at, "--compare", "previous", "--unit", "B"};
            auto fromFile = test::RunOn(file, args), fromServer = test::RunOn(server, args);
            EXPECT_EQ(fromServer.ExitCode, 0) << kind << ": " << fromServer.Err;
            // A kind whose query sets no order is the same set of lines.
            const auto lines = [&entry](std::string text) {
                if (entry.Kind != AnalysisKind::CompareDirectories) return text;
                std::vector<std::string> all;
                for (std::size_t at = 0; at < text.size();) {
                    const std::size_t end = text.find('\n', at);
                    all.push_back(text.substr(at, end - at));
                    at = end == std::string::npos ? text.size() : end + 1;
                }
                std::sort(all.begin(), all.end());
                std::string sorted;
                for (const std::string& line : all) sorted += line + "\n";
                return sorted;
            };
            EXPECT_EQ(lines(WithoutKeys(fromServer.Out)), lines(WithoutKeys(fromFile.Out))) << kind << " at " << at;
        }
    }
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", "--path", root}, {"growth"}, {"info", "latest"}}) {
        EXPECT_EQ(WithoutKeys(test::RunOn(server, args).Out), WithoutKeys(test::RunOn(file, args).Out)) << args[0];
    }
    test::RunOkOn(server, {"delete", "latest"});
    EXPECT_EQ(test::RunOnServer(server, "SELECT count(*) FROM exclusion"), "0\n");

    // A password given on the command line is used, never shown; a server
    // that is not there is said to be so.
    for (const std::string& db : {server + " password=s3cret", "postgresql://corvina:s3cret@/postgres?host=" +
                                                                  fs::path(dir_.File("none")).string()}) {
        auto run = test::RunOn(db, {"list"});
        EXPECT_EQ((run.Out + run.Err).find("s3cret"), std::string::npos) << run.Out << run.Err;
    }
    auto gone = test::RunOn("host=" + dir_.File("none") + " dbname=x password=s3cret", {"list"});
    EXPECT_EQ(gone.ExitCode, 1);
    EXPECT_NE(gone.Err.find("Cannot reach the snapshot database "), std::string::npos) << gone.Err;
    // The client library's tabbed second line is a plain line, not an escaped tab.
    EXPECT_EQ(gone.Err.find("\\x09"), std::string::npos) << gone.Err;
    EXPECT_EQ(gone.Err.find("s3cret"), std::string::npos) << gone.Err;
}

// A trigger's text is the server's to choose, control bytes and all: its
// warnings and errors reach the terminal escaped, as the tool's own messages
// do, or they could retitle or wipe the terminal of whoever takes a
// snapshot. A trigger that warns for every row is heard twenty times, then
// once more to say the rest are not shown; below a warning it is not heard.
TEST_F(Server, WhatTheServerSaysReachesTheTerminalEscaped) {
    // Its trigger speaks from the files table of that layout.
    const test::TablesLayout tablesLayout;
    const std::string root = dir_.File("tree"), server = schema_.Location();
    test::MakeLinkTree(root, 2, 30);
    test::RunOkOn(server, {"snapshot", root});
    // The trigger's words, in the server's escapes: ESC ]0; retitles the terminal, ESC [2K wipes a line.
    auto speak = [](const std::string& level) {
        return "CREATE OR REPLACE FUNCTION speak() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE " + level +
               " E'row of %\\x1b]0;owned\\x07\\x1b[2K', TG_TABLE_NAME; RAISE NOTICE 'unheard notice'; RETURN NEW; END $$;";
    };
    ASSERT_EQ(test::RunOnServer(server, speak("WARNING") +
                                            "CREATE TRIGGER speak BEFORE INSERT ON files FOR EACH ROW "
                                            "EXECUTE FUNCTION speak()"),
              "");
    auto warned = test::RunOkOn(server, {"snapshot", root, "--files"});
    EXPECT_EQ(warned.Err.find('\x1b'), std::string::npos) << warned.Err;
    const auto heard = [&](const std::string& line) {
        std::size_t times = 0;
        for (auto at = warned.Err.find(line); at != std::string::npos; at = warned.Err.find(line, at + 1)) ++times;
        return times;
    };
    EXPECT_EQ(heard("corvina: server: WARNING:  row of files\\x1B]0;owned\\x07\\x1B[2K\n"), 20u) << warned.Err;
    EXPECT_EQ(heard("corvina: server: further notices of the server are not shown\n"), 1u);
    EXPECT_EQ(heard("unheard notice"), 0u);

    ASSERT_EQ(test::RunOnServer(server, speak("EXCEPTION")), "");
    auto refused = test::RunOn(server, {"snapshot", root, "--files"});
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Err.find('\x1b'), std::string::npos) << refused.Err;
    EXPECT_NE(refused.Err.find("ERROR:  row of files\\x1B]0;owned\\x07\\x1B[2K"), std::string::npos) << refused.Err;
    EXPECT_EQ(test::RunOnServer(server, "SELECT count(*) FROM Control"), "2\n");
}

}  // namespace
}  // namespace corvina
