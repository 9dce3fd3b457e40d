// Visit order of subdirectories. The order must be exactly the one the classic
// exchange sort gives, ties included, because it fixes the order of the rows.
// That sort is quadratic; names that differ once upper-cased have only one
// sorted order, so an O(n log n) sort serves unless two names tie (a case-only
// pair such as "Data" and "data"). Only then does the exchange sort run, on
// integer ranks rather than on the names.

#include <algorithm>
#include <numeric>

#include "capture/SortNames.h"

namespace corvina {

namespace {

inline unsigned char Upper(unsigned char c) { return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 32) : c; }

// <0, 0, >0 as the upper-case forms compare, byte by byte, a prefix first.
int CompareUpper(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = Upper(static_cast<unsigned char>(a[i]));
        unsigned char y = Upper(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

template <typename Greater>
void ExchangeSort(std::vector<std::size_t>& order, Greater greater) {
    const std::size_t n = order.size();
    for (std::size_t i = 0; i + 1 < n; ++i) {
        for (std::size_t j = i + 1; j < n; ++j) {
            if (greater(order[i], order[j])) std::swap(order[i], order[j]);
        }
    }
}

}  // namespace

std::vector<std::size_t> SortNames(const std::vector<std::string_view>& names) {
    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return CompareUpper(names[a], names[b]) < 0; });

    bool tie = false;
    std::vector<std::size_t> rank(names.size());
    std::size_t current = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0) {
            if (CompareUpper(names[order[k - 1]], names[order[k]]) == 0) {
                tie = true;
            } else {
                ++current;
            }
        }
        rank[order[k]] = current;
    }
    if (!tie) return order;

    std::iota(order.begin(), order.end(), std::size_t{0});
    ExchangeSort(order, [&](std::size_t a, std::size_t b) { return rank[a] > rank[b]; });
    return order;
}

std::string AttributeText(int attributes) {
    std::string text = std::to_string(attributes);
    if (text.size() < 8) text.resize(8, ' ');
    return text;
}

}  // namespace corvina
