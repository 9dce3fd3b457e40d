#pragma once
// The per-user settings store: the recent-database list under "Recent",
// keys "File1" (most recent, opened at start-up) to "File10"; what the
// take-snapshot window leaves out under "Snapshot".

#include <memory>
#include <string>
#include <vector>

#include "base/Exclusion.h"

class QSettings;

namespace corvina {

inline constexpr int kRecentCapacity = 10;

// The settings store of the program: organisation and application "Corvina".
// Tests pass their own QSettings on a temporary file instead.
std::unique_ptr<QSettings> OpenProgramSettings();

// The stored list, most recent first; reading stops at the first absent or
// empty key.
std::vector<std::string> ReadRecentList(QSettings& settings);

// Puts path at the top of the stored list: an equal entry (exact comparison)
// moves up, a new one pushes the others down and the tenth falls off. Keys
// after the new list's end are not touched. "" writes nothing.
void AddRecentDatabase(QSettings& settings, const std::string& path);

// What the take-snapshot window leaves out, as the user last set it: its
// patterns as typed, one a line ("Snapshot/Exclude"), and whether cache
// directories are left out ("Snapshot/ExcludeCaches").
struct ExclusionSettings {
    std::string Patterns;
    bool Caches = false;

    bool operator==(const ExclusionSettings&) const = default;
};
ExclusionSettings ReadExclusionSettings(QSettings& settings);
void WriteExclusionSettings(QSettings& settings, const ExclusionSettings& exclusions);
// The exclusions of a run: each line that is not blank a pattern, as typed,
// in order, then the caches.
std::vector<Exclusion> ExclusionsOf(const ExclusionSettings& exclusions);

// Caption of recent item number i (1 to 10): "&" + i + " " + path, each "&"
// of the path doubled so that the menu shows it as it is.
std::string RecentCaption(int number, const std::string& path);
// The path of a recent item's caption: the text after its first blank, "&&" as "&".
std::string PathFromRecentCaption(const std::string& caption);

}  // namespace corvina
