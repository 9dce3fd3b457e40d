#pragma once
// Snapshot keys and file dates: local wall-clock time to the whole second.
// Stored in the database as "yyyy-MM-dd HH:mm:ss", which sorts and compares
// exactly as the moments do, so a key text selects exactly one snapshot.
//
// Error policy: nothing here touches the database; a text that is no key
// parses to nullopt (store/StoreError.h states the policy of the rest).

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvina {

struct DateTime {
    int Year = 0;  // 0 = no date (the "0" of an unset compare snapshot)
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    bool IsNull() const { return Year == 0; }
    auto operator<=>(const DateTime&) const = default;

    static DateTime Now();
    // Local time of a POSIX time stamp (seconds since 1970).
    static DateTime FromUnix(std::int64_t seconds);
    // The POSIX time stamp of this local time, as the machine's zone reads it:
    // FromUnix the other way round.
    std::int64_t ToUnix() const;
    // Reads the stored / general form "yyyy-MM-dd HH:mm:ss"; nullopt when the
    // text is not exactly that form or not a real date and time.
    static std::optional<DateTime> Parse(std::string_view text);
};

// "yyyy-MM-dd HH:mm:ss": the stored key text, and the general date-time text
// shown to the user wherever a key must read back into the same key.
std::string FormatKey(const DateTime& value);
std::string FormatGeneralDate(const DateTime& value);
// "yyyy-MM-dd HH:mm", for date columns of result grids.
std::string FormatDisplayDate(const DateTime& value);
// "dd-MMM-yy" with English month abbreviations, for default descriptions.
std::string FormatMediumDate(const DateTime& value);
// "Jan" .. "Dec" whatever the locale (the text goes into stored descriptions
// and chart labels); empty for a month outside 1..12.
std::string_view MonthAbbreviation(int month);

// Writes the key text into a caller's buffer of at least 19 characters and
// returns its length; the walk uses this per file without allocating.
std::size_t FormatKeyInto(const DateTime& value, char* out);

}  // namespace corvina
