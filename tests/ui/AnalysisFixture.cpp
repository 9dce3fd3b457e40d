#include "tests/ui/AnalysisFixture.h"

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "tests/ui/WindowHarness.h"

namespace corvina::test {

SnapshotRows DataSnapshot(const char* key, double scale, bool collect) {
    const double mb = 1024.0 * 1024.0 * scale;
    SnapshotRows snap;
    snap.Key = key;
    snap.BasePath = "/data";
    snap.Collect = collect;
    snap.Dirs = {
        {"1", "/data/(files)", 2, 1 * mb},
        {"1", "/data/big/(files)", 1, 6 * mb},
        {"1", "/data/big/deep/(files)", 1, 2 * mb},
        {"2", "/data/big/deep", 1, 2 * mb},
        {"2", "/data/big", 2, 8 * mb},
        {"1", "/data/small/(files)", 1, 0.5 * mb},
        {"2", "/data/small", 1, 0.5 * mb},
        {"1", "/data/it's/(files)", 1, 3 * mb},
        {"2", "/data/it's", 1, 3 * mb},
        {"2", "/data", 6, 12.5 * mb},
    };
    if (collect) {
        snap.Files = {
            {"/data", "a.txt", static_cast<std::int64_t>(0.25 * mb)},
            {"/data", "b.doc", static_cast<std::int64_t>(0.75 * mb)},
            {"/data/big", "video.mp4", static_cast<std::int64_t>(6 * mb)},
            {"/data/big/deep", "dump.bin", static_cast<std::int64_t>(2 * mb)},
            {"/data/small", "note.txt", static_cast<std::int64_t>(0.5 * mb)},
            {"/data/it's", "quote.txt", static_cast<std::int64_t>(3 * mb)},
        };
    }
    return snap;
}

void OpenDataPair(Harness& h, bool oldCollects) {
    h.OpenNewDatabase();
    AddSnapshot(h.Database, DataSnapshot(kOld, 1.0, oldCollects));
    AddSnapshot(h.Database, DataSnapshot(kNew, 2.0));
}

SelectionDriver::SelectionDriver(std::function<void(QWidget&)> action) : poll_(std::make_unique<QTimer>()) {
    poll_->setInterval(5);
    QObject::connect(poll_.get(), &QTimer::timeout, [this, action]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() != "frmselsnap" || !modal->isVisible()) return;
        if (modal->property("corvinaTestHandled").toBool()) return;
        modal->setProperty("corvinaTestHandled", true);
        ++opened_;
        action(*modal);
    });
    poll_->start();
}

SelectionDriver::~SelectionDriver() = default;

void ClickBasePath(QWidget& selection, const std::string& basePath) {
    auto* list = selection.findChild<QListWidget*>("lstdir");
    const QList<QListWidgetItem*> items = list->findItems(QString::fromStdString(basePath), Qt::MatchExactly);
    if (items.isEmpty()) qFatal("no base path %s", basePath.c_str());
    list->scrollToItem(items.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(items.front()).center());
}

bool ClickSnapshotRow(QWidget& selection, const char* key) {
    auto* grid = selection.findChild<QTableWidget*>("grdsnap");
    for (int r = 0; r < grid->rowCount(); ++r) {
        QTableWidgetItem* item = grid->item(r, 1);
        if (item != nullptr && item->text() == QString::fromLatin1(key)) {
            grid->scrollToItem(item);
            QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualItemRect(item).center());
            return true;
        }
    }
    return false;
}

void ChooseInSelection(QWidget& selection, const std::string& basePath, const char* key) {
    if (selection.findChild<QListWidget*>("lstdir")->isEnabled()) ClickBasePath(selection, basePath);
    if (!ClickSnapshotRow(selection, key)) qFatal("no snapshot row %s", key);
    QTest::mouseClick(selection.findChild<QPushButton*>("comok"), Qt::LeftButton);
}

}  // namespace corvina::test
