#pragma once
// What the window tests share: a program context on a temporary settings file
// with a recording prompter, a recording ender and scripted file dialogs;
// small trees on disk; a file system that fails or pauses on request; row
// counts of the database; what controls show, button clicks; screenshots.

#include <atomic>
#include <condition_variable>
#include <initializer_list>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QSettings>
#include <QString>
#include <QStringList>

#include "capture/FileSystem.h"
#include "store/SnapshotDatabase.h"
#include "tests/support/RecordingPrompter.h"
#include "tests/support/SnapshotRows.h"
#include "tests/support/TempDir.h"
#include "ui/FileDialogs.h"
#include "ui/ProgramContext.h"

class QAbstractItemModel;
class QModelIndex;
class QObject;
class QWidget;

namespace corvina::test {

// Answers file dialogs from a script (cancel when it runs out) and keeps the requests.
class ScriptedDialogs : public FileDialogs {
public:
    std::optional<QString> ChooseOpenFile(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> ChooseSaveFile(QWidget* parent, const FileDialogRequest& request) override {
        return ChooseOpenFile(parent, request);
    }
    std::optional<QString> AskServerConnection(QWidget* parent, const QString& initial) override {
        return ChooseOpenFile(parent, {.Title = "server", .InitialPath = initial, .Filter = {}, .DefaultSuffix = {}});
    }
    std::deque<QString> Answers;  // "" cancels
    std::vector<FileDialogRequest> Requests;
};

// The real file system, except that reading an entry whose name starts with
// "bad" fails with "permission denied", and that the walk can be held at the
// start of a directory listing until the test lets it go.
class TestFileSystem : public FileSystem {
public:
    int OpenDirectory(const std::string& path, DirectoryHandle& out, EntryStat& stat) override {
        return real_->OpenDirectory(path, out, stat);
    }
    int OpenSubdirectory(const DirectoryHandle& parent, std::string_view name, DirectoryHandle& out) override {
        return real_->OpenSubdirectory(parent, name, out);
    }
    int BeginListing(const DirectoryHandle& directory) override;
    bool NextName(std::string_view& name, int& error) override { return real_->NextName(name, error); }
    int ReadAttributes(const DirectoryHandle& directory, std::string_view name, EntryStat& out) override;
    std::string ErrorText(int code) const override { return real_->ErrorText(code); }

    // While held, each listing waits; Listings counts the listings begun.
    void Hold();
    void Release();
    std::atomic<int> Listings{0};
    std::atomic<int> Waiting{0};

protected:
    void CloseDirectory(int) override {}  // handles belong to the real file system

private:
    std::unique_ptr<FileSystem> real_ = MakePosixFileSystem();
    std::mutex mutex_;
    std::condition_variable released_;
    bool held_ = false;
};

struct Harness {
    TempDir Dir;
    QSettings Settings;
    DatabaseState Database;
    RecordingPrompter Prompter;
    RecordingEnder Ender;
    ScriptedDialogs Dialogs;
    TestFileSystem Disk;
    ProgramContext Context;

    Harness();
    ~Harness();
    // Creates a snapshot database at Dir/name and leaves it open as the current one.
    std::string OpenNewDatabase(const std::string& name = "snap.mdb");
    // Stores paths as the recent list File1, File2, ...
    void StoreRecent(const std::vector<std::string>& paths);
};

// Creates a file of size bytes (and its folders).
void MakeFile(const std::string& path, std::int64_t size);

// Count of rows of table for the snapshot key text, read through a separate connection.
std::int64_t CountRows(const std::string& databasePath, const std::string& table, const std::string& keyText);

// The texts of column under parent, top to bottom.
QStringList ColumnTexts(const QAbstractItemModel& model, int column, const QModelIndex& parent);
QStringList ColumnTexts(const QAbstractItemModel& model, int column);

// The texts that the named line edits, text boxes and labels under parent
// show, joined by "|".
QString Texts(QObject& parent, std::initializer_list<const char*> names);

// Shows the widget and waits until it is on the screen.
void ShowExposed(QWidget& widget);

// A left click on the push button named name under parent.
void ClickButton(QObject& parent, const char* name);

// Saves the widget's image as <build>/screenshots/<name>.png.
void SaveScreenshot(QWidget& widget, const QString& name);

// The child named name of the given type; aborts the test binary when missing,
// since every later step would only crash.
template <class T>
T* Child(QObject& parent, const char* name) {
    T* child = parent.findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no child named %s", name);
    return child;
}

}  // namespace corvina::test
