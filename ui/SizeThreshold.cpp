#include "ui/SizeThreshold.h"

#include <cfenv>
#include <cmath>

#include <QLocale>

namespace corvina {

namespace {

constexpr std::int64_t kUnitBytes[] = {1, 1024, 1024 * 1024};

// A whole number is taken exactly: a double would round sizes above 2^53.
std::optional<std::int64_t> WholeThreshold(const QString& text, std::int64_t unitBytes) {
    bool ok = false;
    const qlonglong value = QLocale::c().toLongLong(text, &ok);
    std::int64_t bytes = 0;
    if (!ok || __builtin_mul_overflow(static_cast<std::int64_t>(value), unitBytes, &bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

std::optional<std::int64_t> ComputeSizeThreshold(const QString& text, SizeUnit unit) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    const std::int64_t unitBytes = kUnitBytes[static_cast<int>(unit)];
    if (std::optional<std::int64_t> whole = WholeThreshold(trimmed, unitBytes)) return whole;
    bool ok = false;
    // The C locale, so that "1.5" means the same on every desktop.
    const double value = QLocale::c().toDouble(trimmed, &ok) * static_cast<double>(unitBytes);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    // nearbyint honours the rounding mode; the default mode rounds halves to even.
    const int savedMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(savedMode);
    // 2^63 itself is a double; every double below it converts.
    constexpr double kLimit = 9223372036854775808.0;
    if (rounded < -kLimit || rounded >= kLimit) return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

}  // namespace corvina
