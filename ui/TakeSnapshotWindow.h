#pragma once
// TakeSnapshotWindow, "Take Disk Snapshot": the first window of the program. The user
// chooses a directory, a description, which files to record and what to
// leave out (kept in the settings for the next start), and starts a snapshot
// run; during the run the window shows progress and offers "Abort Snapshot ".
// Its "&File" menu switches the snapshot database.
//
// The window owns its controls, the run control (abort and debug flags, which
// live across runs) and the worker that runs the snapshot; the database, the
// prompter, the settings and the way the program ends belong to the
// ProgramContext it is given. While a run is in progress the window refuses a
// second run, a database switch and "&Analyse", and closing asks first.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QMainWindow>

#include "app/Settings.h"
#include "capture/SnapshotRun.h"
#include "base/DateTime.h"
#include "ui/MessageBoxPrompter.h"
#include "ui/ProgramContext.h"
#include "ui/RecentMenu.h"
#include "ui/SizeThreshold.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QTreeView;

namespace corvina {

class DebugWindow;
class FileErrorsWindow;
class SnapshotRunner;

class TakeSnapshotWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit TakeSnapshotWindow(ProgramContext& context, QWidget* parent = nullptr);
    ~TakeSnapshotWindow() override;

    // What "&Analyse" opens once this window has gone; without one the item
    // says that the analysis window is not available.
    void SetAnalysisOpener(std::function<void()> opener) { analysisOpener_ = std::move(opener); }

    bool IsRunning() const;
    bool CollectFiles() const { return collectFiles_; }
    std::int64_t SizeThreshold() const { return sizeThreshold_; }
    int BaseLevel() const { return baseLevel_; }
    bool DebugMode() const { return control_.DebugMode; }
    // Key of the last run started from this window (the analysis opens on it).
    std::optional<DateTime> SnapshotDate() const { return snapshotDate_; }
    QString StatusText() const;

    // Points the directory list at path, as a click in the list does.
    void SetDirectoryPath(const QString& path);
    void RefreshRecentMenu();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    QWidget* BuildChoiceColumn();
    QLabel* NamedDescriptionLabel();
    QGroupBox* BuildCollectFrame();
    QGroupBox* BuildExclusionFrame();
    QWidget* BuildCounterFrames();
    void FillDriveList();
    void ConnectControls();

    void SetStatus(const QString& text);
    void OnDriveChanged(int index);
    void OnDirectoryChanged(const QString& path);
    void OnCollectChosen(int index);
    void OnThresholdChanged();
    void OnScrollChanged(int value);
    void OnExclusionsChanged();
    ExclusionSettings Exclusions() const;
    void ToggleDebugMode();
    void OnTakeSnapshot();
    void OnOpenDatabase();
    void OnRecentItem(int index);
    void SwitchDatabase(const std::string& path);
    void OnExit();
    void OnAnalyse();
    bool RefuseWhileRunning();
    void AbortRun();

    void OnRunStatus(const QString& text);
    void OnRunCounters(const RunCounters& counters);
    void OnDebugStop(const QString& title, const std::vector<DebugEntry>& entries);
    void OnRunFinished(const RunResult& result);
    void SetRunControlsEnabled(bool enabled);

    WindowPrompter messages_;  // the context's prompter, over this window
    ProgramContext context_;
    RunControl control_;
    std::unique_ptr<SnapshotRunner> runner_;
    std::function<void()> analysisOpener_;

    bool collectFiles_ = false;
    std::int64_t sizeThreshold_ = 0;
    int baseLevel_ = 0;
    std::optional<DateTime> snapshotDate_;
    bool closeAfterRun_ = false;
    bool exitAfterRun_ = false;
    bool busyPointer_ = false;
    const QEvent* lastKeyPress_ = nullptr;  // compared, never dereferenced

    QComboBox* drvmain_ = nullptr;
    QTreeView* dirmain_ = nullptr;
    QFileSystemModel* directories_ = nullptr;
    QString scrollTarget_;  // the chosen directory, kept in view while its parents load
    QLineEdit* txtpath_ = nullptr;
    QPlainTextEdit* txtdesc_ = nullptr;
    QButtonGroup* optsel_ = nullptr;
    QLabel* lblsmall_ = nullptr;
    QLineEdit* txtsmall_ = nullptr;
    QScrollBar* scrollsmall_ = nullptr;
    QGroupBox* frmbytes_ = nullptr;
    QButtonGroup* opttype_ = nullptr;
    QLabel* lbltsmall_ = nullptr;
    QPlainTextEdit* txtexcl_ = nullptr;
    QCheckBox* chkcache_ = nullptr;
    QLineEdit* txtdirs_ = nullptr;
    QLineEdit* txtfiles_ = nullptr;
    QLineEdit* txtbytes_ = nullptr;
    QLineEdit* txtaddedfile_ = nullptr;
    QLineEdit* txtaddedsize_ = nullptr;
    QPushButton* comsnap_ = nullptr;
    QPushButton* comhalt_ = nullptr;
    QLabel* status_ = nullptr;
    QAction* menopen_ = nullptr;
    QAction* menanal_ = nullptr;
    RecentItems menrec_{};
    DebugWindow* debug_ = nullptr;
    FileErrorsWindow* errors_ = nullptr;
};

}  // namespace corvina
