#include "store/server/BinaryValues.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace corvina::server {

Decoding DecodingOf(unsigned type) {
    switch (type) {
        case oid::kBool: return Decoding::Bool;
        case oid::kInt2: return Decoding::Int2;
        case oid::kInt4: return Decoding::Int4;
        case oid::kInt8: return Decoding::Int8;
        case oid::kOid: return Decoding::Oid;
        case oid::kFloat4: return Decoding::Float4;
        case oid::kFloat8: return Decoding::Float8;
        case oid::kNumeric: return Decoding::Numeric;
        // Types whose binary form is their text output's bytes.
        case oid::kBytea:
        case oid::kName:
        case oid::kText:
        case oid::kJson:
        case oid::kUnknown:
        case oid::kBpchar:
        case oid::kVarchar:
        case oid::kVoid: return Decoding::Bytes;
        default: return Decoding::ByServer;
    }
}

bool IsUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t code = length == 1 ? c : c & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and beyond U+10FFFF are not UTF-8 either;
        // nor is a zero byte for the server.
        static constexpr std::uint32_t kLeast[] = {0, 0x1, 0x80, 0x800, 0x10000};
        if (code < kLeast[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return false;
        i += length;
    }
    return true;
}

std::int64_t SaturatingInt64(double value) {
    // A cast of a value beyond the limits would be undefined.
    if (!(value > -9223372036854775808.0)) return value != value ? 0 : std::numeric_limits<std::int64_t>::min();
    if (value >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(value);
}

std::int64_t ParseInt64(std::string_view text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc{} && end == text.data() + text.size()) return value;
    return SaturatingInt64(ParseDouble(text));
}

double ParseDouble(std::string_view text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

namespace {

// A positive decimal: Digits (no leading or trailing zeros) times ten to the
// power of Exponent, counted at the first digit.
struct Decimal {
    std::string Digits;
    int Exponent = 0;

    // From printf's "%Le": "d.ddde+XX".
    static Decimal FromScientific(std::string_view text) {
        Decimal decimal;
        const std::size_t e = text.find('e');
        for (const char c : text.substr(0, e)) {
            if (c >= '0' && c <= '9') decimal.Digits += c;
        }
        std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(), decimal.Exponent);
        decimal.Trim();
        return decimal;
    }
    void Trim() {
        while (Digits.size() > 1 && Digits.back() == '0') Digits.pop_back();
        while (Digits.size() > 1 && Digits.front() == '0') {
            Digits.erase(0, 1);
            --Exponent;
        }
    }
    // One unit more or less in the last of places digits.
    Decimal Stepped(std::size_t places, int step) const {
        Decimal next = *this;
        next.Digits.resize(places, '0');
        int i = static_cast<int>(places) - 1;
        for (; i >= 0; --i) {
            char& d = next.Digits[static_cast<std::size_t>(i)];
            if (step > 0 ? d != '9' : d != '0') {
                d = static_cast<char>(d + step);
                break;
            }
            d = step > 0 ? '0' : '9';
        }
        if (i < 0) {  // 99 + 1: one more place in front
            next.Digits.insert(0, "1");
            ++next.Exponent;
        }
        next.Trim();
        return next;
    }
    bool operator<(const Decimal& other) const {
        return Exponent != other.Exponent ? Exponent < other.Exponent : Digits < other.Digits;
    }
};

Decimal ExactDecimal(long double value, int digits) {
    char text[1300];
    std::snprintf(text, sizeof text, "%.*Le", digits - 1, value);
    return Decimal::FromScientific(text);
}

// The server prints the shortest digits that lie strictly between the
// midpoints to the neighbouring values; the library's to_chars takes a
// midpoint too where the rounding of input would come back to the value.
// The two differ only when to_chars's digits are a midpoint, which is
// rare: then the digits are searched for with exact decimals.
template <typename T>
Decimal ShortestDecimal(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    // Both neighbours' midpoints are exact in a long double.
    const long double exact = value;
    const long double low = (exact + std::nextafter(value, T(0))) / 2;
    const long double high = (exact + std::nextafter(value, std::numeric_limits<T>::infinity())) / 2;
    const long double read = std::strtold(std::string(text).c_str(), nullptr);
    Decimal shortest = Decimal::FromScientific(text);
    if (read != low && read != high) return shortest;
    // Enough places for any long double's exact expansion.
    const Decimal lowest = ExactDecimal(low, 1200), highest = ExactDecimal(high, 1200);
    auto inside = [&](const Decimal& d) { return lowest < d && d < highest; };
    for (std::size_t places = shortest.Digits.size();; ++places) {
        const Decimal rounded = ExactDecimal(exact, static_cast<int>(places));
        if (inside(rounded)) return rounded;
        for (int step : {1, -1}) {
            if (const Decimal next = rounded.Stepped(places, step); inside(next)) return next;
        }
    }
}

// The shortest digits in fixed form while the decimal exponent is at least
// -4 and below fixedBelow, else as "1.5e+20".
template <typename T>
std::string ShortestText(T value, int fixedBelow) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    std::string out = std::signbit(value) ? "-" : "";
    if (value == 0) return out + "0";
    const Decimal decimal = ShortestDecimal(std::fabs(value));
    const std::string& digits = decimal.Digits;
    const int exponent = decimal.Exponent;
    if (exponent < -4 || exponent >= fixedBelow) {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += "." + digits.substr(1);
        char power[16];
        std::snprintf(power, sizeof power, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return out + power;
    }
    if (exponent < 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    } else if (static_cast<std::size_t>(exponent) + 1 >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent) + 1 - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<std::size_t>(exponent) + 1);
        out += '.';
        out += digits.substr(static_cast<std::size_t>(exponent) + 1);
    }
    return out;
}

}  // namespace

std::string FloatText(double value) { return ShortestText(value, 15); }

std::string FloatText(float value) { return ShortestText(value, 6); }

std::string NumericText(std::string_view binary, bool& whole) {
    whole = true;
    if (binary.size() < 8) return {};
    const int count = ReadBigEndian<std::int16_t>(binary.data());
    const int weight = ReadBigEndian<std::int16_t>(binary.data() + 2);
    const auto sign = ReadBigEndian<std::uint16_t>(binary.data() + 4);
    const int scale = ReadBigEndian<std::int16_t>(binary.data() + 6);
    if (sign == 0xC000) return "NaN";
    if (sign == 0xD000) return "Infinity";
    if (sign == 0xF000) return "-Infinity";
    // Base-10000 digits, the first one weight places before the point.
    auto digit = [&](int d) -> int {
        if (d < 0 || d >= count || binary.size() < 8 + 2 * static_cast<std::size_t>(d) + 2) return 0;
        return ReadBigEndian<std::int16_t>(binary.data() + 8 + 2 * d);
    };
    auto appendGroup = [](std::string& out, int group) {
        char four[4] = {static_cast<char>('0' + group / 1000), static_cast<char>('0' + group / 100 % 10),
                        static_cast<char>('0' + group / 10 % 10), static_cast<char>('0' + group % 10)};
        out.append(four, 4);
    };
    std::string text = sign == 0x4000 ? "-" : "";
    if (weight < 0) {
        text += '0';
    } else {
        text += std::to_string(digit(0));
        for (int d = 1; d <= weight; ++d) appendGroup(text, digit(d));
    }
    if (scale > 0) {
        whole = false;
        text += '.';
        const std::size_t end = text.size() + static_cast<std::size_t>(scale);
        for (int d = weight + 1; text.size() < end; ++d) appendGroup(text, digit(d));
        text.resize(end);
    }
    return text;
}

std::int64_t BinaryInteger(Decoding decoding, const char* data) {
    switch (decoding) {
        case Decoding::Bool: return data[0] != 0 ? 1 : 0;
        case Decoding::Int2: return ReadBigEndian<std::int16_t>(data);
        case Decoding::Int4: return ReadBigEndian<std::int32_t>(data);
        case Decoding::Int8: return ReadBigEndian<std::int64_t>(data);
        case Decoding::Oid: return ReadBigEndian<std::uint32_t>(data);
        default: return 0;
    }
}

}  // namespace corvina::server
