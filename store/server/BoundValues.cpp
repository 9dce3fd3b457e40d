#include "store/server/BoundValues.h"

#include <bit>

#include "store/server/BinaryValues.h"

namespace corvina::server {
namespace {

void PutWire(BoundValue& value, std::int64_t bits) {
    std::string bytes;
    AppendBigEndian<std::int64_t>(bytes, bits);
    bytes.copy(value.Wire, sizeof value.Wire);
}

}  // namespace

void FillParameters(std::vector<BoundValue>& values, ParameterArrays& arrays) {
    const std::size_t count = values.size();
    arrays.Types.assign(count, 0);
    arrays.Values.assign(count, nullptr);
    arrays.Lengths.assign(count, 0);
    arrays.Formats.assign(count, 1);
    for (std::size_t i = 0; i < count; ++i) {
        BoundValue& value = values[i];
        switch (value.Kind) {
            case BoundKind::Null: break;
            case BoundKind::Text:
                // bytea beside our names, where the server compares and joins
                // it as bytes; a UTF-8 text takes the type of its place.
                if (!IsUtf8(value.Text)) arrays.Types[i] = oid::kBytea;
                // A view of nothing may have no address; the server needs one.
                arrays.Values[i] = value.Text.data() != nullptr ? value.Text.data() : "";
                arrays.Lengths[i] = static_cast<int>(value.Text.size());
                break;
            case BoundKind::Int64:
                PutWire(value, value.Integer);
                arrays.Types[i] = oid::kInt8;
                arrays.Values[i] = value.Wire;
                arrays.Lengths[i] = 8;
                break;
            case BoundKind::Double:
                PutWire(value, std::bit_cast<std::int64_t>(value.Real));
                arrays.Types[i] = oid::kFloat8;
                arrays.Values[i] = value.Wire;
                arrays.Lengths[i] = 8;
                break;
        }
    }
}

}  // namespace corvina::server
