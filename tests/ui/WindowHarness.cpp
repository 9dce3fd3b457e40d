#include "tests/ui/WindowHarness.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>
#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

namespace corvina::test {

std::optional<QString> ScriptedDialogs::ChooseOpenFile(QWidget*, const FileDialogRequest& request) {
    Requests.push_back(request);
    if (Answers.empty()) return std::nullopt;
    const QString answer = Answers.front();
    Answers.pop_front();
    if (answer.isEmpty()) return std::nullopt;
    return answer;
}

int TestFileSystem::BeginListing(const DirectoryHandle& directory) {
    ++Listings;
    {
        std::unique_lock lock(mutex_);
        ++Waiting;
        released_.wait(lock, [this]() { return !held_; });
        --Waiting;
    }
    return real_->BeginListing(directory);
}

int TestFileSystem::ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) {
    if (name.substr(0, 3) == "bad") return EACCES;
    return real_->ReadAttributes(directory, name, out);
}

void TestFileSystem::Hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
}

void TestFileSystem::Release() {
    {
        std::lock_guard lock(mutex_);
        held_ = false;
    }
    released_.notify_all();
}

Harness::Harness()
    : Settings(QString::fromStdString(Dir.File("Corvina.conf")), QSettings::IniFormat),
      Context{Database, Prompter, Ender, Settings, Dialogs, &Disk} {}

Harness::~Harness() {
    Disk.Release();
    CloseSnapshotDatabase(Database);
}

std::string Harness::OpenNewDatabase(const std::string& name) {
    Database.DatabasePath = Dir.File(name);
    Prompter.Script({Answer::Yes});
    const OpenOutcome outcome = OpenSnapshotDatabase(Database, Prompter, Ender);
    if (outcome != OpenOutcome::Created && outcome != OpenOutcome::Opened) qFatal("database not created");
    Prompter.Clear();
    return Database.DatabasePath;
}

void Harness::StoreRecent(const std::vector<std::string>& paths) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Settings.setValue(QString("Recent/File%1").arg(i + 1), QString::fromStdString(paths[i]));
    }
}

void MakeFile(const std::string& path, std::int64_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

std::int64_t CountRows(const std::string& databasePath, const std::string& table, const std::string& keyText) {
    SQLite::Database db(databasePath, SQLite::OPEN_READONLY);
    SQLite::Statement query(db, "SELECT COUNT(*) FROM " + table + " WHERE Snapshot = ?");
    query.bind(1, keyText);
    query.executeStep();
    return query.getColumn(0).getInt64();
}

QStringList ColumnTexts(const QAbstractItemModel& model, int column, const QModelIndex& parent) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(parent); ++r) texts << model.index(r, column, parent).data().toString();
    return texts;
}

QStringList ColumnTexts(const QAbstractItemModel& model, int column) { return ColumnTexts(model, column, {}); }

void SaveScreenshot(QWidget& widget, const QString& name) {
    const QString folder = QStringLiteral(CORVINA_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    widget.grab().save(folder + "/" + name + ".png");
}

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

DataPair::DataPair(bool oldCollects) {
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
