#pragma once
// What the window program and the tool say about sizes on disk and about
// what two snapshots left out, worded once for both.
//
// Error policy: nothing here fails.

#include <string>
#include <string_view>
#include <vector>

#include "analysis/DiskFigures.h"
#include "base/DateTime.h"

namespace corvina {

// "Snapshot <key> has no on-disk figures (it was taken before they were
// recorded): the two snapshots cannot be compared on disk."
std::string CannotCompareOnDiskText(const DateTime& without);
// What the window asks after it, Yes switching to apparent sizes.
inline constexpr std::string_view kShowApparentQuestion = "Show apparent sizes instead?";
// What the tool says after it.
inline constexpr std::string_view kSizeApparentHint = "Use --size apparent to compare their apparent sizes.";

// Beside a result that shows kNoFigure for sizes its snapshots did not record.
inline constexpr std::string_view kMissingFiguresNote =
    "\u2014 marks sizes on disk not recorded: the snapshot was taken before they were";

// "The snapshots left out different entries: <prime> left out "*.o" and
// cache directories, <compare> nothing", each snapshot by the label given.
std::string ExclusionsDifferText(std::string_view primeLabel, const std::vector<Exclusion>& prime,
                                 std::string_view compareLabel, const std::vector<Exclusion>& compare);

}  // namespace corvina
