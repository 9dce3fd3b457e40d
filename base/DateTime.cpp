#include "base/DateTime.h"

#include <array>
#include <cstdio>
#include <ctime>

namespace corvina {
namespace {

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

DateTime FromTm(const std::tm& tm) {
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void Put2(char* out, int value) {
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

void Put4(char* out, int value) {
    Put2(out, value / 100);
    Put2(out + 2, value % 100);
}

// Reads exactly `width` digits.
bool ReadDigits(std::string_view text, std::size_t at, std::size_t width, int& value) {
    value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        char c = text[at + i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

DateTime DateTime::Now() {
    return FromUnix(static_cast<std::int64_t>(std::time(nullptr)));
}

DateTime DateTime::FromUnix(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return DateTime{};
    return FromTm(tm);
}

std::int64_t DateTime::ToUnix() const {
    std::tm local{};
    local.tm_year = Year - 1900;
    local.tm_mon = Month - 1;
    local.tm_mday = Day;
    local.tm_hour = Hour;
    local.tm_min = Minute;
    local.tm_sec = Second;
    local.tm_isdst = -1;  // the zone tells whether summer time holds
    return static_cast<std::int64_t>(std::mktime(&local));
}

std::optional<DateTime> DateTime::Parse(std::string_view text) {
    // yyyy-MM-dd HH:mm:ss
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
        text[16] != ':') {
        return std::nullopt;
    }
    DateTime d;
    if (!ReadDigits(text, 0, 4, d.Year) || !ReadDigits(text, 5, 2, d.Month) || !ReadDigits(text, 8, 2, d.Day) ||
        !ReadDigits(text, 11, 2, d.Hour) || !ReadDigits(text, 14, 2, d.Minute) ||
        !ReadDigits(text, 17, 2, d.Second)) {
        return std::nullopt;
    }
    if (d.Year < 1 || d.Month < 1 || d.Month > 12 || d.Day < 1 || d.Day > DaysInMonth(d.Year, d.Month) ||
        d.Hour > 23 || d.Minute > 59 || d.Second > 59) {
        return std::nullopt;
    }
    return d;
}

std::size_t FormatKeyInto(const DateTime& v, char* out) {
    Put4(out, v.Year);
    out[4] = '-';
    Put2(out + 5, v.Month);
    out[7] = '-';
    Put2(out + 8, v.Day);
    out[10] = ' ';
    Put2(out + 11, v.Hour);
    out[13] = ':';
    Put2(out + 14, v.Minute);
    out[16] = ':';
    Put2(out + 17, v.Second);
    return 19;
}

std::string FormatKey(const DateTime& value) {
    char buffer[19];
    return std::string(buffer, FormatKeyInto(value, buffer));
}

std::string FormatGeneralDate(const DateTime& value) { return FormatKey(value); }

std::string FormatDisplayDate(const DateTime& value) { return FormatKey(value).substr(0, 16); }

std::string_view MonthAbbreviation(int month) {
    static constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (month < 1 || month > 12) return {};
    return kMonths[static_cast<std::size_t>(month - 1)];
}

std::string FormatMediumDate(const DateTime& v) {
    std::string_view month = MonthAbbreviation(v.Month);
    if (month.empty()) return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d-%.3s-%02d", v.Day, month.data(), v.Year % 100);
    return buffer;
}

}  // namespace corvina
