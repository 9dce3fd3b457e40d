// The take-snapshot window's controls before any run: what it shows when it
// opens, the directory choice, the threshold with its units and scroll bar,
// the collection options and the debug key.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QtTest>

#include "store/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/SizeThreshold.h"

using namespace corvina;
using namespace corvina::test;

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

}  // namespace

class TakeSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void ThresholdTextConvertsInEachUnit_data();
    void ThresholdTextConvertsInEachUnit();
    void OpensWithCollectionOffAndTheDatabaseInTheStatusBar();
    void ChoosingADirectoryFillsPathLevelAndDescription();
    void UnavailableDriveIsReportedAndKeepsThePath();
    void UnitAndScrollBarChangeTheThreshold();
    void BadThresholdKeepsThePreviousValueAndSaysSo();
    void NoDisablesThresholdControlsButNotTheScrollBar();
    void LowercaseDTogglesDebugModeAndStillTypes();
};

void TakeSnapshotWindowTest::ThresholdTextConvertsInEachUnit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("unit");
    QTest::addColumn<int>("bytes");  // -1: refused
    QTest::newRow("half to even, down") << "2.5" << 0 << 2;
    QTest::newRow("half to even, up") << " 3.5 " << 0 << 4;
    QTest::newRow("KB fraction") << "1.5" << 1 << 1536;
    QTest::newRow("largest 32-bit") << "2147483647" << 0 << 2147483647;
    QTest::newRow("one past 32-bit") << "2147483648" << 0 << -1;
    QTest::newRow("2047 MB fits") << "2047" << 2 << 2047 * 1024 * 1024;
    QTest::newRow("2048 MB overflows") << "2048" << 2 << -1;
    QTest::newRow("empty") << "" << 0 << -1;
    QTest::newRow("letters") << "12abc" << 1 << -1;
    QTest::newRow("infinity") << "inf" << 0 << -1;
}

void TakeSnapshotWindowTest::ThresholdTextConvertsInEachUnit() {
    QFETCH(QString, text);
    QFETCH(int, unit);
    QFETCH(int, bytes);
    QCOMPARE(ComputeSizeThreshold(text, static_cast<SizeUnit>(unit)).value_or(-1), bytes);
}

void TakeSnapshotWindowTest::OpensWithCollectionOffAndTheDatabaseInTheStatusBar() {
    Harness h;
    const std::string path = h.OpenNewDatabase("first.mdb");
    h.StoreRecent({path});
    TakeSnapshotWindow window(h.Context);
    QCOMPARE(window.windowTitle(), QString("Take Disk Snapshot"));
    QVERIFY(Child<QRadioButton>(window, "optsel_0")->isChecked() && Child<QRadioButton>(window, "opttype_0")->isChecked());
    QCOMPARE(Child<QLineEdit>(window, "txtsmall")->text() + "|" + Child<QLabel>(window, "lbltsmall")->text(),
             QString("0|0 bytes"));
    QVERIFY(!window.CollectFiles() && window.SizeThreshold() == 0);
    QVERIFY(Child<QLineEdit>(window, "txtpath")->text().isEmpty());
    QVERIFY(Child<QPlainTextEdit>(window, "txtdesc")->toPlainText().isEmpty());
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(path));
    QCOMPARE(Child<QPushButton>(window, "comhalt")->text(), QString("Abort Snapshot "));
    QVERIFY(Child<QAction>(window, "menrec_0")->isVisible() && !Child<QAction>(window, "menrec_1")->isVisible());
    QCOMPARE(Child<QAction>(window, "menrec_0")->text(), "&1 " + QString::fromStdString(path));
    QVERIFY(h.Prompter.Messages().empty());
    // Until the analysis window exists, "&Analyse" says so and the window stays.
    Child<QAction>(window, "menanal")->trigger();
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QVERIFY(h.Database.IsUsable());
}

void TakeSnapshotWindowTest::ChoosingADirectoryFillsPathLevelAndDescription() {
    Harness h;
    const std::string deep = h.Dir.File("data/old");
    std::filesystem::create_directories(deep);
    TakeSnapshotWindow window(h.Context);
    auto* description = Child<QPlainTextEdit>(window, "txtdesc");
    description->setPlainText("typed by the user");
    window.SetDirectoryPath(QString::fromStdString(deep));
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), QString::fromStdString(deep));
    QCOMPARE(window.BaseLevel(), static_cast<int>(std::count(deep.begin(), deep.end(), '/')) - 1);
    const QString today = QString::fromStdString(FormatMediumDate(DateTime::Now()));
    QCOMPARE(description->toPlainText(), "Analysis of " + QString::fromStdString(deep) + " taken on " + today);
    // The root is shown as "/" and sits one level above its children.
    window.SetDirectoryPath("/");
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), QString("/"));
    QCOMPARE(window.BaseLevel(), -1);
    QCOMPARE(description->toPlainText(), "Analysis of / taken on " + today);
}

void TakeSnapshotWindowTest::UnavailableDriveIsReportedAndKeepsThePath() {
    Harness h;
    TakeSnapshotWindow window(h.Context);
    const QString before = QString::fromStdString(h.Dir.Path().string());
    window.SetDirectoryPath(before);
    auto* drives = Child<QComboBox>(window, "drvmain");
    drives->addItem("/no-such-volume");
    drives->setCurrentIndex(drives->count() - 1);
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Device /no-such-volume unavailable"});
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), before);
}

void TakeSnapshotWindowTest::UnitAndScrollBarChangeTheThreshold() {
    Shown s;
    s.Click("optsel_1");
    s.Threshold()->setText("10");
    s.Click("opttype_1");
    // The unit recomputes without touching the text.
    QCOMPARE(s.Window.SizeThreshold(), 10240);
    QCOMPARE(s.Threshold()->text() + "|" + s.InBytes(), QString("10|10240 bytes"));
    s.Click("opttype_2");
    QCOMPARE(s.Window.SizeThreshold(), 10 * 1024 * 1024);
    s.Click("opttype_0");
    // The scroll bar's up arrow counts up from the bottom; typing does not move it back.
    auto* scroll = Child<QScrollBar>(s.Window, "Scrollsmall");
    for (int i = 0; i < 3; ++i) scroll->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(s.Threshold()->text(), QString("3"));
    QCOMPARE(s.Window.SizeThreshold(), 3);
    s.Threshold()->setText("100");
    QCOMPARE(scroll->value(), -3);
    scroll->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(s.Threshold()->text(), QString("32000"));
}

void TakeSnapshotWindowTest::BadThresholdKeepsThePreviousValueAndSaysSo() {
    Shown s;
    s.Click("optsel_1");
    s.Threshold()->setText("2048");
    s.Threshold()->setText("12x");
    QCOMPARE(s.Window.SizeThreshold(), 2048);
    QVERIFY2(s.InBytes().contains("2048 bytes") && s.InBytes() != "2048 bytes", qPrintable(s.InBytes()));
    // Beyond the 32-bit range once the unit is MB.
    s.Threshold()->setText("2048");
    s.Click("opttype_2");
    QCOMPARE(s.Window.SizeThreshold(), 2048);
    QVERIFY(s.InBytes() != "2048 bytes");
    QVERIFY(s.h.Prompter.Messages().empty());  // no message box while typing
    s.Threshold()->setText("1");
    QCOMPARE(s.InBytes(), QString("1048576 bytes"));
}

void TakeSnapshotWindowTest::NoDisablesThresholdControlsButNotTheScrollBar() {
    Shown s;
    const char* thresholdControls[] = {"lblsmall", "txtsmall", "frmbytes", "lbltsmall", "opttype_2"};
    for (const char* name : thresholdControls) QVERIFY2(!Child<QWidget>(s.Window, name)->isEnabled(), name);
    QVERIFY(Child<QScrollBar>(s.Window, "Scrollsmall")->isEnabled());
    s.Click("optsel_1");
    QVERIFY(s.Window.CollectFiles());
    for (const char* name : thresholdControls) QVERIFY2(Child<QWidget>(s.Window, name)->isEnabled(), name);
    s.Threshold()->setText("500");
    s.Click("optsel_0");
    QVERIFY(!s.Window.CollectFiles());
    QVERIFY(!Child<QWidget>(s.Window, "opttype_2")->isEnabled());
    QVERIFY(Child<QScrollBar>(s.Window, "Scrollsmall")->isEnabled());
    QCOMPARE(s.Window.SizeThreshold(), 500);
}

void TakeSnapshotWindowTest::LowercaseDTogglesDebugModeAndStillTypes() {
    Shown s;
    auto* description = Child<QPlainTextEdit>(s.Window, "txtdesc");
    description->setFocus();
    QTest::keyClicks(description, "ad");
    QTest::keyClick(description, 'D');  // nothing special
    QVERIFY(s.Window.DebugMode());
    QCOMPARE(description->toPlainText(), QString("adD"));
    QCOMPARE(s.h.Prompter.Texts(), std::vector<std::string>{"Debug mode has been set"});
    // A key the focused button ignores travels to its parents: still one toggle.
    auto* button = Child<QPushButton>(s.Window, "comsnap");
    button->setFocus();
    QTest::keyClick(button, 'd');
    QVERIFY(!s.Window.DebugMode());
    QCOMPARE(s.h.Prompter.Texts().back(), std::string("Debug mode has been switched off"));
}

QTEST_MAIN(TakeSnapshotWindowTest)
#include "TakeSnapshotWindowTest.moc"
