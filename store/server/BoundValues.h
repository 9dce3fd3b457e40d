#pragma once
// The values bound to a statement's parameters or a bulk row's columns, kept
// until the next bind, and laid out as libpq takes them: every value in
// binary form, numbers as int8 and float8, a text that is not UTF-8 (a name's
// bytes) as bytea, any other text untyped so that it takes the type its place
// asks for (text, or bytea beside our names).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "store/engine/Engine.h"

namespace corvina::server {

enum class BoundKind { Null, Text, Int64, Double };

struct BoundValue {
    BoundKind Kind = BoundKind::Null;
    std::string Copy;        // the text, when copied
    std::string_view Text;   // the text bound (into Copy, or the caller's)
    std::int64_t Integer = 0;
    double Real = 0;
    char Wire[8] = {};       // a number in network order
};

// What libpq's parameter calls take, pointing into the values.
struct ParameterArrays {
    std::vector<unsigned> Types;
    std::vector<const char*> Values;
    std::vector<int> Lengths;
    std::vector<int> Formats;
};

// Implements the binds of Interface (engine::Query or engine::BulkRows) over
// count values; the statement text or table names failures (datum_).
template <typename Interface>
class BoundValues : public Interface {
public:
    StoreError BindText(int position, std::string_view text, bool copy) override {
        BoundValue* value = At(position);
        if (value == nullptr) return OutOfRange(position);
        value->Kind = BoundKind::Text;
        if (copy) {
            value->Copy.assign(text);
            value->Text = value->Copy;
        } else {
            value->Text = text;
        }
        return {};
    }
    StoreError BindInt64(int position, std::int64_t number) override {
        BoundValue* value = At(position);
        if (value == nullptr) return OutOfRange(position);
        value->Kind = BoundKind::Int64;
        value->Integer = number;
        return {};
    }
    StoreError BindDouble(int position, double number) override {
        BoundValue* value = At(position);
        if (value == nullptr) return OutOfRange(position);
        value->Kind = BoundKind::Double;
        value->Real = number;
        return {};
    }
    StoreError BindNull(int position) override {
        BoundValue* value = At(position);
        if (value == nullptr) return OutOfRange(position);
        value->Kind = BoundKind::Null;
        return {};
    }

protected:
    BoundValues(int count, std::string datum)
        : values_(static_cast<std::size_t>(count)), datum_(std::move(datum)) {}

    BoundValue* At(int position) {
        return position >= 1 && position <= static_cast<int>(values_.size())
                   ? &values_[static_cast<std::size_t>(position - 1)]
                   : nullptr;
    }
    StoreError OutOfRange(int position) const {
        return MakeError(StoreCode::Other,
                         "There is no parameter " + std::to_string(position) + " (the statement has " +
                             std::to_string(values_.size()) + ")",
                         datum_);
    }

    std::vector<BoundValue> values_;
    std::string datum_;
};

// The values as parameters, numbers encoded into their Wire bytes.
void FillParameters(std::vector<BoundValue>& values, ParameterArrays& arrays);

}  // namespace corvina::server
