// corvina-cli browse: the model's moves, orders, growth and basis on a pair
// of snapshots written row by row; then the real program in a real
// pseudo-terminal (tmux), key by key, in UTF-8 and in the C locale.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/OpenDialogue.h"
#include "cli/BrowseModel.h"
#include "cli/BrowseScreen.h"
#include "tests/cli/RunTool.h"
#include "tests/support/DiskRows.h"
#include "tests/support/LayoutChoice.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

namespace fs = std::filesystem;
using cli::BrowseCommand;
using cli::BrowseModel;
using test::ToolRun;

constexpr const char* kBefore = "2024-03-01 09:00:00";
constexpr const char* kAfter = "2024-03-07 14:05:09";

// /d between the two: big/deep grew by 4000 bytes, alpha is new, small and
// the own files of /d stayed.
class BrowseModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        db_.DatabasePath = dir_.File("b.mdb");
        ASSERT_EQ(OpenSnapshotDatabase(db_, prompter_, ender_), OpenOutcome::Created);
        test::AddSnapshot(db_, {.Key = kBefore,
                                .BasePath = "/d",
                                .Dirs = {{"1", "/d/big/deep/(files)", 8, 4000}, {"2", "/d/big/deep", 8, 4000},
                                         {"1", "/d/big/(files)", 2, 1000}, {"2", "/d/big", 10, 5000},
                                         {"1", "/d/small/(files)", 1, 50}, {"2", "/d/small", 1, 50},
                                         {"1", "/d/(files)", 1, 100}, {"2", "/d", 12, 5150}},
                                .Files = {}});
        test::AddSnapshot(db_, {.Key = kAfter,
                                .BasePath = "/d",
                                .Dirs = {{"1", "/d/big/deep/(files)", 10, 8000}, {"2", "/d/big/deep", 10, 8000},
                                         {"1", "/d/big/(files)", 2, 1000}, {"2", "/d/big", 12, 9000},
                                         {"1", "/d/small/(files)", 1, 50}, {"2", "/d/small", 1, 50},
                                         {"1", "/d/alpha/(files)", 3, 600}, {"2", "/d/alpha", 3, 600},
                                         {"1", "/d/(files)", 1, 100}, {"2", "/d", 17, 9750}},
                                .Files = {}});
    }
    void TearDown() override { CloseSnapshotDatabase(db_); }

    std::unique_ptr<BrowseModel> Open(const std::string& directory = "", bool compare = true,
                                      bool afterOnDisk = false) {
        cli::BrowseSetup setup{.DatabaseName = db_.DatabasePath,
                               .Snapshot = test::Key(kAfter),
                               .Compare = compare ? test::Key(kBefore) : DateTime{},
                               .BasePath = "/d",
                               .Style = PathStyle::Posix,
                               .Host = {},
                               .Basis = SizeBasis::Apparent,
                               .SnapshotOnDisk = afterOnDisk,
                               .CompareOnDisk = false};
        auto model = std::make_unique<BrowseModel>(db_, setup);
        bool found = false;
        EXPECT_TRUE(model->Open(directory, found).Ok());
        EXPECT_TRUE(found);
        model->SetPageRows(2);
        return model;
    }

    static std::vector<std::string> RowNames(const BrowseModel& model) {
        std::vector<std::string> names;
        for (const auto& row : model.Rows()) names.push_back(row.Shortname);
        return names;
    }
    static std::string SelectedName(const BrowseModel& model) {
        return model.Selected() < 0 ? "" : model.Rows()[static_cast<std::size_t>(model.Selected())].Shortname;
    }

    // Rows written as such, on-disk figures among them.
    const test::TablesLayout tablesLayout_;
    test::TempDir dir_;
    DatabaseState db_;
    test::RecordingPrompter prompter_;
    test::RecordingEnder ender_;
};

using Names = std::vector<std::string>;

// Each order's key pressed again reverses it; the selection stays on its
// entry; ties go by name, the directory's own files first.
TEST_F(BrowseModelTest, EachOrderReversesWhenPressedAgainAndKeepsTheSelectedEntry) {
    auto model = Open();
    EXPECT_EQ(RowNames(*model), (Names{"big", "alpha", "(files)", "small"}));
    model->Handle(BrowseCommand::SortSize);
    EXPECT_EQ(RowNames(*model), (Names{"small", "(files)", "alpha", "big"}));
    EXPECT_EQ(SelectedName(*model), "big");
    model->Handle(BrowseCommand::SortName);
    EXPECT_EQ(RowNames(*model), (Names{"(files)", "alpha", "big", "small"}));
    EXPECT_EQ(SelectedName(*model), "big");
    model->Handle(BrowseCommand::SortName);
    EXPECT_EQ(RowNames(*model), (Names{"small", "big", "alpha", "(files)"}));
    model->Handle(BrowseCommand::SortFiles);
    EXPECT_EQ(RowNames(*model), (Names{"big", "alpha", "(files)", "small"}));
    model->Handle(BrowseCommand::SortGrowth);
    EXPECT_EQ(RowNames(*model), (Names{"big", "alpha", "(files)", "small"}));
    model->Handle(BrowseCommand::SortGrowth);
    EXPECT_EQ(RowNames(*model), (Names{"small", "(files)", "alpha", "big"}));

    // Without a compare snapshot there is no growth to order by, and it says so.
    auto alone = Open("", false);
    alone->Handle(BrowseCommand::SortGrowth);
    EXPECT_EQ(alone->Sort(), cli::BrowseSort::Size);
    EXPECT_NE(alone->Message().find("No compare snapshot"), std::string::npos) << alone->Message();
}

// Moves stop at the first and last rows; the view follows the selection a
// page of two rows at a time; up from the base path goes nowhere, and up
// from a directory selects the one come from.
TEST_F(BrowseModelTest, MovesStopAtTheEdgesAndUpSelectsTheDirectoryComeFrom) {
    auto model = Open();
    model->Handle(BrowseCommand::Up);
    EXPECT_EQ(model->Selected(), 0);
    model->Handle(BrowseCommand::PageDown);
    EXPECT_EQ(model->Selected(), 2);
    EXPECT_EQ(model->Top(), 1);
    model->Handle(BrowseCommand::End);
    model->Handle(BrowseCommand::Down);
    EXPECT_EQ(model->Selected(), 3);
    EXPECT_EQ(model->Top(), 2);
    model->Handle(BrowseCommand::Home);
    EXPECT_EQ(model->Top(), 0);

    model->Handle(BrowseCommand::Back);
    EXPECT_EQ(model->Directory().Dirname, "/d");
    EXPECT_NE(model->Message().find("base path"), std::string::npos);
    model->Handle(BrowseCommand::Open);  // big
    EXPECT_EQ(model->Directory().Dirname, "/d/big");
    EXPECT_EQ(RowNames(*model), (Names{"deep", "(files)"}));
    model->Handle(BrowseCommand::Down);
    model->Handle(BrowseCommand::Open);  // (files): nothing below
    EXPECT_EQ(model->Directory().Dirname, "/d/big");
    model->Handle(BrowseCommand::Back);
    EXPECT_EQ(model->Directory().Dirname, "/d");
    EXPECT_EQ(SelectedName(*model), "big");

    // Opened deeper, the chain above is there to go up through.
    auto deep = Open("/d/big/deep");
    EXPECT_EQ(deep->Directory().Bytes, 8000);
    EXPECT_EQ(deep->Directory().FileCount, 10);
    deep->Handle(BrowseCommand::Back);
    EXPECT_EQ(deep->Directory().Dirname, "/d/big");
    EXPECT_EQ(SelectedName(*deep), "deep");
}

// Down along the subdirectory holding at least half of the growth: big
// holds 4000 of 4600, deep all of big's; deep's own files end it. The
// answer shows among its siblings.
TEST_F(BrowseModelTest, FollowTheGrowthSelectsTheDirectoryWhereTheGrowthSits) {
    auto model = Open();
    EXPECT_EQ(model->Directory().Growth(), 4600);
    model->Handle(BrowseCommand::Follow);
    EXPECT_EQ(model->Directory().Dirname, "/d/big");
    EXPECT_EQ(SelectedName(*model), "deep");
    EXPECT_EQ(model->Message(), "The growth leads to /d/big/deep (+3.9 KB).");
    model->Handle(BrowseCommand::Back);
    EXPECT_EQ(model->Directory().Dirname, "/d");
    EXPECT_EQ(SelectedName(*model), "big");

    // small did not grow: there is nowhere to go.
    auto small = Open("/d/small");
    small->Handle(BrowseCommand::Follow);
    EXPECT_EQ(small->Directory().Dirname, "/d/small");
    EXPECT_EQ(small->Message(), "/d/small did not grow since 2024-03-01 09:00:00.");
}

// A snapshot without on-disk figures stays on apparent sizes; one with them
// beside a compare snapshot without shows sizes on disk and no growth.
TEST_F(BrowseModelTest, SizesOnDiskAreShownOnlyWhereTheSnapshotRecordedThem) {
    auto model = Open();
    model->Handle(BrowseCommand::ToggleBasis);
    EXPECT_EQ(model->Basis(), SizeBasis::Apparent);
    EXPECT_EQ(model->Message(), "Snapshot 2024-03-07 14:05:09 has no on-disk figures (it was taken before they "
                                "were recorded): apparent sizes only.");
    EXPECT_EQ(model->Rows().front().Bytes, 9000);

    test::AddDiskRows(db_, {.Key = kAfter,
                            .Total = 40960,
                            .Blockunit = 0,
                            .Dirs = {{"/d/big/deep/(files)", 16384}, {"/d/big/deep", 16384},
                                     {"/d/big/(files)", 4096}, {"/d/big", 24576},
                                     {"/d/small/(files)", 4096}, {"/d/small", 4096},
                                     {"/d/alpha/(files)", 8192}, {"/d/alpha", 8192},
                                     {"/d/(files)", 4096}, {"/d", 40960}},
                            .Files = {}});
    auto onDisk = Open("/d/big", true, true);
    onDisk->Handle(BrowseCommand::ToggleBasis);
    EXPECT_EQ(onDisk->Basis(), SizeBasis::Disk);
    EXPECT_FALSE(onDisk->GrowthKnown());
    EXPECT_EQ(onDisk->Directory().Bytes, 24576);
    EXPECT_EQ(onDisk->Rows().front().Bytes, 16384);
    EXPECT_NE(onDisk->Message().find("Snapshot 2024-03-01 09:00:00 has no on-disk figures"), std::string::npos);
    const std::string screen = cli::ScreenText(cli::RenderBrowser(*onDisk, 80, 24, true));
    EXPECT_NE(screen.find("  16.0 KB  66.7% [█████▍  ]          \u2014        10  deep/\n"), std::string::npos) << screen;
    onDisk->Handle(BrowseCommand::Follow);
    EXPECT_EQ(onDisk->Directory().Dirname, "/d/big");
    onDisk->Handle(BrowseCommand::ToggleBasis);
    EXPECT_TRUE(onDisk->GrowthKnown());
    EXPECT_EQ(onDisk->Directory().Bytes, 9000);
}

// A tmux server of the test's own (its own socket), so that no other
// session is touched.
class Terminal {
public:
    // The program's exit status is written to a file of the test's own
    // (a dead pane's status is not always there to read).
    Terminal(const std::string& command, std::string statusFile) : statusFile_(std::move(statusFile)) {
        static int count = 0;
        socket_ = "corvina-browse-" + std::to_string(::getpid()) + "-" + std::to_string(count++);
        fs::remove(statusFile_);
        Tmux("new-session -d -s t -x 80 -y 24 " + Quoted(command + "; echo $? > " + statusFile_ + "; read line"));
    }
    ~Terminal() { Tmux("kill-server"); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    std::string Screen(bool escapes = false) { return Tmux(escapes ? "capture-pane -p -e -t t" : "capture-pane -p -t t"); }
    // Waits until the screen shows text; the screen as it then is.
    std::string WaitFor(const std::string& text) {
        std::string screen;
        EXPECT_TRUE(test::WaitUntil([&] { return (screen = Screen()).find(text) != std::string::npos; }))
            << "no \"" << text << "\" on\n" << screen;
        return screen;
    }
    std::string WaitForNo(const std::string& text) {
        std::string screen;
        EXPECT_TRUE(test::WaitUntil([&] { return (screen = Screen()).find(text) == std::string::npos; }))
            << "still \"" << text << "\" on\n" << screen;
        return screen;
    }
    void Keys(const std::string& keys) { Tmux("send-keys -t t " + keys); }
    void Resize(int width, int height) {
        Tmux("resize-window -t t -x " + std::to_string(width) + " -y " + std::to_string(height));
    }
    // The exit status once the program has ended, else "".
    std::string Ended() { return test::ReadFile(statusFile_); }

private:
    static std::string Quoted(const std::string& text) {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return quoted + "'";
    }
    std::string Tmux(const std::string& arguments) {
        const std::string command = "tmux -f /dev/null -L " + socket_ + " " + arguments + " 2>&1";
        std::string out;
        if (FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
            ::pclose(pipe);
        }
        return out;
    }
    std::string socket_;
    std::string statusFile_;
};

void SaveScreen(const std::string& name, const std::string& screen) {
    fs::create_directories(CORVINA_SCREENSHOT_DIR);
    std::ofstream(std::string(CORVINA_SCREENSHOT_DIR) + "/" + name) << screen;
}

std::size_t LineCount(const std::string& screen) { return static_cast<std::size_t>(std::count(screen.begin(), screen.end(), '\n')); }

// Two snapshots of a tree in which big/deep grew by 20,000 bytes, browsed in
// a terminal of 80 by 24: the list, following the growth, up again, the trend
// and help panels closed by a key, a resize, quitting with 0. A name that is
// not UTF-8 shows escaped as every output escapes it; a UTF-8 name shows as
// it is where the locale is UTF-8, and escaped in the C locale, where the bar
// is drawn with "#" and NO_COLOR leaves out colours; a terminal that cannot
// move its cursor gets screens in turn. Without a terminal the tool says so
// and exits 2.
TEST(BrowseTerminal, KeysMoveThroughTheTreeInUtf8AndInTheCLocaleAndAResizeDrawsAgain) {
    test::TempDir dir;
    const std::string tree = dir.File("tree"), db = dir.File("s.mdb");
    fs::create_directories(tree + "/big/deep");
    fs::create_directories(tree + "/caf\xc3\xa9");
    fs::create_directories(tree + "/bad\xff");
    test::WriteFile(tree + "/big/deep/f", std::string(5000, 'x'));
    test::WriteFile(tree + "/caf\xc3\xa9/x", "12");
    test::WriteFile(tree + "/bad\xff/y", "123");
    test::WriteFile(tree + "/top.txt", std::string(8000, 'x'));
    test::RunOkOn(db, {"snapshot", tree});
    test::WriteFile(tree + "/big/deep/f", std::string(25000, 'x'));
    test::RunOkOn(db, {"snapshot", tree});

    const ToolRun piped = test::RunOn(db, {"browse"});
    EXPECT_EQ(piped.ExitCode, 2);
    EXPECT_NE(piped.Err.find("corvina: browse needs a terminal"), std::string::npos) << piped.Err;

    const std::string browse = std::string(CORVINA_CLI_PATH) + " browse --db " + db;
    {
        Terminal terminal("env LANG=C.UTF-8 LC_ALL=C.UTF-8 " + browse, dir.File("status"));
        std::string screen = terminal.WaitFor("Name");
        SaveScreen("browse-utf8.txt", screen);
        EXPECT_EQ(LineCount(screen), 24u);
        EXPECT_NE(screen.find("  24.4 KB  75.7% [\u2588\u2588\u2588\u2588\u2588\u2588  ]   +19.5 KB "
                              "        1  big/\n"),
                  std::string::npos)
            << screen;
        EXPECT_NE(screen.find("  caf\u00e9/\n"), std::string::npos);
        EXPECT_NE(screen.find("  bad\\xFF/\n"), std::string::npos);
        EXPECT_NE(terminal.Screen(true).find("31m"), std::string::npos) << "growth in red";

        terminal.Keys("f");
        screen = terminal.WaitFor("The growth leads to " + tree + "/big/deep (+19.5 KB).");
        EXPECT_NE(screen.find("files  " + tree + "/big\n"), std::string::npos) << screen;
        terminal.Keys("Left");
        terminal.WaitFor("files  " + tree + "\n");

        terminal.Keys("t");
        screen = terminal.WaitFor("Trend of " + tree);
        SaveScreen("browse-trend.txt", screen);
        EXPECT_NE(screen.find("Forecast: "), std::string::npos) << screen;
        terminal.Keys("q");  // closes the panel only
        terminal.WaitForNo("Trend of");
        terminal.Keys("Down i");
        screen = terminal.WaitFor("Details");
        SaveScreen("browse-details.txt", screen);
        EXPECT_NE(screen.find("Path:             " + tree + "/(files)\n"), std::string::npos) << screen;
        EXPECT_NE(screen.find("Growth:           +0 B\n"), std::string::npos) << screen;
        terminal.Keys("Escape");
        terminal.WaitForNo("Details");
        terminal.Keys("?");
        screen = terminal.WaitFor("follow the growth");
        SaveScreen("browse-help.txt", screen);
        terminal.Keys("Escape");
        terminal.WaitFor("Name");

        terminal.Resize(60, 15);
        EXPECT_TRUE(test::WaitUntil([&] {
            screen = terminal.Screen();
            // tmux shows the old screen cut to the new size until the program draws again.
            return LineCount(screen) == 15 && screen.find(" vs ") != std::string::npos &&
                   screen.find("\nq:quit ?:help") != std::string::npos;
        })) << screen;
        SaveScreen("browse-60x15.txt", screen);
        EXPECT_NE(screen.find("+19.5 KB         1  big/\n"), std::string::npos) << screen;
        // Both keys and the basis still fit.
        EXPECT_NE(screen.find("  apparent\n"), std::string::npos) << screen;

        terminal.Keys("q");
        EXPECT_TRUE(test::WaitUntil([&] { return terminal.Ended() == "0\n"; })) << terminal.Ended();
    }
    {
        Terminal terminal("env LANG=C LC_ALL=C NO_COLOR=1 " + browse, dir.File("status"));
        const std::string screen = terminal.WaitFor("Name");
        SaveScreen("browse-c-locale.txt", screen);
        EXPECT_NE(screen.find("[######  ]   +19.5 KB"), std::string::npos) << screen;
        EXPECT_NE(screen.find("  caf\\u{00E9}/\n"), std::string::npos) << screen;
        EXPECT_NE(screen.find("  bad\\xFF/\n"), std::string::npos) << screen;
        EXPECT_EQ(screen.find("\u2588"), std::string::npos);
        EXPECT_EQ(terminal.Screen(true).find("31m"), std::string::npos) << "no colour with NO_COLOR";
        terminal.Keys("q");
        EXPECT_TRUE(test::WaitUntil([&] { return terminal.Ended() == "0\n"; })) << terminal.Ended();
    }
    {
        // A terminal that cannot move its cursor gets whole screens in turn,
        // the selection marked in a gutter.
        Terminal terminal("env TERM=dumb LC_ALL=C.UTF-8 " + browse, dir.File("status"));
        terminal.WaitFor(">   24.4 KB  75.7%");
        terminal.Keys("Down");
        const std::string screen = terminal.WaitFor(">    7.8 KB  24.2%");
        SaveScreen("browse-dumb.txt", screen);
        terminal.Keys("q");
        EXPECT_TRUE(test::WaitUntil([&] { return terminal.Ended() == "0\n"; })) << terminal.Ended();
    }
}

}  // namespace
}  // namespace corvina
