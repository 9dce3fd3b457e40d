#pragma once
// The ten recent-database items of a window's "&File" menu. Every window that
// has them (the take-snapshot and the selection window) refreshes them here.

#include <array>

class QAction;
class QMenu;
class QSettings;

namespace corvina {

using RecentItems = std::array<QAction*, 10>;

// Adds the ten items, hidden, named menrec_0 to menrec_9, to menu.
RecentItems AddRecentItems(QMenu& menu);

// Copies the stored list into the items: item i - 1 gets the caption of
// entry i and is shown. Items after the list's end keep their state; the list
// never shrinks.
void RefreshRecentMenu(QSettings& settings, const RecentItems& items);

}  // namespace corvina
