#pragma once
// What the analysis and selection window tests share: the /data snapshots
// written into the harness's database, and a way to act on the selection
// window while it is shown modally.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/SnapshotRows.h"

class QTimer;
class QWidget;

namespace corvina::test {

struct Harness;

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
