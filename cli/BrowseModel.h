#pragma once
// The state of corvina-cli browse, apart from any terminal: the directory
// shown, its children as rows, the selected row and the first row in view,
// the order, the size basis, and what a panel (help, details, trend) says.
// Keys come in as commands; BrowseScreen draws the state, BrowseTerminal
// reads keys and puts the drawing on the screen.
//
// Only the shown directory's children are held: each move reads one
// directory's listing (ListDirectoryChildren), so that a snapshot of any size
// opens at once. The directories above it are kept as a chain, so that going
// up reads the parent's listing again and selects the directory come from.
//
// The model only reads. The database is borrowed and must outlive it.
//
// Error policy: a failed read is said on the message line (as the store's
// error text) and the rows read before the failure stay; nothing ends the
// browser but Quit.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/DirectoryChildren.h"
#include "analysis/Trend.h"
#include "base/DateTime.h"
#include "base/PathStyle.h"
#include "base/SizeFormat.h"
#include "store/SnapshotDatabase.h"

namespace corvina::cli {

enum class BrowseCommand {
    Up,
    Down,
    PageUp,
    PageDown,
    Home,
    End,
    Open,  // into the selected directory
    Back,  // up to the parent directory
    SortSize,
    SortName,
    SortFiles,
    SortGrowth,
    ToggleBasis,
    Follow,  // follow the growth
    Trend,
    Info,
    Help,
    Close,  // closes a panel
    Quit,
};

enum class BrowseSort { Size, Name, Files, Growth };
enum class BrowsePanel { None, Help, Info, Trend };

// One row: a child of the shown directory, or the directory itself.
struct BrowseEntry {
    std::string Dirname;
    std::string Shortname;
    bool Files = false;  // the "(files)" entry: the directory's own files
    bool HasChildren = false;
    double Bytes = 0;
    double CompareBytes = 0;
    std::int64_t FileCount = 0;
    double Growth() const { return Bytes - CompareBytes; }
};

// What the command chose before the browser opens.
struct BrowseSetup {
    std::string DatabaseName;  // as the header shows it (no password)
    DateTime Snapshot;
    DateTime Compare;  // null: none
    std::string BasePath;
    PathStyle Style = PathStyle::Posix;
    std::optional<std::string> Host;  // the host a trend keeps to (see ReadTrend)
    SizeBasis Basis = SizeBasis::Apparent;
    bool SnapshotOnDisk = false;  // the snapshot has on-disk figures
    bool CompareOnDisk = false;
};

class BrowseModel {
public:
    BrowseModel(DatabaseState& database, BrowseSetup setup);

    // Shows directory (the base path when empty), with the chain above it.
    // found is false when the snapshot holds no such directory.
    StoreError Open(const std::string& directory, bool& found);

    // Rows of the list on the screen, for paging and scrolling.
    void SetPageRows(int rows);
    // False once the command was Quit.
    bool Handle(BrowseCommand command);

    const BrowseSetup& Setup() const { return setup_; }
    // The shown directory, with its totals.
    const BrowseEntry& Directory() const { return chain_.back(); }
    const std::vector<BrowseEntry>& Rows() const { return rows_; }
    // -1 when there are no rows.
    int Selected() const { return selected_; }
    int Top() const { return top_; }
    BrowseSort Sort() const { return sort_; }
    bool Reversed() const { return reversed_; }
    SizeBasis Basis() const { return basis_; }
    // Whether growth can be shown: a compare snapshot, and in the basis
    // figures of both.
    bool GrowthKnown() const;
    bool HasCompare() const { return !setup_.Compare.IsNull(); }
    // The message line: the last thing a command has to say, "" for none.
    const std::string& Message() const { return message_; }

    BrowsePanel Panel() const { return panel_; }
    // The panel's title and lines, names made safe to show.
    const std::string& PanelTitle() const { return panelTitle_; }
    const std::vector<std::string>& PanelLines() const { return panelLines_; }

private:
    StoreError ReadRows();
    // Shows rows, a listing of the current directory read already, in the order asked for.
    void ShowRows(std::vector<BrowseEntry> rows);
    void SortRows();
    void SelectDirname(const std::string& dirname, bool files);
    void Move(int to);
    void SortBy(BrowseSort sort);
    void Enter();
    void Leave();
    void ToggleBasis();
    void FollowTheGrowth();
    void ShowInfo();
    void ShowTrend();
    void ShowHelp();
    // The totals of the chain's directories again, in the current basis.
    StoreError ReadChainTotals();
    void Failed(const StoreError& error);

    DatabaseState& database_;
    BrowseSetup setup_;
    std::vector<BrowseEntry> chain_;  // the base path first, the shown directory last
    std::vector<BrowseEntry> rows_;
    int selected_ = -1;
    int top_ = 0;
    int pageRows_ = 1;
    BrowseSort sort_ = BrowseSort::Size;
    bool reversed_ = false;
    SizeBasis basis_;
    std::string message_;
    BrowsePanel panel_ = BrowsePanel::None;
    std::string panelTitle_;
    std::vector<std::string> panelLines_;
};

// "+1.2 GB", "-300 KB", "0 B": signed so that it reads without colour, each
// size in the unit that keeps it at least 1, rounded towards zero so that a
// change and its reverse read alike.
std::string GrowthText(double growth);
// A size in the unit that keeps it at least 1: "1.2 GB".
std::string SizeText(double bytes);

}  // namespace corvina::cli
