#include "report/BasisNotes.h"

#include "base/DisplayText.h"

namespace corvina {

namespace {

// "nothing", or the patterns quoted (made safe to show) and "cache directories".
std::string LeftOut(const std::vector<Exclusion>& exclusions) {
    if (exclusions.empty()) return "nothing";
    std::string text;
    for (std::size_t i = 0; i < exclusions.size(); ++i) {
        if (i > 0) text += i + 1 == exclusions.size() ? " and " : ", ";
        const Exclusion& exclusion = exclusions[i];
        text += exclusion.Kind == ExclusionKind::Caches ? ExclusionDisplayText(exclusion)
                                                  : "\"" + EscapeForDisplay(exclusion.Pattern) + "\"";
    }
    return text;
}

}  // namespace

std::string CannotCompareOnDiskText(const DateTime& without) {
    return "Snapshot " + FormatKey(without) +
           " has no on-disk figures (it was taken before they were recorded): the two snapshots cannot be compared "
           "on disk.";
}

std::string ExclusionsDifferText(std::string_view primeLabel, const std::vector<Exclusion>& prime,
                                 std::string_view compareLabel, const std::vector<Exclusion>& compare) {
    return "The snapshots left out different entries: " + std::string(primeLabel) + " left out " + LeftOut(prime) +
           ", " + std::string(compareLabel) + " " + LeftOut(compare);
}

}  // namespace corvina
