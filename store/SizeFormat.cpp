#include "store/SizeFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>

#include <fmt/format.h>

namespace corvina {
namespace {

constexpr std::string_view kUnits = "BKMGT";

// A text reads as a number when it is one whole number (leading and trailing
// blanks allowed); the single blank of a total row is not.
bool ParseNumber(const std::string& text, double& value) {
    std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return false;
    std::size_t end = text.find_last_not_of(' ') + 1;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    auto [ptr, ec] = std::from_chars(first, last, value);
    return ec == std::errc() && ptr == last;
}

// How often a unit divides by 1024; anything unknown is megabytes, the
// window's first unit.
int StepsOf(char unit) {
    const std::size_t at = kUnits.find(unit);
    return at == std::string_view::npos ? 2 : static_cast<int>(at);
}

// Sizes are whole bytes, and as 64-bit integers they divide exactly; a
// value that is not one (a fraction, or beyond the 64-bit range) is divided
// as a double.
std::optional<std::int64_t> WholeBytes(double value) {
    if (std::floor(value) != value || !(value >= -9.2e18 && value <= 9.2e18)) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

// value * scale / 1024^steps, rounded as asked. Quotient and remainder are
// taken apart so that nothing overflows and no bit is lost.
std::int64_t Divide(std::int64_t value, int steps, int scale, SizeRounding rounding) {
    const std::int64_t divisor = std::int64_t{1} << (10 * steps);
    std::int64_t quotient = value / divisor;  // both towards zero
    std::int64_t remainder = value % divisor;
    if (rounding == SizeRounding::Down && remainder < 0) {
        --quotient;
        remainder += divisor;
    }
    return quotient * scale + remainder * scale / divisor;
}

double Divide(double value, int steps, int scale, SizeRounding rounding) {
    const double scaled = value / std::ldexp(1.0, 10 * steps) * scale;
    return rounding == SizeRounding::Down ? std::floor(scaled) : std::trunc(scaled);
}

// The largest unit that keeps the magnitude at least 1, so that a change and
// its reverse pick the same unit.
int AutoSteps(double magnitude) {
    int steps = 0;
    while (steps + 1 < static_cast<int>(kUnits.size()) && magnitude >= std::ldexp(1.0, 10 * (steps + 1))) ++steps;
    return steps;
}

std::string TenthsText(std::int64_t tenths) {
    const std::int64_t magnitude = tenths < 0 ? -tenths : tenths;
    return fmt::format("{}{}.{}", tenths < 0 ? "-" : "", magnitude / 10, magnitude % 10);
}

std::string AutoText(double number, std::optional<std::int64_t> whole, SizeRounding rounding) {
    const int steps = AutoSteps(std::fabs(number));
    std::string text;
    if (steps == 0) {
        text = whole ? FormatNumber(*whole) : FormatNumber(Divide(number, 0, 1, rounding));
    } else if (whole) {
        text = TenthsText(Divide(*whole, steps, 10, rounding));
    } else {
        text = fmt::format("{:.1f}", Divide(number, steps, 10, rounding) / 10);
    }
    return text + " " + std::string(SizeUnitName(kUnits[static_cast<std::size_t>(steps)]));
}

}  // namespace

std::string FormatNumber(std::int64_t value) { return fmt::format("{}", value); }

std::string FormatNumber(double value) {
    if (std::isfinite(value) && std::floor(value) == value && std::fabs(value) < 9.0e15) {
        return fmt::format("{}", static_cast<std::int64_t>(value));
    }
    return fmt::format("{}", value);
}

std::string FormatSize(double bytes) {
    if (bytes < 1024) return FormatNumber(bytes);
    double kilo = bytes / 1024.0;
    if (kilo >= 1024) return FormatNumber(std::floor(kilo / 1024.0)) + " MB";
    return FormatNumber(std::floor(kilo)) + " KB";
}

std::string FormatSizeCell(const CellValue& value, char unit, SizeRounding rounding) {
    double number = 0;
    std::optional<std::int64_t> whole;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        number = static_cast<double>(*i);
        whole = *i;
    } else if (const auto* d = std::get_if<double>(&value)) {
        number = *d;
        whole = WholeBytes(number);
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        if (!ParseNumber(*s, number)) return *s;
        whole = WholeBytes(number);
    } else {
        return {};
    }
    if (unit == kAutoUnit) return AutoText(number, whole, rounding);
    const int steps = StepsOf(unit);
    if (steps == 0) return whole ? FormatNumber(*whole) : FormatNumber(number);
    return whole ? FormatNumber(Divide(*whole, steps, 1, rounding)) : FormatNumber(Divide(number, steps, 1, rounding));
}

std::string_view SizeUnitName(char unit) {
    switch (unit) {
        case kAutoUnit: return "";
        case 'B': return "B";
        case 'K': return "KB";
        case 'G': return "GB";
        case 'T': return "TB";
        default: return "MB";
    }
}

std::string SizeUnitLabel(char unit) {
    if (unit == kAutoUnit) return {};
    const std::string label = unit == 'B' ? "(Bytes)" : "(" + std::string(SizeUnitName(unit)) + ")";
    return label + std::string(10 - label.size(), ' ');
}

std::string CellText(const CellValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return FormatNumber(*i);
    if (const auto* d = std::get_if<double>(&value)) return FormatNumber(*d);
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return {};
}

}  // namespace corvina
