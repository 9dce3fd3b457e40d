#pragma once
// Values in the server's binary form, both ways: the parameters and COPY rows
// we send, the rows of a query we read. What a row reads as matches what the
// server's own text output gives for it, so that both read paths (and the
// file engine's numbers) agree on every value:
//
//   bool                  "1" / "0", an integer
//   int2, int4, int8, oid decimal text, an integer
//   float4, float8        the shortest text that reads back as the same value,
//                         fixed below 1e15 (1e6 for float4) and from 1e-4,
//                         else "1.5e+20": the server's output at its default
//                         extra_float_digits
//   numeric               the server's decimal text, exact; an integer
//                         without fraction digits, else a real
//   text, bytea, ...      their bytes as they stand (bytea raw, not hex)
//
// Any other type is turned into text by the server itself (Query.cpp).

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace corvina::server {

// Type numbers of the server's catalogue.
namespace oid {
constexpr unsigned kBool = 16, kBytea = 17, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
                   kJson = 114, kFloat4 = 700, kFloat8 = 701, kUnknown = 705, kBpchar = 1042, kVarchar = 1043,
                   kNumeric = 1700, kVoid = 2278;
}

// How a column of a type is read from its binary form.
enum class Decoding { Bool, Int2, Int4, Int8, Oid, Float4, Float8, Numeric, Bytes, ByServer };
Decoding DecodingOf(unsigned type);

template <typename T>
void AppendBigEndian(std::string& out, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (int shift = static_cast<int>(sizeof(T)) * 8 - 8; shift >= 0; shift -= 8) {
        out += static_cast<char>((bits >> shift) & 0xff);
    }
}

template <typename T>
T ReadBigEndian(const char* data) {
    std::make_unsigned_t<T> bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) bits = static_cast<decltype(bits)>((bits << 8) | static_cast<unsigned char>(data[i]));
    return static_cast<T>(bits);
}

// Well-formed UTF-8 without a zero byte: what the server takes as text.
bool IsUtf8(std::string_view text);

// A text read as an integer: a real saturates at the 64-bit limits (as the
// file engine's does), anything else unreadable is 0.
std::int64_t ParseInt64(std::string_view text);
double ParseDouble(std::string_view text);
std::int64_t SaturatingInt64(double value);

std::string FloatText(double value);
std::string FloatText(float value);
// The text of a binary numeric (its bytes as the server sends them); whole
// is set when it has no fraction digits.
std::string NumericText(std::string_view binary, bool& whole);

// The integer a binary value of decoding holds (bool, int2/4/8, oid).
std::int64_t BinaryInteger(Decoding decoding, const char* data);

}  // namespace corvina::server
