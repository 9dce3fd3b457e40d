#pragma once
// Byte counts as the user sees them: FormatSize for progress, lists and titles
// ("10 KB", "1 MB"), FormatSizeCell for the result grid in the chosen unit,
// without suffix (the unit is in the column heading).
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace corvina {

// A field value as a query returns it: Null, integer, real or text.
using CellValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// Plain number text: digits only, no grouping, no decimals for whole values.
std::string FormatNumber(double value);
std::string FormatNumber(std::int64_t value);

// Below 1024 the plain number; else whole KB below 1024 KB; else whole MB.
// Fractions are dropped, never rounded.
std::string FormatSize(double bytes);

// Display units of the result grid: "B", "K" or "M".
// A value that is not numeric (the blank of a total row) comes back unchanged;
// a number is divided by 1024 once for "K", twice for "M", each time rounded
// towards minus infinity.
std::string FormatSizeCell(const CellValue& value, char unit);

// Label of a unit for column headings, padded with blanks to 10 characters:
// "(Bytes)   ", "(KB)      ", "(MB)      ".
std::string SizeUnitLabel(char unit);

// Text of any cell value: Null is "", numbers plain, text as is.
std::string CellText(const CellValue& value);

}  // namespace corvina
