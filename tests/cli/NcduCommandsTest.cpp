// corvina-cli import ncdu and export ncdu against the real ncdu: a tree it
// scanned imports to the totals of our own snapshot of the same tree, ncdu
// opens our exports with the snapshot's sizes, and an export that is not one
// (or names what no file can be named) is refused before the database is
// touched.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "base/DateTime.h"
#include "tests/cli/RunTool.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using test::Query;

int Shell(const std::string& command) { return std::system(command.c_str()); }

// A snapshot's rows as they can be compared between two snapshots of one tree.
std::string Totals(const std::string& db, const std::string& key) {
    return Query(db, "SELECT d.Entrytype, d.Dirname, d.Files, d.TotsizeF, k.Diskbytes FROM Dir d JOIN Dirdisk k ON "
                     "k.Snapshot = d.Snapshot AND k.Dirname = d.Dirname AND k.Entrytype = d.Entrytype WHERE "
                     "d.Snapshot = '" + key + "' ORDER BY d.Dirname, d.Entrytype",
                 "\n");
}

// Hard links within a directory and across directories, a sparse file, tiny
// and empty files, and names an exclusion leaves out at two depths.
void MakeTree(const std::string& root) {
    fs::create_directories(root + "/sub/deeper");
    test::WriteFile(root + "/a", std::string(5000, 'a'));
    ASSERT_EQ(::link((root + "/a").c_str(), (root + "/a-again").c_str()), 0);
    ASSERT_EQ(::link((root + "/a").c_str(), (root + "/sub/a-across").c_str()), 0);
    test::WriteFile(root + "/sparse", "s");
    ASSERT_EQ(::truncate((root + "/sparse").c_str(), 3 << 20), 0);
    test::WriteFile(root + "/tiny", "t");
    test::WriteFile(root + "/empty", "");
    test::WriteFile(root + "/sub/deeper/x", std::string(70000, 'x'));
    test::WriteFile(root + "/skip.o", "object");
    test::WriteFile(root + "/sub/skip.o", "object");
}

// The scan's timestamp, as the export holds it.
std::int64_t TimestampOf(const std::string& exportFile) {
    return nlohmann::json::parse(test::ReadFile(exportFile))[2]["timestamp"].get<std::int64_t>();
}

// A size as ncdu's browser shows it: one decimal of the binary unit, in single precision.
std::string NcduSize(const std::string& bytesText) {
    float size = std::stof(bytesText);
    const char* unit = "  B";
    if (size >= 1023e6f) {
        size /= 1073741824.0f, unit = "GiB";
    } else if (size >= 1023e3f) {
        size /= 1048576.0f, unit = "MiB";
    } else if (size >= 1000.0f) {
        size /= 1024.0f, unit = "KiB";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%5.1f %s", static_cast<double>(size), unit);
    return text;
}

// A program in a terminal of its own, 100 columns by 30 lines, on a tmux
// server of its own that ends with it.
class Terminal {
public:
    explicit Terminal(const std::string& command) : server_("corvina-test-" + std::to_string(::getpid())) {
        Shell("tmux -L " + server_ + " new-session -d -x 100 -y 30 \"" + command + "\"");
    }
    ~Terminal() { Shell("tmux -L " + server_ + " kill-server 2>/dev/null"); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // The screen once it shows text (what it showed last, after the timeout).
    std::string WaitFor(const std::string& text) {
        std::string screen;
        test::WaitUntil([&] {
            screen.clear();
            if (FILE* pipe = ::popen(("tmux -L " + server_ + " capture-pane -p 2>/dev/null").c_str(), "r")) {
                char block[4096];
                for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) screen.append(block, got);
                ::pclose(pipe);
            }
            return screen.find(text) != std::string::npos;
        });
        return screen;
    }

private:
    std::string server_;
};

// The line of a screen that holds text.
std::string LineWith(const std::string& screen, const std::string& text) {
    const std::size_t at = screen.find(text);
    if (at == std::string::npos) return "(no line with " + text + ")";
    const std::size_t start = screen.rfind('\n', at) + 1;
    return screen.substr(start, screen.find('\n', at) - start);
}

// Read twice, an export gives two snapshots: at its scan's second and the
// next one. Piped in, as from ssh, with the host named.
TEST(NcduImport, ARealScanImportsToTheTotalsOfOurOwnSnapshotOfTheSameTree) {
    test::TempDir dir;
    const std::string tree = dir.File("t"), db = dir.File("s.mdb"), ownDb = dir.File("own.mdb");
    const std::string scan = dir.File("scan.json");
    MakeTree(tree);
    ASSERT_EQ(Shell("ncdu -x --exclude '*.o' -o '" + scan + "' '" + tree + "' 2>/dev/null"), 0);

    const test::ToolRun own = test::RunOkOn(ownDb, {"snapshot", tree, "--exclude", "*.o"});
    const test::ToolRun imported = test::RunOkOn(db, {"import", "ncdu", scan, "--files", "--description", "first"});
    EXPECT_NE(imported.Err.find("Note: information on 2 files could not be collected"), std::string::npos)
        << imported.Err;
    EXPECT_NE(imported.Err.find("\n  " + tree + "/sub/skip.o: left out by the scan: an exclude pattern\n"),
              std::string::npos)
        << imported.Err;
    const std::string key = FormatKey(DateTime::FromUnix(TimestampOf(scan)));
    EXPECT_EQ(test::FirstField(imported.Out), key);
    EXPECT_EQ(Totals(db, key), Totals(ownDb, test::FirstField(own.Out)));
    // Three names of one inode count once on disk, the sparse file its few blocks.
    EXPECT_EQ(Query(db, "SELECT Files, TotsizeF FROM Dir WHERE Snapshot = '" + key + "' AND Dirname = '" + tree + "'"),
              "7|" + std::to_string(3 * 5000 + (3 << 20) + 1 + 70000) + ".0");
    EXPECT_EQ(Query(db, "SELECT Diskbytes FROM Dirdisk WHERE Snapshot = '" + key + "' AND Dirname = '" + tree +
                            "/sub/(files)'"),
              "0");
    EXPECT_EQ(Query(db, "SELECT count(*) FROM files WHERE Snapshot = '" + key + "'"), "7");

    const test::ToolRun again = test::RunOkOn(db, {"import", "ncdu", scan, "--description", "again"});
    EXPECT_EQ(test::FirstField(again.Out), FormatKey(DateTime::FromUnix(TimestampOf(scan) + 1)));

    const std::string piped = dir.File("piped.out");
    ASSERT_EQ(Shell("ncdu -x -o- '" + tree + "' 2>/dev/null | " CORVINA_CLI_PATH " import ncdu - --host-label far --db '" +
                    db + "' >'" + piped + "' 2>&1"),
              0)
        << test::ReadFile(piped);
    EXPECT_EQ(Query(db, "SELECT Hostname, Basepath FROM Control JOIN Host USING (Snapshot) WHERE Description LIKE "
                        "'Analysis of %'"),
              "far|" + tree);
}

// Each bad export, from a file or stdin, leaves the database file as it was
// byte for byte, and makes none where there was none.
TEST(NcduImport, BadExportsAreRefusedClearlyAndWriteNothing) {
    test::TempDir dir;
    const std::string db = dir.File("s.mdb"), none = dir.File("none.mdb"), input = dir.File("in.json");
    fs::create_directories(dir.File("t"));
    test::RunOkOn(db, {"snapshot", dir.File("t")});
    test::EmptyLog(db);
    const std::string before = test::ReadFile(db);

    const std::string head = "[1,2,{\"timestamp\":1700000000},\n[{\"name\":\"/r\"}";
    std::string deep = "[1,2,{},[{\"name\":\"/r\"}";
    for (int i = 0; i < 100000; ++i) deep += ",[{\"name\":\"d\"}";
    deep += std::string(100001, ']') + "]";
    std::string deepField = "[1,2,{},[{\"name\":\"/r\",\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}]]";
    const struct {
        std::string Export;
        std::string Said;
    } cases[] = {
        {head + ",{\"name\":\"a\",\"asize\":12", "in /r: the export is cut short"},
        {"", "the export is empty"},
        {"[2,0,{},[{\"name\":\"/r\"}]]", "the export's format major version is 2; only ncdu's JSON export of format "
                                         "major version 1 is read"},
        {"\xbfncduEX1\x00\x01\x02", "this is an ncdu binary export (ncdu 2's -O)"},
        {"\x28\xb5\x2f\xfd", "the export is compressed with zstd"},
        {"{\"name\":\"/r\"}", "not an ncdu JSON export: it is an object"},
        {deep, "the tree is nested deeper than 10000 directories"},
        {deepField, "a field's value is nested too deeply"},
        {head + ",{\"name\":\"a/b\"}]]", "in /r: the name \"a/b\" holds a \"/\""},
        {head + ",[{\"name\":\"..\"}]]]", "in /r: an entry is named \"..\""},
        {head + ",{\"name\":\".\"}]]", "in /r: an entry is named \".\""},
        {head + ",{\"name\":\"\"}]]", "in /r: an entry has an empty name"},
        {head + ",{\"asize\":1}]]", "in /r: an entry has no name"},
        {head + ",[{\"name\":\"s\"},{\"name\":\"esc\\u001b[2J\"}]]]",
         "in /r/s: the name \"esc\\x1B[2J\" holds a control character"},
        {head + ",{\"name\":\"bad\xff\"}]]", "in /r: a name or text is not valid UTF-8"},
        {head + ",{\"name\":\"twice\"},[{\"name\":\"twice\"}]]]", "in /r: the name \"twice\" appears twice"},
        {"[1,2,{},[{\"name\":\"relative\"}]]", "the scanned path \"relative\" is not absolute"},
        {"[1,2,{},[{\"name\":\"/a/../b\"}]]", "the scanned path \"/a/../b\" is not a plain path"},
        {head + ",{\"name\":\"n\",\"asize\":-5}]]", "in /r: the field \"asize\" of an entry is not a whole number from 0"},
        {head + "]] trailing", "not valid JSON"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.Said);
        test::WriteFile(input, bad.Export);
        // A recursion as deep as the deepest export would overflow this stack.
        const test::ToolRun run = test::RunOn(db, {"import", "ncdu", input}, {.StackBytes = 1 << 20});
        EXPECT_EQ(run.ExitCode, 1) << run.Err;
        EXPECT_NE(run.Err.find("corvina: " + input + ": " + bad.Said), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("; nothing was imported\n"), std::string::npos) << run.Err;
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_TRUE(test::ReadFile(db) == before);
    EXPECT_EQ(Query(db, "SELECT count(*) FROM Control"), "1");

    const test::ToolRun piped = test::RunOn(none, {"import", "ncdu", "-"}, {.StdinPath = input});
    EXPECT_EQ(piped.ExitCode, 1);
    EXPECT_NE(piped.Err.find("corvina: standard input: not valid JSON"), std::string::npos) << piped.Err;
    EXPECT_FALSE(fs::exists(none));
}

// A snapshot with every file and one of directories only, opened in ncdu's
// browser: the top lines and the totals show the snapshot's sizes on disk,
// its files or, for the directories-only one, one entry per directory holding
// its files. A name that is not UTF-8 comes back from ncdu as the same bytes.
TEST(NcduExport, RealNcduOpensTheExportWithTheSnapshotsSizes) {
    test::TempDir dir;
    const std::string tree = dir.File("t"), db = dir.File("s.mdb"), exported = dir.File("e.json");
    fs::create_directories(tree + "/big");
    fs::create_directories(tree + "/small");
    test::WriteFile(tree + "/big/data", std::string(300000, 'b'));
    test::WriteFile(tree + "/small/note", std::string(2000, 'n'));
    test::WriteFile(tree + "/bad\xff", std::string(5000, 'x'));
    const std::string withFiles = test::FirstField(test::RunOkOn(db, {"snapshot", tree, "--files"}).Out);
    const std::string dirsOnly = test::FirstField(test::RunOkOn(db, {"snapshot", tree}).Out);

    const auto disk = [&](const std::string& key, const std::string& name, const char* type) {
        return NcduSize(Query(db, "SELECT Diskbytes FROM Dirdisk WHERE Snapshot = '" + key + "' AND Dirname = '" +
                                      name + "' AND Entrytype = '" + type + "'"));
    };
    for (const std::string& key : {withFiles, dirsOnly}) {
        SCOPED_TRACE(key);
        test::RunOkOn(db, {"export", "ncdu", exported, "--snapshot", key});
        Terminal ncdu("ncdu -f " + exported);
        const std::string screen = ncdu.WaitFor("Total disk usage:");
        const std::string apparent = Query(db, "SELECT TotsizeF FROM Dir WHERE Snapshot = '" + key +
                                                   "' AND Dirname = '" + tree + "' AND Entrytype = '2'");
        EXPECT_NE(screen.find("Total disk usage: " + disk(key, tree, "2") + "  Apparent size: " + NcduSize(apparent)),
                  std::string::npos)
            << screen;
        EXPECT_NE(LineWith(screen, "/big").find(disk(key, tree + "/big", "2")), std::string::npos) << screen;
        EXPECT_NE(LineWith(screen, "/small").find(disk(key, tree + "/small", "2")), std::string::npos) << screen;
        const std::string ownFiles = key == withFiles ? "bad" : "(1 file)";
        EXPECT_NE(LineWith(screen, ownFiles).find(disk(key, tree + "/(files)", "1")), std::string::npos) << screen;
    }

    test::RunOkOn(db, {"export", "ncdu", exported, "--snapshot", withFiles});
    EXPECT_EQ(test::RunOkOn(db, {"export", "ncdu", "--snapshot", withFiles}).Out, test::ReadFile(exported));
    ASSERT_EQ(Shell("ncdu -f '" + exported + "' -o '" + dir.File("again.json") + "' 2>/dev/null"), 0);
    EXPECT_NE(test::ReadFile(dir.File("again.json")).find("{\"name\":\"bad\xff\""), std::string::npos);
}

// What the scan recorded comes back out as it was read, on a file and a
// server alike: sizes, dates, a file of two names counted once (at the first
// in row order), a link below the threshold, a file system the scan left out
// and a directory it could not read listed as errors.
TEST(NcduExport, AnImportedScanExportsAsItWasReadOnFileAndServer) {
    const test::ServerSchema schema;
    test::TempDir dir;
    const std::string scan = dir.File("scan.json"), exported = dir.File("e.json");
    test::WriteFile(scan, R"([1,2,{"progname":"ncdu","timestamp":1700000000},
[{"name":"/srv","asize":4096,"dsize":4096,"dev":7},
{"name":"one","asize":5000,"dsize":8192,"ino":11,"hlnkc":true,"nlink":2,"mtime":1690000000},
{"name":"link","asize":9,"notreg":true,"unknown":{"nested":[1,[2]]}},
{"name":"tmp","excluded":"otherfs"},
[{"name":"locked","asize":4096,"dsize":4096,"read_error":true}],
[{"name":"data","asize":4096,"dsize":4096},
{"name":"two","asize":5000,"dsize":8192,"ino":11,"hlnkc":true,"nlink":2,"mtime":1690000000},
{"name":"small","asize":10,"dsize":4096,"mtime":1690000000}]]])");
    const std::string expected = R"json([{"name":"/srv","dsize":4096},
{"name":"one","asize":5000,"dsize":8192,"mtime":1690000000},
{"name":"(1 smaller file)","asize":9},
[{"name":"data","dsize":4096},
{"name":"two","asize":5000,"mtime":1690000000},
{"name":"(1 smaller file)","asize":10,"dsize":4096}],
[{"name":"locked","dsize":4096}]]]
)json";
    std::vector<std::string> locations{dir.File("s.mdb")};
    if (!test::TestServer().empty()) locations.push_back(schema.Location());
    for (const std::string& location : locations) {
        SCOPED_TRACE(location);
        const test::ToolRun imported =
            test::RunOkOn(location, {"import", "ncdu", scan, "--files", "--min-size", "100"});
        EXPECT_NE(imported.Err.find("\n  /srv/tmp: left out by the scan: on another file system\n"
                                    "  /srv/locked/: could not be read by the scan\n"),
                  std::string::npos)
            << imported.Err;
        test::RunOkOn(location, {"export", "ncdu", exported});
        const std::string text = test::ReadFile(exported);
        EXPECT_NE(text.find("\"timestamp\":1700000000},\n"), std::string::npos) << text;
        EXPECT_EQ(text.substr(text.find('\n') + 1), expected);
    }
}

}  // namespace
}  // namespace corvina
