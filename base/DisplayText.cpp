#include "base/DisplayText.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include <fmt/format.h>

namespace corvina {
namespace {

struct CodePointRange {
    char32_t First;
    char32_t Last;
};

#include "base/UnicodeRanges.inc"

bool InRanges(std::span<const CodePointRange> ranges, char32_t c) {
    auto after = std::upper_bound(ranges.begin(), ranges.end(), c,
                                  [](char32_t value, const CodePointRange& range) { return value < range.First; });
    return after != ranges.begin() && c <= std::prev(after)->Last;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the well-formed UTF-8 sequence at the start of text, or 0 when
// its first byte does not start one. Overlong forms, surrogates and values
// above U+10FFFF are not well-formed: their second byte is out of range.
std::size_t SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (!IsContinuation(at(i))) return 0;
    }
    return length;
}

// The code point of a well-formed sequence of the given length.
char32_t Decode(std::string_view text, std::size_t length) {
    static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t c = static_cast<unsigned char>(text[0]) & kLeadBits[length];
    for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    return c;
}

bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool ShowsAsEscape(char32_t c) { return c == 0x2028 || c == 0x2029 || InRanges(kFormatRanges, c); }

void AppendHex(std::string& out, unsigned char byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

}  // namespace

std::string EscapeForDisplay(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte >= 0x80 ? SequenceLength(text.substr(i)) : 1;
        const char32_t c = length == 0 ? 0 : Decode(text.substr(i), length);
        if (byte == '\\') {
            out += "\\\\";
        } else if (length == 0) {
            // A byte that starts no valid sequence: a truncated sequence
            // shows each of its bytes, and the next valid character after
            // it still passes.
            AppendHex(out, byte);
        } else if (IsControl(c)) {
            // C0, DEL and C1 (U+0080..U+009F, shown as its two bytes).
            for (std::size_t k = 0; k < length; ++k) AppendHex(out, static_cast<unsigned char>(text[i + k]));
        } else if (ShowsAsEscape(c)) {
            out += fmt::format("\\u{{{:04X}}}", static_cast<std::uint32_t>(c));
        } else {
            out.append(text, i, length);
        }
        i += std::max<std::size_t>(length, 1);
    }
    return out;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte >= 0x80 ? SequenceLength(text.substr(i)) : 1;
        if (length == 0) {
            ++width;
            ++i;
            continue;
        }
        const char32_t c = Decode(text.substr(i), length);
        if (IsControl(c) || InRanges(kZeroWidthRanges, c)) {
            // takes no column
        } else if (InRanges(kWideRanges, c)) {
            width += 2;
        } else {
            ++width;
        }
        i += length;
    }
    return width;
}

}  // namespace corvina
