#include "ui/SizeThreshold.h"

#include <cfenv>
#include <cmath>
#include <limits>

#include <QLocale>

namespace corvina {

std::optional<std::int32_t> ComputeSizeThreshold(const QString& text, SizeUnit unit) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    bool ok = false;
    // The C locale, so that "1.5" means the same on every desktop.
    double value = QLocale::c().toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    if (unit == SizeUnit::KB) value *= 1024.0;
    if (unit == SizeUnit::MB) value *= 1024.0 * 1024.0;
    // nearbyint honours the rounding mode; the default mode rounds halves to even.
    const int savedMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(savedMode);
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

}  // namespace corvina
