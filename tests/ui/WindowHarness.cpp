#include "tests/ui/WindowHarness.h"

#include "app/OpenDialogue.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include <QtTest>
#include <QtWidgets>

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
    return std::stoll(Query(databasePath, "SELECT COUNT(*) FROM " + table + " WHERE Snapshot = '" + keyText + "'"));
}

QStringList ColumnTexts(const QAbstractItemModel& model, int column, const QModelIndex& parent) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(parent); ++r) texts << model.index(r, column, parent).data().toString();
    return texts;
}

QStringList ColumnTexts(const QAbstractItemModel& model, int column) { return ColumnTexts(model, column, {}); }

QString Texts(QObject& parent, std::initializer_list<const char*> names) {
    QStringList texts;
    for (const char* name : names) {
        auto* child = Child<QWidget>(parent, name);
        if (auto* edit = qobject_cast<QLineEdit*>(child)) texts << edit->text();
        else if (auto* box = qobject_cast<QPlainTextEdit*>(child)) texts << box->toPlainText();
        else texts << Child<QLabel>(parent, name)->text();
    }
    return texts.join('|');
}

void ShowExposed(QWidget& widget) {
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget)) qFatal("%s not exposed", qPrintable(widget.objectName()));
}

void ClickButton(QObject& parent, const char* name) { QTest::mouseClick(Child<QPushButton>(parent, name), Qt::LeftButton); }

void SaveScreenshot(QWidget& widget, const QString& name) {
    const QString folder = QStringLiteral(CORVINA_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    widget.grab().save(folder + "/" + name + ".png");
}

}  // namespace corvina::test
