#pragma once
// The order of a directory's subdirectories, which fixes the order of a
// snapshot's rows, and the attribute text of the debug list: what the walk
// and its listing threads share.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvina {

// The order in which subdirectories are visited: ascending by upper-cased
// name, byte by byte; names equal once upper-cased keep the order the
// classic exchange sort (compare every later position, swap when greater)
// leaves them in. Returns positions into names.
std::vector<std::size_t> SortNames(const std::vector<std::string_view>& names);

// The attribute text of the debug list: the decimal value left-aligned in 8 characters.
std::string AttributeText(int attributes);

}  // namespace corvina
