#include "store/server/StatementText.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace corvina::server {
namespace {

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Where the literal, quoted name or comment starting at i ends (one past it),
// or i when none starts there.
std::size_t SkipQuoted(std::string_view sql, std::size_t i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
        // A doubled quote inside reads as two pieces back to back: the same text.
        const std::size_t end = sql.find(c, i + 1);
        return end == std::string_view::npos ? sql.size() : end + 1;
    }
    if (sql.substr(i, 2) == "--") {
        const std::size_t end = sql.find('\n', i);
        return end == std::string_view::npos ? sql.size() : end + 1;
    }
    if (sql.substr(i, 2) == "/*") {
        // The server's block comments nest.
        int depth = 0;
        std::size_t k = i;
        while (k < sql.size()) {
            if (sql.substr(k, 2) == "/*") {
                ++depth;
                k += 2;
            } else if (sql.substr(k, 2) == "*/") {
                k += 2;
                if (--depth == 0) return k;
            } else {
                ++k;
            }
        }
        return sql.size();
    }
    return i;
}

bool StartsQuery(std::string_view sql) {
    // Past blanks, opening brackets and comments to the first word.
    std::size_t i = 0;
    while (i < sql.size()) {
        if (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(') {
            ++i;
        } else if (sql.substr(i, 2) == "--" || sql.substr(i, 2) == "/*") {
            i = SkipQuoted(sql, i);
        } else {
            break;
        }
    }
    std::size_t end = i;
    while (end < sql.size() && IsWordChar(sql[end])) ++end;
    std::string word(sql.substr(i, end - i));
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::toupper(c); });
    return word == "SELECT" || word == "WITH" || word == "VALUES" || word == "TABLE";
}

}  // namespace

StatementText WithServerMarkers(std::string_view sql) {
    StatementText out;
    out.ReadsRows = StartsQuery(sql);
    out.Sql.reserve(sql.size() + 8);
    auto marker = [&](int index, std::string name) {
        out.ParameterCount = std::max(out.ParameterCount, index);
        if (static_cast<int>(out.Names.size()) < index) out.Names.resize(static_cast<std::size_t>(index));
        if (!name.empty()) out.Names[static_cast<std::size_t>(index - 1)] = std::move(name);
        out.Sql += '$';
        out.Sql += std::to_string(index);
    };
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (const std::size_t skipped = SkipQuoted(sql, i); skipped != i) {
            out.Sql.append(sql.substr(i, skipped - i));
            i = skipped;
        } else if (c == '?') {
            std::size_t end = i + 1;
            while (end < sql.size() && std::isdigit(static_cast<unsigned char>(sql[end]))) ++end;
            int index = out.ParameterCount + 1;
            if (end > i + 1) std::from_chars(sql.data() + i + 1, sql.data() + end, index);
            marker(index, "");
            i = end;
        } else if (c == ':' && i + 1 < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i + 1])) &&
                   (i == 0 || sql[i - 1] != ':')) {
            std::size_t end = i + 1;
            while (end < sql.size() && IsWordChar(sql[end])) ++end;
            std::string name(sql.substr(i, end - i));
            auto known = std::find(out.Names.begin(), out.Names.end(), name);
            marker(known != out.Names.end() ? static_cast<int>(known - out.Names.begin()) + 1 : out.ParameterCount + 1,
                   std::move(name));
            i = end;
        } else {
            out.Sql += c;
            ++i;
        }
    }
    return out;
}

}  // namespace corvina::server
