#include "store/SizeFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include <fmt/format.h>

namespace corvina {
namespace {

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

double WholeKilo(double value) { return std::floor(value / 1024.0); }

// Rounded towards minus infinity, as WholeKilo; C++ division cuts towards zero.
WideInteger WholeKilo(WideInteger value) {
    WideInteger quotient = value / 1024;
    return quotient * 1024 > value ? quotient - 1 : quotient;
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

std::string FormatSizeCell(const CellValue& value, char unit) {
    // A whole number is divided as one: a double holds 53 bits, a size 64.
    if (std::optional<WideInteger> whole = WholeNumberOf(value)) {
        WideInteger number = *whole;
        if (unit != 'B') {
            number = WholeKilo(number);
            if (unit != 'K') number = WholeKilo(number);
        }
        return FormatWholeNumber(number);
    }
    double number = 0;
    if (const auto* d = std::get_if<double>(&value)) {
        number = *d;
    } else if (const auto* s = std::get_if<std::string>(&value)) {
        if (!ParseNumber(*s, number)) return *s;
    } else {
        return {};
    }
    if (unit != 'B') {
        number = WholeKilo(number);
        if (unit != 'K') number = WholeKilo(number);
    }
    return FormatNumber(number);
}

std::string SizeUnitLabel(char unit) {
    switch (unit) {
        case 'B': return "(Bytes)   ";
        case 'K': return "(KB)      ";
        default: return "(MB)      ";
    }
}

std::string CellText(const CellValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return FormatNumber(*i);
    if (const auto* d = std::get_if<double>(&value)) return FormatNumber(*d);
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    return {};
}

}  // namespace corvina
