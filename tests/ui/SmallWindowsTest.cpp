// The About window, and printing a window when there is no printer.

#include <fstream>

#include <QLabel>
#include <QPrinterInfo>
#include <QPushButton>
#include <QtTest>

#include "tests/ui/WindowHarness.h"
#include "ui/AboutWindow.h"
#include "ui/FileErrorsWindow.h"

using namespace corvina;
using namespace corvina::test;

class SmallWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void AboutWindowShowsVersionAndClosesWithOk();
    void PrintWithoutPrinterWritesAPdf();
};

void SmallWindowsTest::AboutWindowShowsVersionAndClosesWithOk() {
    AboutWindow about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QVERIFY(Child<QLabel>(about, "lbl1")->text().contains("1.00"));
    SaveScreenshot(about, "frmabout");
    QTest::mouseClick(Child<QPushButton>(about, "comok"), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

void SmallWindowsTest::PrintWithoutPrinterWritesAPdf() {
    if (!QPrinterInfo::defaultPrinter().isNull()) QSKIP("a printer exists on this machine");
    Harness h;
    FileErrorsWindow errors(h.Dialogs, h.Prompter, nullptr);
    errors.ShowErrors({{"/t/bad", "Permission denied"}});
    const std::string pdf = h.Dir.File("errors.pdf");
    h.Dialogs.Answers.push_back(QString::fromStdString(pdf));
    Child<QAction>(errors, "menprint")->trigger();
    std::string head(4, '\0');
    std::ifstream(pdf, std::ios::binary).read(head.data(), 4);
    QCOMPARE(head, std::string("%PDF"));
    QVERIFY(std::filesystem::file_size(pdf) > 1000);  // an image, not an empty page
    QVERIFY(h.Prompter.Messages().empty());
}

QTEST_MAIN(SmallWindowsTest)
#include "SmallWindowsTest.moc"
