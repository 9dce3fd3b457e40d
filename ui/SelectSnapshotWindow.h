#pragma once
// frmselsnap, "Select Snapshot": the user picks a base path, then one of its
// snapshots, newest first, sees its catalogue details and confirms with "OK".
// Opened modally by the analysis window to choose the prime snapshot
// (SelectionMode 0) or a compare snapshot of the same base path (mode 1).
// It can also delete a snapshot, switch to another database and open the
// overview of every host and base path (ui/HostsOverviewWindow.h). When the
// database holds the snapshots of several hosts, each base path is listed once
// per host, "/home (host)", and the grid lists that host's snapshots only.
// It works from the keyboard alone: the focus starts in the path list (in the
// grid when the base path is fixed), the current path is the one listed and
// the grid's current row the snapshot chosen; Enter is OK, Delete deletes.
//
// The window owns its controls and SelectedSnapshot; the database, prompter,
// settings and dialogs belong to the ProgramContext. It reads what it is asked
// from the SnapshotChoice and writes its answer there (SnapshotChosen,
// ChosenSnapshot, PathSnapshotCount); the analysis window takes the answer to
// the AnalysisSession. Every message goes through the context's prompter.

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include <QDialog>

#include "store/Catalogue.h"
#include "store/Exclusion.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ProgramContext.h"
#include "ui/RecentMenu.h"
#include "ui/SnapshotChoice.h"

class QAction;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace corvina {

class SelectSnapshotWindow : public QDialog {
    Q_OBJECT
public:
    SelectSnapshotWindow(ProgramContext& context, SnapshotChoice& choice, QWidget* parent = nullptr);

    // The key of the snapshot chosen (clicked, or the grid's current row);
    // null when none since the window loaded or since a delete.
    const DateTime& SelectedSnapshot() const { return selectedSnapshot_; }
    QString StatusText() const;
    // How long a delete waits for another process's snapshot to finish; kDeleteWait unless set.
    void SetDeleteWait(std::chrono::milliseconds limit) { deleteWait_ = limit; }
    // The unit the hosts overview and its trends show sizes in: the analysis window's; 'M' unless set.
    void SetDisplayUnit(char unit) { displayUnit_ = unit; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void Load();
    void FillBasePathList();
    // The line under the lists: that no database is open, the compare
    // advice, or that the database is empty.
    void ShowAdvice();
    // host: list that host's snapshots only ("" the unknown host); nullopt every snapshot of the path.
    void FillSnapshotGrid(const std::string& basePath, const std::optional<std::string>& host);
    // The host a restricted choice keeps to: the prime snapshot's, when hosts are told apart.
    std::optional<std::string> RestrictedHost() const;
    std::string HostOf(const DateTime& key) const;
    void SetGridEnabled(bool enabled);
    void FitPathColumn();
    // Lists the snapshots of the current path.
    void OnBasePathChosen();
    // Makes the entry of path (and host) current, which lists it; false when the list has none.
    bool MakeListedPathCurrent(const std::string& path, const std::optional<std::string>& host);
    void OnGridClicked(int row);
    void ShowDetails();
    void ShowExclusions(const std::vector<Exclusion>& exclusions);
    void ClearDetails();
    void OnOk();
    void OnDelete();
    void OnSelectDatabase();
    void OnRecentItem(int index);
    // "Hosts overview…": a window over this one, modal to it, whose trends stay in reach.
    void OpenHostsOverview();
    void SwitchDatabase(const std::string& path);
    void SetStatus();

    WindowPrompter messages_;  // the context's prompter, over this window
    ProgramContext context_;
    SnapshotChoice& choice_;
    DateTime selectedSnapshot_;
    std::string listedBasePath_;  // base path whose snapshots the grid lists; "" none
    std::optional<std::string> listedHost_;  // and the host they keep to
    bool severalHosts_ = false;   // the open database holds more than one host (store/HostLabel.h)
    std::map<DateTime, std::string> hostLabels_;  // read with the base paths, when severalHosts_
    bool emptyDatabase_ = false;  // the open database was read and has no snapshot
    // Listings of a path's snapshots, counted, and the count when the path
    // list was last pressed: a click whose press made its path current has
    // listed it already.
    int pathListings_ = 0;
    int pathListingsAtPress_ = -1;
    SnapshotInfo info_;
    std::chrono::milliseconds deleteWait_ = kDeleteWait;
    char displayUnit_ = 'M';

    QListWidget* lstdir_ = nullptr;
    QLabel* lbltpath_ = nullptr;
    QLabel* lblsnap_ = nullptr;
    QTableWidget* grdsnap_ = nullptr;
    QLabel* lblmsg_ = nullptr;
    QGroupBox* frmsnap_ = nullptr;
    QLabel* lbldesc_ = nullptr;
    QLabel* lblsize_ = nullptr;
    QLabel* lbldirs_ = nullptr;
    QLabel* lblfiles_ = nullptr;
    QLabel* lblpath_ = nullptr;
    QLabel* lbldate_ = nullptr;
    QLabel* lblcoll_ = nullptr;
    QLabel* lbllimit_ = nullptr;
    QLabel* lblfiletot_ = nullptr;
    QLabel* lblfilesize_ = nullptr;
    QLabel* lblexcl_ = nullptr;
    QLabel* lbldisk_ = nullptr;
    QLabel* lblfiledisk_ = nullptr;
    QLabel* status_ = nullptr;
    RecentItems menrec_{};
    QAction* menhosts_ = nullptr;
};

}  // namespace corvina
