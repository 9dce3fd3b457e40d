#pragma once
// The file-size threshold of the take-snapshot window: a number typed in
// bytes, KB or MB, turned into bytes.

#include <cstdint>
#include <optional>

#include <QString>

namespace corvina {

enum class SizeUnit { Bytes = 0, KB = 1, MB = 2 };

// The threshold in bytes: the text as a decimal number ("." as decimal point,
// blanks around it ignored) times the unit, rounded to the nearest integer with
// halves to even; a whole number is taken exactly. nullopt when the text is
// empty, is not a number, or the result does not fit a signed 64-bit integer:
// the caller keeps its previous threshold then.
std::optional<std::int64_t> ComputeSizeThreshold(const QString& text, SizeUnit unit);

}  // namespace corvina
