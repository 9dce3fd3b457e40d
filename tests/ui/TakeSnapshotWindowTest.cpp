// The take-snapshot window's controls before any run: what it shows when it
// opens, the directory choice, the threshold with its units and scroll bar,
// the collection options and the debug key.

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QtTest>

#include "store/DateTime.h"
#include "tests/ui/WindowHarness.h"
#include "ui/Analsnap.h"
#include "ui/SizeThreshold.h"

using namespace corvina;
using namespace corvina::test;

namespace {

// Clicks land only on laid-out controls of a shown window.
void ShowAndWait(QWidget& window) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) qFatal("window not exposed");
}

// An option reacts to clicks on its circle and caption only, not on the
// blank rest of its row.
void ClickOption(QWidget& window, const char* name) {
    auto* option = Child<QRadioButton>(window, name);
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

}  // namespace

class TakeSnapshotWindowTest : public QObject {
    Q_OBJECT
private slots:
    void ThresholdTextConvertsInEachUnit_data();
    void ThresholdTextConvertsInEachUnit();
    void OpensWithCollectionOffAndTheDatabaseInTheStatusBar();
    void ChoosingADirectoryFillsPathLevelAndDescription();
    void UnavailableDriveIsReportedAndKeepsThePath();
    void UnitChangeRecomputesWithoutTouchingTheText();
    void ScrollBarUpArrowCountsUpFromTheBottom();
    void BadThresholdKeepsThePreviousValueAndSaysSo();
    void NoDisablesThresholdControlsButNotTheScrollBar();
    void LowercaseDTogglesDebugModeAndStillTypes();
};

void TakeSnapshotWindowTest::ThresholdTextConvertsInEachUnit_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("unit");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("bytes");
    QTest::newRow("bytes") << "2048" << 0 << true << 2048;
    QTest::newRow("half rounds to even, down") << "2.5" << 0 << true << 2;
    QTest::newRow("half rounds to even, up") << "3.5" << 0 << true << 4;
    QTest::newRow("KB fraction") << "1.5" << 1 << true << 1536;
    QTest::newRow("MB") << "2" << 2 << true << 2 * 1024 * 1024;
    QTest::newRow("blanks around") << " 7 " << 0 << true << 7;
    QTest::newRow("largest 32-bit") << "2147483647" << 0 << true << 2147483647;
    QTest::newRow("one past 32-bit") << "2147483648" << 0 << false << 0;
    QTest::newRow("2048 MB overflows") << "2048" << 2 << false << 0;
    QTest::newRow("2047 MB fits") << "2047" << 2 << true << 2047 * 1024 * 1024;
    QTest::newRow("empty") << "" << 0 << false << 0;
    QTest::newRow("letters") << "12abc" << 1 << false << 0;
    QTest::newRow("comma decimal") << "1,5" << 1 << false << 0;
    QTest::newRow("infinity") << "inf" << 0 << false << 0;
}

void TakeSnapshotWindowTest::ThresholdTextConvertsInEachUnit() {
    QFETCH(QString, text);
    QFETCH(int, unit);
    QFETCH(bool, valid);
    QFETCH(int, bytes);
    const std::optional<std::int32_t> result = ComputeSizeThreshold(text, static_cast<SizeUnit>(unit));
    QCOMPARE(result.has_value(), valid);
    if (valid) QCOMPARE(*result, bytes);
}

void TakeSnapshotWindowTest::OpensWithCollectionOffAndTheDatabaseInTheStatusBar() {
    Harness h;
    const std::string path = h.OpenNewDatabase("first.mdb");
    h.StoreRecent({path});
    Analsnap window(h.Context);
    QCOMPARE(window.windowTitle(), QString("Take Disk Snapshot"));
    QVERIFY(Child<QRadioButton>(window, "optsel_0")->isChecked());
    QVERIFY(Child<QRadioButton>(window, "opttype_0")->isChecked());
    QCOMPARE(Child<QLineEdit>(window, "txtsmall")->text(), QString("0"));
    QCOMPARE(Child<QLabel>(window, "lbltsmall")->text(), QString("0 bytes"));
    QVERIFY(!window.CollectFiles());
    QCOMPARE(window.SizeThreshold(), 0);
    QVERIFY(Child<QLineEdit>(window, "txtpath")->text().isEmpty());
    QVERIFY(Child<QPlainTextEdit>(window, "txtdesc")->toPlainText().isEmpty());
    QCOMPARE(window.StatusText(), "Snapshot database is: " + QString::fromStdString(path));
    QCOMPARE(Child<QPushButton>(window, "comhalt")->text(), QString("Abort Snapshot "));
    // The recent item of the open database is in the menu.
    QAction* first = Child<QAction>(window, "menrec_0");
    QVERIFY(first->isVisible());
    QCOMPARE(first->text(), "&1 " + QString::fromStdString(path));
    QVERIFY(!Child<QAction>(window, "menrec_1")->isVisible());
    QVERIFY(h.Prompter.Messages().empty());
    // Until the analysis window exists, "&Analyse" says so and the window stays.
    Child<QAction>(window, "menanal")->trigger();
    QCOMPARE(h.Prompter.Messages().size(), std::size_t{1});
    QVERIFY(h.Database.IsUsable());
}

void TakeSnapshotWindowTest::ChoosingADirectoryFillsPathLevelAndDescription() {
    Harness h;
    h.OpenNewDatabase();
    const std::string deep = h.Dir.File("data/old");
    std::filesystem::create_directories(deep);
    Analsnap window(h.Context);
    auto* description = Child<QPlainTextEdit>(window, "txtdesc");
    description->setPlainText("typed by the user");

    window.SetDirectoryPath(QString::fromStdString(deep));
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), QString::fromStdString(deep));
    const int separators = static_cast<int>(std::count(deep.begin(), deep.end(), '/'));
    QCOMPARE(window.BaseLevel(), separators - 1);
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
    h.OpenNewDatabase();
    Analsnap window(h.Context);
    window.SetDirectoryPath(QString::fromStdString(h.Dir.Path().string()));
    auto* drives = Child<QComboBox>(window, "drvmain");
    drives->addItem("/no-such-volume");
    drives->setCurrentIndex(drives->count() - 1);
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Device /no-such-volume unavailable"});
    QCOMPARE(Child<QLineEdit>(window, "txtpath")->text(), QString::fromStdString(h.Dir.Path().string()));
}

void TakeSnapshotWindowTest::UnitChangeRecomputesWithoutTouchingTheText() {
    Harness h;
    Analsnap window(h.Context);
    ShowAndWait(window);
    ClickOption(window, "optsel_1");
    auto* text = Child<QLineEdit>(window, "txtsmall");
    text->setText("10");
    QCOMPARE(window.SizeThreshold(), 10);
    ClickOption(window, "opttype_1");
    QVERIFY(Child<QRadioButton>(window, "opttype_1")->isChecked());
    QVERIFY(Child<QRadioButton>(window, "optsel_1")->isChecked());
    QCOMPARE(window.SizeThreshold(), 10240);
    QCOMPARE(text->text(), QString("10"));
    QCOMPARE(Child<QLabel>(window, "lbltsmall")->text(), QString("10240 bytes"));
    ClickOption(window, "opttype_2");
    QCOMPARE(window.SizeThreshold(), 10 * 1024 * 1024);
}

void TakeSnapshotWindowTest::ScrollBarUpArrowCountsUpFromTheBottom() {
    Harness h;
    Analsnap window(h.Context);
    auto* scroll = Child<QScrollBar>(window, "Scrollsmall");
    QCOMPARE(scroll->value(), 0);
    for (int i = 0; i < 3; ++i) scroll->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(Child<QLineEdit>(window, "txtsmall")->text(), QString("3"));
    QCOMPARE(window.SizeThreshold(), 3);
    // Typing does not move the scroll bar back.
    Child<QLineEdit>(window, "txtsmall")->setText("100");
    QCOMPARE(scroll->value(), -3);
    scroll->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(Child<QLineEdit>(window, "txtsmall")->text(), QString("32000"));
}

void TakeSnapshotWindowTest::BadThresholdKeepsThePreviousValueAndSaysSo() {
    Harness h;
    Analsnap window(h.Context);
    ShowAndWait(window);
    ClickOption(window, "optsel_1");
    auto* text = Child<QLineEdit>(window, "txtsmall");
    auto* label = Child<QLabel>(window, "lbltsmall");
    text->setText("2048");
    QCOMPARE(window.SizeThreshold(), 2048);
    text->setText("12x");
    QCOMPARE(window.SizeThreshold(), 2048);
    QVERIFY2(label->text().contains("2048 bytes") && label->text() != "2048 bytes", qPrintable(label->text()));
    // Beyond the 32-bit range once the unit is MB.
    text->setText("2048");
    ClickOption(window, "opttype_2");
    QCOMPARE(window.SizeThreshold(), 2048);
    QVERIFY(label->text() != "2048 bytes");
    // No message box while typing.
    QVERIFY(h.Prompter.Messages().empty());
    // A valid text takes over again.
    text->setText("1");
    QCOMPARE(window.SizeThreshold(), 1024 * 1024);
    QCOMPARE(label->text(), QString("1048576 bytes"));
}

void TakeSnapshotWindowTest::NoDisablesThresholdControlsButNotTheScrollBar() {
    Harness h;
    Analsnap window(h.Context);
    ShowAndWait(window);
    const char* thresholdControls[] = {"lblsmall", "txtsmall", "frmbytes", "lbltsmall"};
    for (const char* name : thresholdControls) QVERIFY2(!Child<QWidget>(window, name)->isEnabled(), name);
    QVERIFY(Child<QScrollBar>(window, "Scrollsmall")->isEnabled());

    ClickOption(window, "optsel_1");
    QVERIFY(window.CollectFiles());
    for (const char* name : thresholdControls) QVERIFY2(Child<QWidget>(window, name)->isEnabled(), name);
    QVERIFY(Child<QRadioButton>(window, "opttype_2")->isEnabled());
    Child<QLineEdit>(window, "txtsmall")->setText("500");

    ClickOption(window, "optsel_0");
    QVERIFY(!window.CollectFiles());
    QVERIFY(!Child<QRadioButton>(window, "opttype_2")->isEnabled());
    QVERIFY(Child<QScrollBar>(window, "Scrollsmall")->isEnabled());
    QCOMPARE(window.SizeThreshold(), 500);
}

void TakeSnapshotWindowTest::LowercaseDTogglesDebugModeAndStillTypes() {
    Harness h;
    Analsnap window(h.Context);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto* description = Child<QPlainTextEdit>(window, "txtdesc");
    description->setFocus();
    QTest::keyClicks(description, "ad");
    QVERIFY(window.DebugMode());
    QCOMPARE(description->toPlainText(), QString("ad"));
    QCOMPARE(h.Prompter.Texts(), std::vector<std::string>{"Debug mode has been set"});

    QTest::keyClick(description, 'D');  // nothing special
    QVERIFY(window.DebugMode());
    QCOMPARE(description->toPlainText(), QString("adD"));

    // A key the focused button ignores travels to its parents: still one toggle.
    auto* button = Child<QPushButton>(window, "comsnap");
    button->setFocus();
    QTest::keyClick(button, 'd');
    QVERIFY(!window.DebugMode());
    QCOMPARE(h.Prompter.Texts(),
             (std::vector<std::string>{"Debug mode has been set", "Debug mode has been switched off"}));
}

QTEST_MAIN(TakeSnapshotWindowTest)
#include "TakeSnapshotWindowTest.moc"
