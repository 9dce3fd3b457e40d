#include "analysis/ResultGrid.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace corvina {

namespace {
const std::string kEmpty;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

bool ReadNumber(const std::string& text, double* value) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (begin == end) return false;
    // Only digits, sign, point and exponent: strtod would also take "inf",
    // "nan" and hexadecimal forms, which no grid cell means as a number.
    for (std::size_t i = begin; i < end; ++i) {
        char c = text[i];
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' || c == 'e' ||
              c == 'E')) {
            return false;
        }
    }
    std::string part = text.substr(begin, end - begin);
    char* stop = nullptr;
    errno = 0;
    double parsed = std::strtod(part.c_str(), &stop);
    if (stop != part.c_str() + part.size() || errno == ERANGE || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

void ResultGrid::SetRowCount(int rows) {
    rows = std::max(rows, 0);
    rows_.resize(static_cast<std::size_t>(rows), std::vector<std::string>(static_cast<std::size_t>(columnCount_)));
    fixedRows_ = std::min(fixedRows_, rows);
}

void ResultGrid::SetColumnCount(int columns) {
    columns = std::max(columns, 0);
    columnCount_ = columns;
    for (auto& row : rows_) row.resize(static_cast<std::size_t>(columns));
    widths_.resize(static_cast<std::size_t>(columns), 0);
    alignments_.resize(static_cast<std::size_t>(columns), CellAlignment::Left);
    names_.resize(static_cast<std::size_t>(columns), false);
}

void ResultGrid::SetFixedRows(int rows) { fixedRows_ = std::clamp(rows, 0, RowCount()); }

const std::string& ResultGrid::Cell(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= columnCount_) return kEmpty;
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void ResultGrid::SetCell(int row, int column, std::string text) {
    if (row < 0 || row >= RowCount() || column < 0 || column >= columnCount_) return;
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = std::move(text);
}

int ResultGrid::ColumnWidth(int column) const {
    return column >= 0 && column < columnCount_ ? widths_[static_cast<std::size_t>(column)] : 0;
}

void ResultGrid::SetColumnWidth(int column, int twips) {
    if (column >= 0 && column < columnCount_) widths_[static_cast<std::size_t>(column)] = twips;
}

CellAlignment ResultGrid::Alignment(int column) const {
    return column >= 0 && column < columnCount_ ? alignments_[static_cast<std::size_t>(column)] : CellAlignment::Left;
}

void ResultGrid::SetAlignment(int column, CellAlignment alignment) {
    if (column >= 0 && column < columnCount_) alignments_[static_cast<std::size_t>(column)] = alignment;
}

bool ResultGrid::HoldsNames(int column) const {
    return column >= 0 && column < columnCount_ && names_[static_cast<std::size_t>(column)];
}

void ResultGrid::SetHoldsNames(int column, bool names) {
    if (column >= 0 && column < columnCount_) names_[static_cast<std::size_t>(column)] = names;
}

void ResultGrid::SortScrollingRows(int column, bool ascending) {
    if (column < 0 || column >= columnCount_ || fixedRows_ >= RowCount()) return;
    // Read each key once: a thousand rows sort in n log n comparisons.
    struct Key {
        bool IsNumber = false;
        double Number = 0;
        const std::string* Text = nullptr;
    };
    auto first = rows_.begin() + fixedRows_;
    std::vector<std::pair<Key, std::vector<std::string>>> keyed;
    keyed.reserve(static_cast<std::size_t>(rows_.end() - first));
    for (auto it = first; it != rows_.end(); ++it) keyed.push_back({Key{}, std::move(*it)});
    for (auto& [key, row] : keyed) {
        key.Text = &row[static_cast<std::size_t>(column)];
        key.IsNumber = ReadNumber(*key.Text, &key.Number);
    }
    auto less = [](const Key& a, const Key& b) {
        if (a.IsNumber != b.IsNumber) return a.IsNumber;
        if (a.IsNumber) return a.Number < b.Number;
        return *a.Text < *b.Text;
    };
    std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
        return ascending ? less(a.first, b.first) : less(b.first, a.first);
    });
    for (auto& [key, row] : keyed) *first++ = std::move(row);
}

}  // namespace corvina
