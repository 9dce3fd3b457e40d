// The take-snapshot window before any run: the database start-up opens, an
// unavailable drive, the threshold with its units and scroll bar, the debug
// key, and the recent-database and open items that switch databases.

#include <filesystem>
#include <fstream>
#include <optional>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>
#include <SQLiteCpp/Database.h>

#include "app/Settings.h"
#include "tests/ui/WindowHarness.h"
#include "ui/ProgramStart.h"
#include "ui/SizeThreshold.h"
#include "ui/TakeSnapshotWindow.h"

using namespace corvina;
using namespace corvina::test;

using List = std::vector<std::string>;

namespace {

// A window without a database, shown: clicks land only on laid-out controls.
struct Shown {
    Harness h;
    TakeSnapshotWindow Window{h.Context};
    Shown() {
        Window.show();
        if (!QTest::qWaitForWindowExposed(&Window)) qFatal("window not exposed");
    }
    // An option reacts to clicks on its circle and caption, not on the blank rest of its row.
    void Click(const char* option) {
        auto* button = Child<QRadioButton>(Window, option);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    QLineEdit* Threshold() { return Child<QLineEdit>(Window, "txtsmall"); }
    QString InBytes() { return Child<QLabel>(Window, "lbltsmall")->text(); }
};

QStringList VisibleCaptions(TakeSnapshotWindow& window) {
    QStringList captions;
    for (int i = 0; i < 10; ++i) {
        QAction* item = Child<QAction>(window, qPrintable(QString("menrec_%1").arg(i)));
        if (item->isVisible()) captions << item->text();
    }
    return captions;
}

}  // namespace

class TakeSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void FirstStartStoresTheDefaultCreatesItOnYesAndOpensWithoutItOnNo();
    void DamagedOrBusyFileIsReportedAndWindowOpensWithoutDatabase();
    void ThresholdTextConvertsInEachUnit();
    void ThresholdFollowsOptionUnitAndScrollBarAndKeepsTheLastGoodValue();
    void LowercaseDTogglesDebugModeOutsideTextBoxes();
    void RecentAndOpenItemsSwitchDatabasesUnlessCancelledOrDeclined();
};

// Declined, the window opens all the same and refuses a run; accepted, Exit ends the program.
void TakeSnapshotWindowTest::FirstStartStoresTheDefaultCreatesItOnYesAndOpensWithoutItOnNo() {
    for (const bool yes : {true, false}) {
        Harness h;
        const std::string expected = h.Dir.File("corvina.mdb");
        h.Prompter.Script({yes ? Answer::Yes : Answer::No});
        std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
        QVERIFY(window != nullptr && window->isVisible() && !h.Ender.Ended);
        QCOMPARE(ReadRecentList(h.Settings), std::vector<std::string>{expected});
        QCOMPARE(std::filesystem::exists(expected) && h.Database.IsUsable(), yes);
        QCOMPARE(h.Prompter.Messages().at(0).MessageButtons, Buttons::YesNo);
        QCOMPARE(window->StatusText(), "Snapshot database is: " + QString::fromStdString(yes ? expected : ""));
        h.Prompter.Clear();
        if (yes) {
            Child<QAction>(*window, "menexit")->trigger();
            QVERIFY(h.Ender.Ended && h.Ender.ExitCode == 0);
            QVERIFY(h.Database.SnapshotDatabase == nullptr && !window->isVisible());
        } else {
            Child<QLineEdit>(*window, "txtpath")->setText(QString::fromStdString(h.Dir.Path().string()));
            Child<QPlainTextEdit>(*window, "txtdesc")->setPlainText("no database");
            Child<QPushButton>(*window, "comsnap")->click();
            QTRY_VERIFY(!window->IsRunning());
            QCOMPARE(h.Prompter.Texts().size(), std::size_t{1});
            QVERIFY(h.Prompter.Texts()[0].find("No snapshot database") != std::string::npos);
            QVERIFY(!window->SnapshotDate().has_value());
        }
    }
}

// The texts are the store's, checked there; here the window opens all the same.
void TakeSnapshotWindowTest::DamagedOrBusyFileIsReportedAndWindowOpensWithoutDatabase() {
    for (const bool damaged : {true, false}) {
        Harness h;
        const std::string path = h.OpenNewDatabase("notes.mdb");
        CloseSnapshotDatabase(h.Database);
        std::optional<SQLite::Database> other;
        if (damaged) {
            const std::string garbage(3996, '\xA5');
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(100).write(garbage.data(), 3996);
        } else {
            // Kept locked by another program that writes with a rollback journal.
            other.emplace(path, SQLite::OPEN_READWRITE);
            other->exec("PRAGMA journal_mode = DELETE");
            other->exec("BEGIN EXCLUSIVE");
            other->exec("INSERT INTO Control (Snapshot) VALUES ('2024-01-01 00:00:00')");
            h.Database.BusyTimeoutMs = 200;
        }
        h.StoreRecent({path});
        std::unique_ptr<TakeSnapshotWindow> window = Main(h.Context, h.Dir.Path().string());
        QVERIFY(window != nullptr && window->isVisible());
        const std::vector<std::string> texts = h.Prompter.Texts();
        QCOMPARE(texts.size(), std::size_t{1});
        QVERIFY2(texts[0].find(path + (damaged ? " is damaged: " : " is busy: ")) != std::string::npos, texts[0].c_str());
        QVERIFY(h.Database.DatabasePath.empty() && !h.Ender.Ended);
        QCOMPARE(window->StatusText(), QString("Snapshot database is: "));
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
    const char* thresholdControls[] = {"lblsmall", "txtsmall", "frmbytes", "lbltsmall", "opttype_2"};
    auto* scroll = Child<QScrollBar>(s.Window, "Scrollsmall");
    for (const char* name : thresholdControls) QVERIFY2(!Child<QWidget>(s.Window, name)->isEnabled(), name);
    QVERIFY(scroll->isEnabled());
    s.Click("optsel_1");
    QVERIFY(s.Window.CollectFiles());
    for (const char* name : thresholdControls) QVERIFY2(Child<QWidget>(s.Window, name)->isEnabled(), name);

    // The unit recomputes without touching the text.
    s.Threshold()->setText("10");
    s.Click("opttype_1");
    QCOMPARE(s.Threshold()->text() + "|" + s.InBytes(), QString("10|10240 bytes"));
    s.Click("opttype_2");
    QCOMPARE(s.Window.SizeThreshold(), 10 * 1024 * 1024);
    // A bad text keeps the last good value and says so beside it, without a message box while typing.
    s.Threshold()->setText("12x");
    QCOMPARE(s.Window.SizeThreshold(), 10 * 1024 * 1024);
    QVERIFY2(s.InBytes().contains("10485760 bytes") && s.InBytes() != "10485760 bytes", qPrintable(s.InBytes()));
    QVERIFY(s.h.Prompter.Messages().empty());
    // Typed key by key, a size over 32 bits is taken whole.
    s.Threshold()->clear();
    QTest::keyClicks(s.Threshold(), "2048");
    QCOMPARE(s.Window.SizeThreshold(), std::int64_t{2048} << 20);

    // The scroll bar's up arrow counts up from the bottom; typing does not move it back.
    s.Click("opttype_0");
    for (int i = 0; i < 3; ++i) scroll->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(s.Threshold()->text() + "|" + s.InBytes(), QString("3|3 bytes"));
    s.Threshold()->setText("100");
    QCOMPARE(scroll->value(), -3);
    scroll->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(s.Threshold()->text(), QString("32000"));
    // Collection off again: the threshold stays, the scroll bar still works.
    s.Click("optsel_0");
    QVERIFY(!s.Window.CollectFiles() && scroll->isEnabled());
    QCOMPARE(s.Window.SizeThreshold(), 32000);
}

void TakeSnapshotWindowTest::LowercaseDTogglesDebugModeOutsideTextBoxes() {
    Shown s;
    // In a text box "d" is typed and nothing pops up; elsewhere it toggles,
    // once, even when the focused control passes the key on to its parents.
    struct Case {
        const char* Control;
        bool Toggles;
    };
    const Case cases[] = {{"txtdesc", false}, {"txtpath", false}, {"comsnap", true}, {"optsel_0", true}};
    for (const Case& c : cases) {
        auto* control = Child<QWidget>(s.Window, c.Control);
        control->setFocus();
        const bool before = s.Window.DebugMode();
        s.h.Prompter.Clear();
        QTest::keyClicks(control, "data");
        QVERIFY2(s.Window.DebugMode() == (before != c.Toggles), c.Control);
        QCOMPARE(s.h.Prompter.Messages().size(), std::size_t{c.Toggles});
    }
    QCOMPARE(Child<QPlainTextEdit>(s.Window, "txtdesc")->toPlainText().right(4), QString("data"));
    QVERIFY(Child<QLineEdit>(s.Window, "txtpath")->text().endsWith("data"));
}

void TakeSnapshotWindowTest::RecentAndOpenItemsSwitchDatabasesUnlessCancelledOrDeclined() {
    Harness h;
    std::filesystem::create_directories(h.Dir.Path() / "my snapshots");
    // Three databases on the recent list, the first one open.
    const List dbs = {h.Dir.File("A.mdb"), h.Dir.File("B.mdb"), h.Dir.File("my snapshots/disk c.mdb")};
    for (auto it = dbs.rbegin(); it != dbs.rend(); ++it) h.OpenNewDatabase(*it);
    h.StoreRecent(dbs);
    TakeSnapshotWindow window(h.Context);
    const auto caption = [](int number, const std::string& path) {
        return QString("&%1 %2").arg(number).arg(QString::fromStdString(path));
    };
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(dbs[0]));
    QCOMPARE(VisibleCaptions(window), (QStringList{caption(1, dbs[0]), caption(2, dbs[1]), caption(3, dbs[2])}));
    // Until the analysis window exists, "&Analyse" says so and the window stays.
    Child<QAction>(window, "menanal")->trigger();
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    h.Prompter.Clear();

    // A path with blanks is taken whole from its caption.
    Child<QAction>(window, "menrec_2")->trigger();
    QVERIFY(h.Database.DatabasePath == dbs[2] && h.Database.IsUsable());
    QCOMPARE(VisibleCaptions(window), (QStringList{caption(1, dbs[2]), caption(2, dbs[0]), caption(3, dbs[1])}));
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(dbs[2]));

    // Cancelled (the script has no answer): nothing changes, nothing is said.
    Child<QAction>(window, "menopen")->trigger();
    QVERIFY(h.Database.DatabasePath == dbs[2] && h.Database.IsUsable() && h.Prompter.Messages().empty());
    QCOMPARE(h.Dialogs.Requests.at(0).InitialPath, QString::fromStdString(dbs[2]));

    // A new file declined: no database, no file, the list as it was; accepted: created and put on top.
    const std::string fresh = h.Dir.File("D.mdb");
    h.Dialogs.Answers = {QString::fromStdString(fresh), QString::fromStdString(fresh)};
    h.Prompter.Script({Answer::No, Answer::Yes});
    Child<QAction>(window, "menopen")->trigger();
    QCOMPARE(h.Database.DatabasePath, std::string());
    QVERIFY(!std::filesystem::exists(fresh));
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(fresh));
    QCOMPARE(ReadRecentList(h.Settings), (List{dbs[2], dbs[0], dbs[1]}));
    Child<QAction>(window, "menopen")->trigger();
    QCOMPARE(h.Database.DatabasePath, fresh);
    QVERIFY(std::filesystem::exists(fresh));
    QCOMPARE(VisibleCaptions(window).size(), 4);
    QCOMPARE(VisibleCaptions(window).first(), caption(1, fresh));
}

QTEST_MAIN(TakeSnapshotWindowTest)
#include "TakeSnapshotWindowTest.moc"
