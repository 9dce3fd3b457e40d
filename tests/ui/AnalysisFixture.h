#pragma once
// What the analysis and selection window tests share: snapshots written row by
// row into the harness's database under chosen keys, and a way to act on the
// selection window while it is shown modally.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "store/DatabaseConnection.h"
#include "store/DateTime.h"
#include "store/PathStyle.h"
#include "store/SnapshotDatabase.h"

class QTimer;
class QWidget;

namespace corvina::test {

struct Harness;

DateTime Key(const char* text);

struct DirRow {
    std::string Entrytype;  // "1" files entry, "2" directory entry
    std::string Name;
    std::int64_t Files = 0;
    double Bytes = 0;
};
struct FileRow {
    std::string Dir;
    std::string Name;
    std::int64_t Size = 0;
    const char* Date = "2024-01-01 10:00:00";
};
struct SnapshotRows {
    const char* Key = "";
    std::string BasePath;
    std::vector<DirRow> Dirs;
    std::vector<FileRow> Files;
    bool Collect = true;
    std::string Description = "test snapshot";
    PathStyle Style = PathStyle::Posix;
};

// Writes the rows and the Control row in one transaction; aborts the test
// binary on failure.
void AddSnapshot(DatabaseState& database, const SnapshotRows& snap);

// The /data tree most tests use: /data with (files), big, small and it's
// (a name with a quote), big holding deep; files in /data and /data/big.
SnapshotRows DataSnapshot(const char* key, double scale = 1.0, bool collect = true);

// The two /data snapshots the selection and analysis tests choose between:
// kOld at scale 1 and kNew at scale 2, in a new database left open in h.
inline constexpr const char* kOld = "2024-03-01 09:00:00";
inline constexpr const char* kNew = "2024-03-07 14:05:09";
void OpenDataPair(Harness& h, bool oldCollects = true);

// While it lives, runs action on each selection window as soon as it is shown
// modally. The action must close it (OK or Cancel), or the test hangs until
// its timeout.
class SelectionDriver {
public:
    explicit SelectionDriver(std::function<void(QWidget&)> action);
    ~SelectionDriver();
    SelectionDriver(const SelectionDriver&) = delete;
    SelectionDriver& operator=(const SelectionDriver&) = delete;
    int Opened() const { return opened_; }

private:
    std::unique_ptr<QTimer> poll_;
    int opened_ = 0;
};

// In a shown selection window: clicks the base path (when the list is
// enabled), then the snapshot row of key, then OK.
void ChooseInSelection(QWidget& selection, const std::string& basePath, const char* key);
// Clicks the row of the grid whose "Date Taken" is key; false when none.
bool ClickSnapshotRow(QWidget& selection, const char* key);
void ClickBasePath(QWidget& selection, const std::string& basePath);

}  // namespace corvina::test
