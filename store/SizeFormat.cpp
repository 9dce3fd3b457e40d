#include "store/SizeFormat.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

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

std::string FormatSizeCell(const CellValue& value, char unit) {
    double number = 0;
    if (const auto* i = std::get_if<std::int64_t>(&value)) {
        if (unit == 'B') return FormatNumber(*i);
        number = static_cast<double>(*i);
    } else if (const auto* d = std::get_if<double>(&value)) {
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
