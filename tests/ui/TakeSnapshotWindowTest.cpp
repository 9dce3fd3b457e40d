// The take-snapshot window: the database start-up opens, the threshold with
// its units and scroll bar, the debug key, the recent-database and open items
// that switch databases; snapshot runs started from it (progress and outcome as
// the user sees them, abort, file errors, debug stops, what the window refuses
// while the worker runs; rows are checked in the database file); and the small
// windows around it (About, debug, file errors, message boxes).

#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include <QPrinterInfo>
#include <QtWidgets>
#include <QtTest>
#include <SQLiteCpp/Database.h>

#include "app/Settings.h"
#include "store/Catalogue.h"
#include "base/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/AboutWindow.h"
#include "ui/DebugWindow.h"
#include "ui/FileErrorsWindow.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ProgramStart.h"
#include "ui/ScreenPlacement.h"
#include "ui/SizeThreshold.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

using List = std::vector<std::string>;

namespace {

// An option or a check box reacts to clicks on its circle or box and its
// caption, not on the blank rest of its row.
void ClickOption(QWidget& window, const char* name) {
    auto* button = Child<QAbstractButton>(window, name);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// A window without a database, shown: clicks land only on laid-out controls.
struct Shown {
    Harness h;
    TakeSnapshotWindow Window{h.Context};
    Shown() { ShowExposed(Window); }
    QLineEdit* Threshold() { return Child<QLineEdit>(Window, "txtsmall"); }
    QString InBytes() { return Texts(Window, {"lbltsmall"}); }
};

QStringList VisibleCaptions(TakeSnapshotWindow& window) {
    QStringList captions;
    for (int i = 0; i < 10; ++i) {
        QAction* item = Child<QAction>(window, qPrintable(QString("menrec_%1").arg(i)));
        if (item->isVisible()) captions << item->text();
    }
    return captions;
}

constexpr int kRunTimeoutMs = 10000;

// A shown window with a new database and a small tree chosen: root/top.txt
// 100, root/a/f1 10, root/a/f2 2000, root/b/c/f3 5000; 4 directories,
// 4 files, 7110 bytes; 2 files of 1000 bytes or more.
struct RunFixture {
    Harness h;
    std::string Db = h.OpenNewDatabase();
    std::string Root = h.Dir.File("tree");
    ProgramContext Context;
    TakeSnapshotWindow Window{Context};

    explicit RunFixture(const QString& description, Prompter* messages = nullptr)
        : Context(messages != nullptr ? WithMessages(h.Context, *messages) : h.Context) {
        for (const auto& [file, size] : {std::pair{"/top.txt", 100}, {"/a/f1", 10}, {"/a/f2", 2000}, {"/b/c/f3", 5000}}) {
            MakeFile(Root + file, size);
        }
        Window.show();
        Child<QLineEdit>(Window, "txtpath")->setText(QString::fromStdString(Root));
        Child<QPlainTextEdit>(Window, "txtdesc")->setPlainText(description);
    }
    void Take() { ClickButton(Window, "comsnap"); }
    bool Ended() { return QTest::qWaitFor([this]() { return !Window.IsRunning(); }, kRunTimeoutMs); }
    bool Held() { return QTest::qWaitFor([this]() { return h.Disk.Waiting == 1; }, kRunTimeoutMs); }
    QDialog* DebugStop() {
        if (!QTest::qWaitFor([this]() { return Visible("frmdebug") != nullptr; }, kRunTimeoutMs)) return nullptr;
        return qobject_cast<QDialog*>(Visible("frmdebug"));
    }
    QWidget* Visible(const char* name) {
        auto* widget = Window.findChild<QWidget*>(name);
        return widget != nullptr && widget->isVisible() ? widget : nullptr;
    }
    std::int64_t Rows(const std::string& table) {
        return CountRows(Db, table, Window.SnapshotDate() ? FormatKey(*Window.SnapshotDate()) : "none");
    }
    void Debug() { QTest::keyClick(&Window, 'd'); }
};

QStringList SortedColumn(QTableWidget& grid, int column) {
    QStringList texts = ColumnTexts(*grid.model(), column);
    texts.sort();
    return texts;
}

}  // namespace

class TakeSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void WindowOpensWhateverTheStartMakesOfTheDatabase();
    void ThresholdTextConvertsInEachUnit();
    void ThresholdFollowsOptionUnitAndScrollBarAndKeepsTheLastGoodValue();
    void LowercaseDTogglesDebugModeOutsideTextBoxes();
    void RecentAndOpenItemsSwitchDatabasesUnlessCancelledOrDeclined();
    void RunShowsItsOutcomeAndStoresRowsAndWhatIsLeftOutIsKeptForTheNextStart();
    void WindowRefusesOtherWorkWhileRunningAndExitAbortsFirst();
    void FileErrorsAreListedBesideTheWindow();
    void DebugStopShowsTheDirectoryAndAbortOrCloseThereRollsBack();
    void YesToCloseOrExitEndsEvenWhenTheRunEndedWhileAsked();
    void AboutWindowClosesWithOk();
    void DebugWindowAnswersOncePerStop();
    void MessageBoxQuestionFromAWorkerThreadShowsItsTextAsWrittenAndIsAnsweredOnTheGuiThread();
    void FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInViewAndPrints();
};

// The default database created on Yes (Exit then ends the program) or
// declined (a run is then refused); a damaged or a busy recent one reported,
// with texts checked where they are made (DatabaseTest, DamagedFile). The
// window opens all the same.
void TakeSnapshotWindowTest::WindowOpensWhateverTheStartMakesOfTheDatabase() {
    enum Start { Yes, No, Damaged, Busy };
    for (const Start start : {Yes, No, Damaged, Busy}) {
        Harness h;
        std::string path = h.Dir.File("corvina.mdb");
        std::optional<SQLite::Database> other;
        if (start == Damaged || start == Busy) {
            path = h.OpenNewDatabase("notes.mdb");
            CloseSnapshotDatabase(h.Database);
            h.StoreRecent({path});
        }
        if (start == Damaged) WriteAt(path, 100, std::string(3996, '\xA5'));  // all of the first page after the header
        if (start == Busy) {  // kept locked by another program that writes with a rollback journal
            other.emplace(path, SQLite::OPEN_READWRITE);
            other->exec("PRAGMA journal_mode = DELETE");
            other->exec("BEGIN EXCLUSIVE");
            other->exec("INSERT INTO Control (Snapshot) VALUES ('2024-01-01 00:00:00')");
            h.Database.BusyTimeoutMs = 200;
        }
        h.Prompter.Script({start == Yes ? Answer::Yes : Answer::No});
        std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
        QVERIFY(window != nullptr && window->isVisible() && !h.Ender.Ended);
        QCOMPARE(ReadRecentList(h.Settings), List{path});
        const std::vector<Message> said = h.Prompter.Messages();
        const char* why[] = {"", "", " is damaged: ", " is busy: "};
        QVERIFY2(said.size() == 1 && (start <= No ? said[0].MessageButtons == Buttons::YesNo
                                                  : said[0].Text.find(path + why[start]) != std::string::npos),
                 said.empty() ? "" : said[0].Text.c_str());
        QVERIFY(std::filesystem::exists(path) == (start != No) && h.Database.IsUsable() == (start == Yes));
        QVERIFY(start < Damaged || h.Database.DatabasePath.empty());
        QCOMPARE(window->StatusText(), start == Yes ? "Snapshot database is: " + QString::fromStdString(path)
                                                    : QString("No snapshot database is open"));
        h.Prompter.Clear();
        if (start == Yes) {
            Child<QAction>(*window, "menexit")->trigger();
            QVERIFY(h.Ender.Ended && h.Ender.ExitCode == 0 && h.Database.Engine == nullptr && !window->isVisible());
        } else if (start == No) {
            Child<QLineEdit>(*window, "txtpath")->setText(QString::fromStdString(h.Dir.Path().string()));
            Child<QPlainTextEdit>(*window, "txtdesc")->setPlainText("no database");
            Child<QPushButton>(*window, "comsnap")->click();
            QTRY_VERIFY(!window->IsRunning());
            const std::vector<std::string> texts = h.Prompter.Texts();
            QVERIFY(texts.size() == 1 && texts[0].find("No snapshot database") != std::string::npos);
            QVERIFY(!window->SnapshotDate().has_value());
        }
    }
}

void TakeSnapshotWindowTest::ThresholdTextConvertsInEachUnit() {
    struct Case {
        const char* Text;
        SizeUnit Unit;
        std::int64_t Bytes;  // -1: refused
    };
    using enum SizeUnit;
    const Case cases[] = {{"2.5", Bytes, 2} /* halves to even */, {" 3.5 ", Bytes, 4}, {"1.5", KB, 1536},
                          {"2147483648", Bytes, 2147483648}, {"2048", MB, std::int64_t{2048} << 20},
                          {"9223372036854775807", Bytes, INT64_MAX} /* exact, not through a double */,
                          {"8796093022208", MB, -1} /* 2^63 bytes */, {"9.3e18", Bytes, -1},
                          {"", Bytes, -1}, {"12abc", KB, -1}, {"inf", Bytes, -1}};
    for (const Case& c : cases) QCOMPARE(ComputeSizeThreshold(c.Text, c.Unit).value_or(-1), c.Bytes);
}

void TakeSnapshotWindowTest::ThresholdFollowsOptionUnitAndScrollBarAndKeepsTheLastGoodValue() {
    Shown s;
    QVERIFY(!s.Window.CollectFiles() && s.Window.SizeThreshold() == 0 && s.InBytes() == "0 bytes");
    // "No" disables the threshold controls but not the scroll bar.
    const auto enabled = [&s]() {
        QString states;
        for (const char* name : {"lblsmall", "txtsmall", "frmbytes", "lbltsmall", "opttype_2", "Scrollsmall"}) {
            states += Child<QWidget>(s.Window, name)->isEnabled() ? "1" : "0";
        }
        return states;
    };
    QCOMPARE(enabled(), QString("000001"));
    ClickOption(s.Window, "optsel_1");
    QVERIFY(s.Window.CollectFiles() && enabled() == "111111");

    // The unit recomputes without touching the text.
    s.Threshold()->setText("10");
    ClickOption(s.Window, "opttype_1");
    QCOMPARE(Texts(s.Window, {"txtsmall", "lbltsmall"}), QString("10|10240 bytes"));
    ClickOption(s.Window, "opttype_2");
    QCOMPARE(s.Window.SizeThreshold(), 10 * 1024 * 1024);
    // A bad text keeps the last good value and says so beside it, without a message box while typing.
    s.Threshold()->setText("12x");
    QVERIFY2(s.Window.SizeThreshold() == 10 * 1024 * 1024 && s.InBytes().contains("10485760 bytes") &&
                 s.InBytes() != "10485760 bytes" && s.h.Prompter.Messages().empty(),
             qPrintable(s.InBytes()));
    // Typed key by key, a size over 32 bits is taken whole.
    s.Threshold()->clear();
    QTest::keyClicks(s.Threshold(), "2048");
    QCOMPARE(s.Window.SizeThreshold(), std::int64_t{2048} << 20);

    // The scroll bar's up arrow counts up from the bottom; typing does not move it back.
    auto* scroll = Child<QScrollBar>(s.Window, "Scrollsmall");
    ClickOption(s.Window, "opttype_0");
    for (int i = 0; i < 3; ++i) scroll->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(Texts(s.Window, {"txtsmall", "lbltsmall"}), QString("3|3 bytes"));
    s.Threshold()->setText("100");
    QCOMPARE(scroll->value(), -3);
    scroll->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(s.Threshold()->text(), QString("32000"));
    // Collection off again: the threshold stays, the scroll bar still works.
    ClickOption(s.Window, "optsel_0");
    QVERIFY(!s.Window.CollectFiles() && scroll->isEnabled() && s.Window.SizeThreshold() == 32000);
}

void TakeSnapshotWindowTest::LowercaseDTogglesDebugModeOutsideTextBoxes() {
    Shown s;
    // In a text box "d" is typed and nothing pops up; elsewhere it toggles,
    // once, even when the focused control passes the key on to its parents.
    for (const auto& [name, toggles] :
         {std::pair{"txtdesc", false}, {"txtpath", false}, {"comsnap", true}, {"optsel_0", true}}) {
        auto* control = Child<QWidget>(s.Window, name);
        control->setFocus();
        const bool before = s.Window.DebugMode();
        s.h.Prompter.Clear();
        QTest::keyClicks(control, "data");
        QVERIFY2(s.Window.DebugMode() == (before != toggles) && s.h.Prompter.Messages().size() == std::size_t{toggles}, name);
    }
    QVERIFY(Texts(s.Window, {"txtdesc", "txtpath"}).contains(QRegularExpression("^data\\|.*data$")));
    // In the directory tree the toggle goes no further: its type-ahead would
    // move to a folder starting with "d" and so change what is snapshotted.
    auto* tree = Child<QAbstractItemView>(s.Window, "dirmain");
    auto* folders = qobject_cast<QFileSystemModel*>(tree->model());
    std::filesystem::create_directories(s.h.Dir.Path() / "aa");
    std::filesystem::create_directories(s.h.Dir.Path() / "dd-folder");
    const QModelIndex current = folders->index(QString::fromStdString(s.h.Dir.File("aa")));
    tree->setCurrentIndex(current);
    QVERIFY(QTest::qWaitFor([&]() { return folders->rowCount(current.parent()) >= 2; }));
    tree->setFocus();
    const QString path = Texts(s.Window, {"txtpath"});
    const bool before = s.Window.DebugMode();
    QTest::keyClick(tree, 'd');
    QVERIFY(s.Window.DebugMode() != before && tree->currentIndex() == current && Texts(s.Window, {"txtpath"}) == path);
}

void TakeSnapshotWindowTest::RecentAndOpenItemsSwitchDatabasesUnlessCancelledOrDeclined() {
    Harness h;
    std::filesystem::create_directories(h.Dir.Path() / "my snapshots");
    // Three databases on the recent list, the first one open.
    const List dbs = {h.Dir.File("A.mdb"), h.Dir.File("B.mdb"), h.Dir.File("my snapshots/disk c.mdb")};
    for (auto it = dbs.rbegin(); it != dbs.rend(); ++it) h.OpenNewDatabase(*it);
    h.StoreRecent(dbs);
    TakeSnapshotWindow window(h.Context);
    // The first database on the list is the one in use, with its status; the
    // items show the list in its order, numbered.
    const auto uses = [&](const List& recent) {
        QStringList captions;
        for (std::size_t i = 0; i < recent.size(); ++i) captions << QString("&%1 %2").arg(i + 1).arg(recent[i].c_str());
        return h.Database.DatabasePath == recent[0] && h.Database.IsUsable() && ReadRecentList(h.Settings) == recent &&
               window.StatusText() == "Snapshot database is: " + QString::fromStdString(recent[0]) &&
               VisibleCaptions(window) == captions;
    };
    QVERIFY(uses(dbs));
    // Until the analysis window exists, "&Analyse" says so and the window stays.
    Child<QAction>(window, "menanal")->trigger();
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    h.Prompter.Clear();

    // A path with blanks is taken whole from its caption.
    Child<QAction>(window, "menrec_2")->trigger();
    QVERIFY(uses({dbs[2], dbs[0], dbs[1]}));
    // Cancelled (the script has no answer): nothing changes, nothing is said.
    Child<QAction>(window, "menopen")->trigger();
    QVERIFY(uses({dbs[2], dbs[0], dbs[1]}) && h.Prompter.Messages().empty());
    QCOMPARE(h.Dialogs.Requests.at(0).InitialPath, QString::fromStdString(dbs[2]));

    // A new file declined: no file, and the database in use stays, with its
    // status and the list; accepted: created and put on top.
    const std::string fresh = h.Dir.File("D.mdb");
    h.Dialogs.Answers = {QString::fromStdString(fresh), QString::fromStdString(fresh)};
    h.Prompter.Script({Answer::No, Answer::Yes});
    Child<QAction>(window, "menopen")->trigger();
    std::vector<std::string> paths{"none read"};
    QVERIFY(!std::filesystem::exists(fresh) && uses({dbs[2], dbs[0], dbs[1]}));
    QVERIFY(ListBasePaths(h.Database, paths).Ok() && paths.empty());
    Child<QAction>(window, "menopen")->trigger();
    QVERIFY(std::filesystem::exists(fresh) && uses({fresh, dbs[2], dbs[0], dbs[1]}));
}

// A path that is gone is refused at the click. A run shows its counters and
// status and stores its rows. What is typed and ticked to be left out is left
// out of the next run and is what the window shows at its next start; a line
// of blanks is no pattern.
void TakeSnapshotWindowTest::RunShowsItsOutcomeAndStoresRowsAndWhatIsLeftOutIsKeptForTheNextStart() {
    RunFixture f("complete");
    Child<QLineEdit>(f.Window, "txtpath")->setText(QString::fromStdString(f.Root + "/gone"));
    f.Take();
    QVERIFY(!f.Window.IsRunning() && f.h.Prompter.Messages().size() == 1);
    QCOMPARE(f.h.Prompter.Texts()[0],
             "The path " + f.Root + "/gone is not an existing directory (No such file or directory)");
    QVERIFY(f.h.Prompter.Messages()[0].MessageIcon == Icon::Exclamation);
    f.h.Prompter.Clear();
    f.Window.SetDirectoryPath(QString::fromStdString(f.Root));
    Child<QRadioButton>(f.Window, "optsel_1")->click();
    Child<QLineEdit>(f.Window, "txtsmall")->setText("1000");
    f.Take();
    QVERIFY(f.Window.IsRunning() && QApplication::overrideCursor() != nullptr);
    QVERIFY(f.Ended());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot completed."));
    QCOMPARE(Texts(f.Window, {"txtdirs", "txtfiles", "txtbytes", "txtaddedfile", "txtaddedsize"}),
             QString("4|4|6 KB|2|6 KB"));
    QVERIFY(QApplication::overrideCursor() == nullptr && Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    QVERIFY(f.h.Prompter.Messages().empty() && f.Visible("frmerr") == nullptr);
    SaveScreenshot(f.Window, "Analsnap");
    // 4 directory entries, 3 files entries, 2 files of 1000 bytes or more.
    QCOMPARE(QString("%1 %2 %3").arg(f.Rows("Control")).arg(f.Rows("Dir")).arg(f.Rows("files")), QString("1 7 2"));

    auto* patterns = Child<QPlainTextEdit>(f.Window, "txtexcl");
    auto* caches = Child<QCheckBox>(f.Window, "chkcache");
    QVERIFY(patterns->toPlainText().isEmpty() && !caches->isChecked());
    patterns->setFocus();
    QTest::keyClicks(patterns, "f2");
    QTest::keyClick(patterns, Qt::Key_Return);
    QTest::keyClicks(patterns, "  ");
    QTest::keyClick(patterns, Qt::Key_Return);
    QTest::keyClicks(patterns, "c");
    ClickOption(f.Window, "chkcache");
    QVERIFY(caches->isChecked());
    f.Take();
    QVERIFY(f.Ended());
    // The tree less a/f2 (2000 bytes) and b/c with f3 (5000 bytes).
    QCOMPARE(Texts(f.Window, {"txtdirs", "txtfiles", "txtbytes"}), QString("3|2|110"));
    QCOMPARE(QString::fromStdString(Query(f.Db, "SELECT Position, Kind, Pattern FROM Exclusion")),
             QString("0|pattern|f2,1|pattern|c,2|caches|"));
    SaveScreenshot(f.Window, "Analsnap_exclusions");
    // Another start of the program reads the settings file afresh.
    f.h.Settings.sync();
    QSettings reread(f.h.Settings.fileName(), QSettings::IniFormat);
    ProgramContext restarted{f.h.Database, f.h.Prompter, f.h.Ender, reread, f.h.Dialogs, &f.h.Disk};
    TakeSnapshotWindow again(restarted);
    QVERIFY(Texts(again, {"txtexcl"}) == "f2\n  \nc" && Child<QCheckBox>(again, "chkcache")->isChecked());
}

void TakeSnapshotWindowTest::WindowRefusesOtherWorkWhileRunningAndExitAbortsFirst() {
    RunFixture f("held");
    f.h.StoreRecent({f.Db});
    f.Window.RefreshRecentMenu();
    f.h.Disk.Hold();
    f.Take();
    QVERIFY(f.Held());
    // A second run, a database switch and the analysis window are out of reach.
    for (const char* item : {"menopen", "menrec_0", "menanal"}) QVERIFY2(!Child<QAction>(f.Window, item)->isEnabled(), item);
    QVERIFY(!Child<QPushButton>(f.Window, "comsnap")->isEnabled());
    f.Take();
    Child<QAction>(f.Window, "menopen")->trigger();
    QVERIFY(f.h.Dialogs.Requests.empty());

    // Closing asks, and No keeps the run and the window; Exit asked Yes aborts
    // and ends the program once the worker has let the database go.
    f.h.Prompter.Script({Answer::No, Answer::Yes});
    QVERIFY(!f.Window.close() && f.Window.isVisible() && f.Window.IsRunning());
    Child<QAction>(f.Window, "menexit")->trigger();
    QVERIFY(!f.h.Ender.Ended);
    f.h.Disk.Release();
    QTRY_VERIFY_WITH_TIMEOUT(f.h.Ender.Ended, kRunTimeoutMs);
    QVERIFY(f.h.Prompter.Messages().size() == 2 && f.h.Database.Engine == nullptr && f.h.Disk.Listings == 1);
    QCOMPARE(f.Rows("Control") + f.Rows("Dir"), 0);
}

// The limit of a hundred errors is the run's own, tested with it. The note
// waits for a person's click: the run has ended its transaction by then, so
// that every other writer of the database can go on meanwhile.
void TakeSnapshotWindowTest::FileErrorsAreListedBesideTheWindow() {
    // Says, with each message, whether another connection could write then,
    // and how many snapshots it saw.
    struct WriterProbe : Prompter {
        std::string Db;
        std::vector<Message> Said;
        std::vector<std::string> Seen;
        Answer Ask(const Message& message) override {
            SQLite::Database other(Db, SQLite::OPEN_READWRITE);
            std::string seen = "held";
            try {
                other.exec("BEGIN IMMEDIATE");
                seen = other.execAndGet("SELECT count(*) FROM Control").getString() + " snapshots";
                other.exec("ROLLBACK");
            } catch (const SQLite::Exception&) {
            }
            Said.push_back(message);
            Seen.push_back(seen);
            return Answer::Ok;
        }
    } probe;
    RunFixture f("with errors", &probe);
    probe.Db = f.Db;
    MakeFile(f.Root + "/bad-one", 1);
    MakeFile(f.Root + "/a/bad-two", 1);
    f.Take();
    QVERIFY(f.Ended());
    QWidget* errors = f.Visible("frmerr");
    QVERIFY(errors != nullptr && probe.Said.size() == 1 && f.Rows("Control") == 1);
    QCOMPARE(probe.Said[0].Text, std::string("Note: information on 2 files could not be collected"));
    QVERIFY(probe.Said[0].MessageIcon == Icon::None && probe.Said[0].Title == kAppTitle);
    QCOMPARE(probe.Seen, std::vector<std::string>{"1 snapshots"});
    auto* grid = Child<QTableWidget>(*errors, "grderr");
    QCOMPARE(SortedColumn(*grid, 0), (QStringList{QString::fromStdString(f.Root + "/a/bad-two"),
                                                  QString::fromStdString(f.Root + "/bad-one")}));
    QVERIFY(grid->item(0, 1)->text().contains("ermission"));
    SaveScreenshot(*errors, "frmerr");
}

void TakeSnapshotWindowTest::DebugStopShowsTheDirectoryAndAbortOrCloseThereRollsBack() {
    RunFixture f("debugged");
    f.Debug();
    f.Take();
    QDialog* debug = f.DebugStop();
    QVERIFY(debug != nullptr && debug->windowModality() != Qt::NonModal && f.Window.IsRunning());
    const QString title = QString::fromStdString("Files within " + f.Root + "/");
    QCOMPARE(Texts(*debug, {"lbltitle"}), title);
    auto* grid = Child<QTableWidget>(*debug, "grddebug");
    QCOMPARE(SortedColumn(*grid, 0).first(), QString::fromStdString(f.Root + "/a"));
    QCOMPARE(SortedColumn(*grid, 1), QStringList({"0       ", "16      ", "16      "}));  // a file, two directories
    // The window shows where the walk stands, and the worker waits.
    QCOMPARE(f.Window.StatusText(), QString::fromStdString("Processing directory " + f.Root));
    SaveScreenshot(*debug, "frmdebug");

    // Switched off, the stop stays open until the user continues; there is no stop at b.
    ClickButton(*debug, "comdebug");
    QVERIFY(debug->isVisible() && !f.Window.DebugMode());
    ClickButton(*debug, "comexit");
    QVERIFY(f.Ended());
    QVERIFY(Texts(*debug, {"lbltitle"}) == title && f.Window.StatusText() == "Snapshot completed.");

    // Abort at a stop keeps nothing; debug mode stays on for later runs.
    f.Debug();
    f.Take();
    QVERIFY(f.DebugStop() != nullptr);
    ClickButton(*debug, "comhalt");
    QVERIFY(f.Ended() && !debug->isVisible() && f.Window.DebugMode());
    QCOMPARE(f.Window.StatusText(), QString("Snapshot aborted"));
    QCOMPARE(f.Rows("Control") + f.Rows("Dir") + f.Rows("files"), 0);

    // Closing the window at a stop: asked, then the stop ends as an abort and the window closes.
    f.Take();
    QVERIFY(f.DebugStop() != nullptr);
    f.h.Prompter.Clear();
    f.Window.close();  // the prompter answers Yes
    QVERIFY(f.Ended());
    QTRY_VERIFY(!f.Window.isVisible());
    QVERIFY(f.h.Prompter.Messages().size() == 1 && f.Rows("Dir") == 0);
    QVERIFY(QApplication::overrideCursor() == nullptr && !f.h.Ender.Ended);
}

// The user takes a while to answer: the run ends meanwhile.
void TakeSnapshotWindowTest::YesToCloseOrExitEndsEvenWhenTheRunEndedWhileAsked() {
    struct SlowYes : Prompter {
        std::function<void()> WhileAsked;
        Answer Ask(const Message&) override {
            WhileAsked();
            return Answer::Yes;
        }
    } slowYes;
    RunFixture f("ended while asked", &slowYes);
    slowYes.WhileAsked = [&]() {
        f.h.Disk.Release();
        QVERIFY(f.Ended());
    };
    const std::function<void()> ends[] = {[&]() { f.Window.close(); },
                                          [&]() { Child<QAction>(f.Window, "menexit")->trigger(); }};
    for (const auto& end : ends) {
        f.h.Disk.Hold();
        f.Take();
        QVERIFY(f.Held());
        end();
        QVERIFY(!f.Window.isVisible());
        f.Window.show();
    }
    QVERIFY(f.h.Ender.Ended);
}

void TakeSnapshotWindowTest::AboutWindowClosesWithOk() {
    AboutWindow about;
    about.show();
    // The name and the version the build knows, one blank apart.
    const QString title = Texts(about, {"lbl1"});
    QVERIFY2(QRegularExpression("^Corvina version \\d+\\.\\d+\\.\\d+$").match(title).hasMatch(), qPrintable(title));
    SaveScreenshot(about, "frmabout");
    ClickButton(about, "comok");
    QVERIFY(!about.isVisible());
}

// What the run tests do not reach: closing the window, E&xit, and a second click after an answer.
void TakeSnapshotWindowTest::DebugWindowAnswersOncePerStop() {
    Harness h;
    RunControl control;
    DebugWindow window(control, h.Dialogs, h.Prompter, nullptr);
    QSignalSpy spy(&window, &DebugWindow::Answered);
    window.ShowStop("Files within /t/", {});
    window.close();
    window.ShowStop("Files within /t/", {});
    Child<QAction>(window, "menexit")->trigger();
    window.ShowStop("Files within /t/", {});
    ClickButton(window, "comhalt");
    ClickButton(window, "comexit");
    QCOMPARE(spy.count(), 3);
    QVERIFY(spy.at(0).at(0).value<DebugAnswer>() == DebugAnswer::Continue &&
            spy.at(1).at(0).value<DebugAnswer>() == DebugAnswer::Continue);
    QCOMPARE(spy.at(2).at(0).value<DebugAnswer>(), DebugAnswer::Abort);
}

void TakeSnapshotWindowTest::MessageBoxQuestionFromAWorkerThreadShowsItsTextAsWrittenAndIsAnsweredOnTheGuiThread() {
    MessageBoxPrompter prompter;
    std::atomic<bool> done{false};
    Answer answer = Answer::Ok;
    // The box runs its own event loop on this thread: a timer inside that loop answers No.
    QString shown;
    QTimer answerer;
    answerer.setInterval(20);
    connect(&answerer, &QTimer::timeout, [&]() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box->button(QMessageBox::No) == nullptr) return;
        answerer.stop();
        shown = box->windowTitle() + "|" + box->text() + (done ? "" : "|worker waiting") +
                (box->textFormat() == Qt::PlainText ? "|as written" : "");
        box->button(QMessageBox::No)->click();
    });
    answerer.start();
    std::thread worker([&]() {
        answer = prompter.Ask(Message{.Text = "Create <b>it</b>?", .MessageButtons = Buttons::YesNo});
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    worker.join();
    QCOMPARE(shown, QString("corvina|Create <b>it</b>?|worker waiting|as written"));
    QCOMPARE(answer, Answer::No);
}

void TakeSnapshotWindowTest::FileErrorsWindowOpensOnScreenBesideItsOwnerWithItsColumnsInViewAndPrints() {
    // Owner and screen -> where a 450 by 400 frame goes: right, left, over the roomier side, on a second screen.
    const QSize frame(450, 400);
    const QRect screen(0, 0, 1280, 800);
    const QRect right(1280, 0, 1920, 1080);
    const std::tuple<QRect, QRect, QPoint> cases[] = {
        {QRect(100, 50, 600, 500), screen, QPoint(708, 50)},    {QRect(700, 50, 500, 500), screen, QPoint(242, 50)},
        {QRect(300, 50, 700, 500), screen, QPoint(0, 50)},      {QRect(250, 600, 700, 500), screen, QPoint(830, 400)},
        {QRect(2900, 100, 500, 400), right, QPoint(2442, 100)}, {QRect(-300, 0, 500, 400), right, QPoint(1280, 0)},
    };
    for (const auto& [owner, available, expected] : cases) QCOMPARE(PlaceBeside(owner, frame, available), expected);
    QCOMPARE(FitOnScreen(QRect(-50, 700, 2000, 300), screen), QRect(0, 500, 1280, 300));

    // Shown where it would hang off the screen, the window is moved onto it;
    // a path of ordinary length and the message are in view without scrolling.
    Harness h;
    FileErrorsWindow errors(h.Dialogs, h.Prompter, nullptr);
    const QRect available = errors.screen()->availableGeometry();
    errors.move(available.right() - 100, available.bottom() - 100);
    errors.ShowErrors({{"/home/user/projects/corvina/build/tests/data/unreadable", "Permission denied"}});
    QVERIFY(QTest::qWaitForWindowExposed(&errors));
    QVERIFY(available.contains(errors.frameGeometry()));
    auto* grid = Child<QTableWidget>(errors, "grderr");
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
    QCOMPARE(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width());
    QVERIFY(grid->columnWidth(0) > grid->columnWidth(1));

    // Without a printer, Print writes the list to a PDF, an image rather than an empty page.
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a printer exists on this machine");
    const std::string pdf = h.Dir.File("errors.pdf");
    h.Dialogs.Answers.push_back(QString::fromStdString(pdf));
    Child<QAction>(errors, "menprint")->trigger();
    QVERIFY(ReadFile(pdf).starts_with("%PDF") && std::filesystem::file_size(pdf) > 1000);
    QVERIFY(h.Prompter.Messages().empty());
}

QTEST_MAIN(TakeSnapshotWindowTest)
#include "TakeSnapshotWindowTest.moc"
