#pragma once
// Byte counts as the user sees them: FormatSize for progress, lists and titles
// ("10 KB", "1 MB"), FormatSizeCell for the result grid in the chosen unit,
// without suffix (the unit is in the column heading), or with its own unit
// in each cell when the unit is kAutoUnit.
//
// Error policy: nothing here fails (store/StoreError.h states the policy of
// store/ and analysis/).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvina {

// A field value as a query returns it: Null, integer, real or text.
using CellValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// Sizes are 64-bit; their sums and differences need up to 65 bits, and the
// sums of many up to a few more. 128 bits hold them all exactly.
__extension__ typedef __int128 WideInteger;

// A whole number as a cell: a 64-bit integer when it fits, else its exact
// decimal text ("18446744073709551614"), which every cell rule reads as the
// number it is.
CellValue WholeNumberCell(WideInteger value);
// The whole number a cell holds: an integer, or a text of decimal digits
// (a minus sign and blanks around allowed) within 128 bits. nullopt for anything
// else, reals included.
std::optional<WideInteger> WholeNumberOf(const CellValue& value);
std::string FormatWholeNumber(WideInteger value);

// Plain number text: digits only, no grouping, no decimals for whole values.
std::string FormatNumber(double value);
std::string FormatNumber(std::int64_t value);

// Below 1024 the plain number; else whole KB below 1024 KB; else whole MB.
// Fractions are dropped, never rounded.
std::string FormatSize(double bytes);

// Display units: 'B', 'K', 'M', 'G', 'T' are bytes and 1024 to the power 1
// to 4 of them; kAutoUnit writes each value in the largest of those that keeps
// it at least 1, with one decimal and the unit's name ("1.5 GB", "512 B").
inline constexpr char kAutoUnit = 'A';

// How a value drops what its unit cannot show.
enum class SizeRounding {
    Down,        // towards minus infinity: the result grid's rule
    TowardZero,  // a change and its reverse read the same: +1.7 GB and -1.7 GB
};

// A value that is not numeric (the blank of a total row) comes back
// unchanged; a number is divided by 1024 once for "K", twice for "M" and so
// on, rounded as asked.
std::string FormatSizeCell(const CellValue& value, char unit, SizeRounding rounding = SizeRounding::Down);

// Name of a unit after a number: "B", "KB", "MB", "GB", "TB"; "" for kAutoUnit.
std::string_view SizeUnitName(char unit);

// Label of a unit for column headings, padded with blanks to 10 characters:
// "(Bytes)   ", "(KB)      " ... "(TB)      "; "" for kAutoUnit, whose
// cells name their own unit.
std::string SizeUnitLabel(char unit);

// Text of any cell value: Null is "", numbers plain, text as is.
std::string CellText(const CellValue& value);

// Which size of an entry a view counts: its apparent size (the length its
// name reports, what Dir and files hold) or its size on disk (the blocks it
// takes, a file with several names counted once per snapshot). Apparent is
// the default; snapshots taken before on-disk figures were recorded have
// none, and no view makes one up for them.
enum class SizeBasis { Apparent, Disk };
// "apparent" or "disk": the tool's --size values and the settings' text.
std::string_view SizeBasisName(SizeBasis basis);
std::optional<SizeBasis> ParseSizeBasis(std::string_view text);
// A unit's heading label in a basis: SizeUnitLabel for apparent sizes;
// "(MB on disk)", "(Bytes on disk)" or, for kAutoUnit, "(on disk)" on disk.
std::string SizeUnitLabel(char unit, SizeBasis basis);

// What a table shows for a size on disk the snapshot did not record.
inline constexpr std::string_view kNoFigure = "\u2014";

}  // namespace corvina
