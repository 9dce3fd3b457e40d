#include "base/SizeFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
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

// Sizes are whole bytes, and as integers they divide exactly; a real that
// is not one (a fraction, or beyond the 64-bit range) is divided as a double.
std::optional<WideInteger> WholeBytes(double value) {
    if (std::floor(value) != value || !(value >= -9.2e18 && value <= 9.2e18)) return std::nullopt;
    return static_cast<std::int64_t>(value);
}

// value * scale / 1024^steps, rounded as asked. Quotient and remainder are
// taken apart so that nothing overflows and no bit is lost.
WideInteger Divide(WideInteger value, int steps, int scale, SizeRounding rounding) {
    const WideInteger divisor = WideInteger{1} << (10 * steps);
    WideInteger quotient = value / divisor;  // both towards zero
    WideInteger remainder = value % divisor;
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

std::string TenthsText(WideInteger tenths) {
    const WideInteger magnitude = tenths < 0 ? -tenths : tenths;
    return (tenths < 0 ? "-" : "") + FormatWholeNumber(magnitude / 10) + "." +
           std::to_string(static_cast<int>(magnitude % 10));
}

std::string AutoText(double number, std::optional<WideInteger> whole, SizeRounding rounding) {
    const int steps = AutoSteps(std::fabs(number));
    std::string text;
    if (steps == 0) {
        text = whole ? FormatWholeNumber(*whole) : FormatNumber(Divide(number, 0, 1, rounding));
    } else if (whole) {
        text = TenthsText(Divide(*whole, steps, 10, rounding));
    } else {
        text = fmt::format("{:.1f}", Divide(number, steps, 10, rounding) / 10);
    }
    return text + " " + std::string(SizeUnitName(kUnits[static_cast<std::size_t>(steps)]));
}

constexpr WideInteger kWideMax = static_cast<WideInteger>(std::numeric_limits<std::int64_t>::max()) << 64 |
                                 std::numeric_limits<std::uint64_t>::max();

}  // namespace

CellValue WholeNumberCell(WideInteger value) {
    if (value >= std::numeric_limits<std::int64_t>::min() && value <= std::numeric_limits<std::int64_t>::max()) {
        return static_cast<std::int64_t>(value);
    }
    return FormatWholeNumber(value);
}

std::optional<WideInteger> WholeNumberOf(const CellValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    const auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) return std::nullopt;
    std::size_t at = text->find_first_not_of(' ');
    const std::size_t end = text->find_last_not_of(' ') + 1;
    if (at == std::string::npos) return std::nullopt;
    const bool negative = (*text)[at] == '-';
    if (negative) ++at;
    if (at == end) return std::nullopt;
    // Accumulated negative, so that the most negative value fits too.
    WideInteger number = 0;
    for (; at < end; ++at) {
        const char c = (*text)[at];
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        if (number < (-kWideMax - 1 + digit) / 10) return std::nullopt;
        number = number * 10 - digit;
    }
    if (!negative && number < -kWideMax) return std::nullopt;
    return negative ? number : -number;
}

std::string FormatWholeNumber(WideInteger value) {
    // Digits of the negative value, so that the most negative one needs no negation.
    const bool negative = value < 0;
    if (!negative) value = -value;
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' - static_cast<int>(value % 10)));
        value /= 10;
    } while (value != 0);
    return negative ? "-" + digits : digits;
}

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
    // A whole number is divided as one: a double holds 53 bits, a size 64 and
    // a sum of sizes more.
    std::optional<WideInteger> whole = WholeNumberOf(value);
    if (whole) {
        number = static_cast<double>(*whole);
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
    if (steps == 0) return whole ? FormatWholeNumber(*whole) : FormatNumber(number);
    return whole ? FormatWholeNumber(Divide(*whole, steps, 1, rounding))
                 : FormatNumber(Divide(number, steps, 1, rounding));
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

std::string_view SizeBasisName(SizeBasis basis) { return basis == SizeBasis::Disk ? "disk" : "apparent"; }

std::optional<SizeBasis> ParseSizeBasis(std::string_view text) {
    if (text == "apparent") return SizeBasis::Apparent;
    if (text == "disk") return SizeBasis::Disk;
    return std::nullopt;
}

// The apparent labels keep the fixed width of the grid's headings; the
// others need no padding to line up with them.
std::string SizeUnitLabel(char unit, SizeBasis basis) {
    if (basis == SizeBasis::Apparent) return SizeUnitLabel(unit);
    if (unit == kAutoUnit) return "(on disk)";
    return "(" + std::string(unit == 'B' ? "Bytes" : SizeUnitName(unit)) + " on disk)";
}

std::string CellText(const CellValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return FormatNumber(*i);
    if (const auto* d = std::get_if<double>(&value)) return FormatNumber(*d);
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return {};
}

}  // namespace corvina
