#include "store/ServerConnection.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <limits>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace corvina {
namespace {

// Type numbers of the server's catalogue that the results carry.
constexpr Oid kBoolOid = 16, kByteaOid = 17, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
              kFloat8Oid = 701, kNumericOid = 1700;

bool StartsWithWord(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[i])) != word[i]) return false;
    }
    return text.size() == word.size() || !(std::isalnum(static_cast<unsigned char>(text[word.size()])) ||
                                           text[word.size()] == '_');
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    return text;
}

bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

template <typename T>
void AppendBigEndian(std::string& out, T value) {
    auto bits = static_cast<std::make_unsigned_t<T>>(value);
    for (int shift = static_cast<int>(sizeof(T)) * 8 - 8; shift >= 0; shift -= 8) {
        out += static_cast<char>((bits >> shift) & 0xff);
    }
}

void AppendInt64(std::string& out, std::int64_t value) {
    AppendBigEndian<std::int32_t>(out, 8);
    AppendBigEndian<std::int64_t>(out, value);
}

void AppendDouble(std::string& out, double value) {
    AppendBigEndian<std::int32_t>(out, 8);
    AppendBigEndian<std::int64_t>(out, std::bit_cast<std::int64_t>(value));
}

std::int64_t ParseInt64(std::string_view text) {
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec == std::errc{} && end == text.data() + text.size()) return value;
    // A real read as an integer saturates at the 64-bit limits, as the file
    // engine's does; a cast of a value beyond them would be undefined.
    double real = 0;
    std::from_chars(text.data(), text.data() + text.size(), real);
    if (!(real > -9223372036854775808.0)) return real != real ? 0 : std::numeric_limits<std::int64_t>::min();
    if (real >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(real);
}

double ParseDouble(std::string_view text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool IsUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        std::uint32_t code = length == 1 ? c : c & (0x7f >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        // Overlong forms, surrogates and beyond U+10FFFF are not UTF-8 either; nor is a zero byte for the server.
        static constexpr std::uint32_t kLeast[] = {0, 0x1, 0x80, 0x800, 0x10000};
        if (code < kLeast[length] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff) return false;
        i += length;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// The connect_timeout the location sets, in seconds; 0 for none (wait as
// long as the network does).
int ConnectTimeout(pg_conn* connection) {
    int seconds = 0;
    PQconninfoOption* options = PQconninfo(connection);
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; ++option) {
        if (std::strcmp(option->keyword, "connect_timeout") == 0 && option->val != nullptr) {
            seconds = std::atoi(option->val);
        }
    }
    PQconninfoFree(options);
    return seconds;
}

// Drives a connection begun with PQconnectStartParams to its end, as
// PQconnectdbParams would.
void FinishConnecting(pg_conn* connection) {
    const int timeout = ConnectTimeout(connection);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
    PostgresPollingStatusType status = PGRES_POLLING_WRITING;
    while (status == PGRES_POLLING_READING || status == PGRES_POLLING_WRITING) {
        pollfd socket{PQsocket(connection), static_cast<short>(status == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (socket.fd < 0) return;
        int wait = -1;
        if (timeout > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            wait = static_cast<int>(left.count());
        }
        const int ready = ::poll(&socket, 1, wait);
        if (ready < 0 && errno != EINTR) return;
        if (ready == 0) return;
        if (ready > 0) status = PQconnectPoll(connection);
    }
}

// The connection parameters of a keyword string, or null when it is not one.
PQconninfoOption* ParseKeywords(std::string_view location) {
    char* message = nullptr;
    PQconninfoOption* options = PQconninfoParse(std::string(location).c_str(), &message);
    PQfreemem(message);
    return options;
}

}  // namespace

bool IsServerLocation(std::string_view location) {
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) return true;
    // A keyword string names at least one parameter, and a path that merely
    // holds an "=" does not parse as one.
    if (location.find('=') == std::string_view::npos || location.starts_with('/') || location.starts_with('.')) {
        return false;
    }
    PQconninfoOption* options = ParseKeywords(location);
    PQconninfoFree(options);
    return options != nullptr;
}

std::string WithoutPassword(std::string_view location) {
    if (location.starts_with("postgresql://") || location.starts_with("postgres://")) {
        std::string uri(location);
        // user:password@ in the authority part.
        const std::size_t start = uri.find("://") + 3;
        const std::size_t end = std::min(uri.find_first_of("/?", start), uri.size());
        const std::size_t at = uri.rfind('@', end);
        if (at != std::string::npos && at >= start) {
            const std::size_t colon = uri.find(':', start);
            if (colon != std::string::npos && colon < at) uri.erase(colon, at - colon);
        }
        // password=... among the query parameters.
        for (std::size_t query = uri.find('?'); query != std::string::npos;) {
            const std::size_t name = query + 1;
            const std::size_t next = uri.find('&', name);
            if (uri.compare(name, 9, "password=") == 0) {
                uri.erase(name, next == std::string::npos ? std::string::npos : next + 1 - name);
                if (uri.back() == '?' || uri.back() == '&') uri.pop_back();
                query = next == std::string::npos ? std::string::npos : query;
                continue;
            }
            query = next;
        }
        return uri;
    }
    PQconninfoOption* options = ParseKeywords(location);
    if (options == nullptr) return std::string(location);
    PQconninfoFree(options);
    // The keywords as written, in their order, less the password: "key = value"
    // or "key='quoted \\' value'", apart by blanks.
    std::string text;
    std::size_t i = 0;
    auto blank = [&]() { return i < location.size() && std::isspace(static_cast<unsigned char>(location[i])); };
    while (i < location.size()) {
        while (blank()) ++i;
        if (i >= location.size()) break;
        const std::size_t start = i;
        while (i < location.size() && location[i] != '=' && !blank()) ++i;
        const std::string_view keyword = location.substr(start, i - start);
        while (blank()) ++i;
        if (i < location.size() && location[i] == '=') ++i;
        while (blank()) ++i;
        const bool quoted = i < location.size() && location[i] == '\'';
        if (quoted) ++i;
        while (i < location.size() && (quoted ? location[i] != '\'' : !blank())) {
            if (location[i] == '\\') ++i;
            ++i;
        }
        if (quoted && i < location.size()) ++i;
        if (keyword == "password") continue;
        if (!text.empty()) text += ' ';
        text += location.substr(start, i - start);
    }
    return text;
}

ServerStatementText TranslateForServer(std::string_view sql) {
    ServerStatementText out;
    const std::string_view head = TrimLeft(sql);
    if (StartsWithWord(head, "PRAGMA")) {
        out.Skip = true;
        return out;
    }
    const bool creatingTable = StartsWithWord(head, "CREATE") && StartsWithWord(TrimLeft(head.substr(6)), "TABLE");
    auto parameter = [&](int index, std::string name) {
        out.ParameterCount = std::max(out.ParameterCount, index);
        if (static_cast<int>(out.Names.size()) < index) out.Names.resize(static_cast<std::size_t>(index));
        if (!name.empty()) out.Names[static_cast<std::size_t>(index - 1)] = std::move(name);
        out.Sql += '$';
        out.Sql += std::to_string(index);
    };
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            // A literal or a quoted name, copied as it stands.
            std::size_t end = i + 1;
            while (end < sql.size() && sql[end] != c) ++end;
            out.Sql.append(sql.substr(i, end + 1 - i));
            i = end + 1;
        } else if (c == '?') {
            std::size_t end = i + 1;
            while (end < sql.size() && std::isdigit(static_cast<unsigned char>(sql[end]))) ++end;
            int index = out.ParameterCount + 1;
            if (end > i + 1) std::from_chars(sql.data() + i + 1, sql.data() + end, index);
            parameter(index, "");
            i = end;
        } else if (c == ':' && i + 1 < sql.size() && std::isalpha(static_cast<unsigned char>(sql[i + 1])) &&
                   (i == 0 || sql[i - 1] != ':')) {
            std::size_t end = i + 1;
            while (end < sql.size() && IsWordChar(sql[end])) ++end;
            std::string name(sql.substr(i, end - i));
            auto known = std::find(out.Names.begin(), out.Names.end(), name);
            parameter(known != out.Names.end() ? static_cast<int>(known - out.Names.begin()) + 1
                                               : out.ParameterCount + 1,
                      name);
            i = end;
        } else if (IsWordChar(c) && (i == 0 || !IsWordChar(sql[i - 1]))) {
            std::size_t end = i;
            while (end < sql.size() && IsWordChar(sql[end])) ++end;
            const std::string_view word = sql.substr(i, end - i);
            const std::string_view rest = TrimLeft(sql.substr(end));
            auto dropPair = [&](std::string_view second) {
                if (!StartsWithWord(rest, second)) return false;
                i = sql.size() - rest.size() + second.size();
                return true;
            };
            // Hints and collations of the embedded engine: a server database
            // holds the snapshots of this program, whose names compare as bytes.
            if ((StartsWithWord(word, "COLLATE") && dropPair("NOCASE")) ||
                (StartsWithWord(word, "NOT") && dropPair("INDEXED")) ||
                (creatingTable && StartsWithWord(word, "WITHOUT") && dropPair("ROWID"))) {
                continue;
            }
            if (creatingTable && StartsWithWord(word, "INTEGER")) {
                out.Sql += "BIGINT";
            } else if (creatingTable && StartsWithWord(word, "REAL")) {
                out.Sql += "DOUBLE PRECISION";
            } else if (creatingTable && StartsWithWord(word, "TEXT") && !StartsWithWord(rest, "COLLATE")) {
                out.Sql += "TEXT COLLATE \"C\"";
            } else {
                out.Sql += word;
            }
            i = end;
        } else {
            out.Sql += c;
            ++i;
        }
    }
    return out;
}

namespace {

// The client library indents its second lines with a tab ("...failed: No
// such file or directory\n\tIs the server running locally..."), and a
// message box lays tabs out by its own tab stops: the text becomes plain
// lines, a tab at a line's start dropped, any other one a space.
std::string AsPlainLines(std::string_view text) {
    std::string lines;
    lines.reserve(text.size());
    bool lineStart = true;
    for (const char c : text) {
        if (c == '\t') {
            if (!lineStart) lines += ' ';
            continue;
        }
        lines += c;
        lineStart = c == '\n';
    }
    return lines;
}

}  // namespace

StoreError ServerError(pg_conn* connection, pg_result* result, std::string datum) {
    std::string message = AsPlainLines(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(connection));
    while (!message.empty() && std::isspace(static_cast<unsigned char>(message.back()))) message.pop_back();
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    int code = SQLITE_ERROR;
    if (state != nullptr) {
        const std::string_view sqlstate(state);
        if (sqlstate == "55P03" || sqlstate == "40P01" || sqlstate == "40001") code = SQLITE_BUSY;
        if (sqlstate == "42P01") code = kErrTableNotFound;
        message += " (SQLSTATE " + std::string(sqlstate) + ")";
    } else if (result == nullptr || PQstatus(connection) != CONNECTION_OK) {
        code = SQLITE_CANTOPEN;
    }
    if (message.empty()) message = "The server did not answer";
    return StoreError{code, std::move(message), std::move(datum)};
}

ServerConnection::~ServerConnection() { PQfinish(connection_); }

void ServerConnection::OnNotice(void* self, const char* message) {
    auto& connection = *static_cast<ServerConnection*>(self);
    if (!connection.notices_ || connection.noticeCount_ > kMaxNotices) return;
    // A trigger that warns once a row would bury everything else.
    if (++connection.noticeCount_ > kMaxNotices) {
        connection.notices_("further notices of the server are not shown");
        return;
    }
    std::string_view text(message);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    connection.notices_(text);
}

StoreError ServerConnection::Connect(const std::string& location, NoticeHandler notices) {
    const char* keywords[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {location.c_str(), "corvina", nullptr};
    notices_ = std::move(notices);
    // Started and finished in two steps, so that our notice processor is in
    // place before the server says anything: it may warn already while the
    // session starts (of its database's collation, say).
    connection_ = PQconnectStartParams(keywords, values, 1);
    if (connection_ != nullptr) {
        PQsetNoticeProcessor(connection_, &ServerConnection::OnNotice, this);
        FinishConnecting(connection_);
    }
    if (PQstatus(connection_) != CONNECTION_OK) {
        StoreError error = ServerError(connection_, nullptr, WithoutPassword(location));
        error.Code = SQLITE_CANTOPEN;
        return error;
    }
    // Quiet: notices (such as "table exists, skipping") are nobody's business.
    return Execute("SET client_min_messages = warning");
}

StoreError ServerConnection::Execute(std::string_view sql) {
    if (StoreError error = Flush(); !error.Ok()) return error;
    ServerStatementText text = TranslateForServer(sql);
    if (text.Skip) return {};
    pg_result* result = PQexec(connection_, text.Sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    StoreError error;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) error = ServerError(connection_, result, text.Sql);
    PQclear(result);
    return error;
}

StoreError ServerConnection::Commit() {
    if (StoreError error = Flush(); !error.Ok()) return error;
    pg_result* result = PQexec(connection_, "COMMIT");
    StoreError error;
    if (PQresultStatus(result) != PGRES_COMMAND_OK) {
        error = ServerError(connection_, result, "COMMIT");
    } else if (std::strcmp(PQcmdStatus(result), "COMMIT") != 0) {
        error = StoreError{SQLITE_ERROR, "The server rolled the transaction back", "COMMIT"};
    }
    PQclear(result);
    return error;
}

std::string& ServerConnection::Buffer(const std::string& table, const std::string& columns) {
    Batch& batch = batches_[table];
    if (batch.Rows.empty()) batch.Columns = columns;
    return batch.Rows;
}

StoreError ServerConnection::Send(const std::string& table, Batch& batch) {
    const std::string sql = "COPY " + table + " (" + batch.Columns + ") FROM STDIN (FORMAT binary)";
    pg_result* result = PQexec(connection_, sql.c_str());
    if (PQresultStatus(result) != PGRES_COPY_IN) {
        StoreError error = ServerError(connection_, result, sql);
        PQclear(result);
        return error;
    }
    PQclear(result);
    // The binary format's signature, flags and header extension; the rows;
    // then a field count of -1 that ends the data.
    static constexpr char kHeader[] = "PGCOPY\n\377\r\n\0\0\0\0\0\0\0\0\0";
    std::string trailer;
    AppendBigEndian<std::int16_t>(trailer, -1);
    bool sent = PQputCopyData(connection_, kHeader, sizeof kHeader - 1) == 1 &&
                PQputCopyData(connection_, batch.Rows.data(), static_cast<int>(batch.Rows.size())) == 1 &&
                PQputCopyData(connection_, trailer.data(), static_cast<int>(trailer.size())) == 1;
    PQputCopyEnd(connection_, sent ? nullptr : "the rows could not be sent");
    StoreError error;
    while ((result = PQgetResult(connection_)) != nullptr) {
        if (error.Ok() && PQresultStatus(result) != PGRES_COMMAND_OK) error = ServerError(connection_, result, sql);
        PQclear(result);
    }
    batch.Rows.clear();
    return error;
}

StoreError ServerConnection::Flush() {
    StoreError first;
    for (auto& [table, batch] : batches_) {
        if (batch.Rows.empty()) continue;
        if (first.Ok()) {
            first = Send(table, batch);
        } else {
            batch.Rows.clear();
        }
    }
    buffered_ = 0;
    return first;
}

void ServerConnection::Discard() {
    for (auto& entry : batches_) entry.second.Rows.clear();
    buffered_ = 0;
}

StoreError ServerConnection::ColumnTypes(const std::string& table, std::map<std::string, std::string>& types) {
    types.clear();
    const char* sql =
        "SELECT lower(column_name), data_type FROM information_schema.columns "
        "WHERE table_schema = current_schema() AND lower(table_name) = lower($1)";
    const char* values[] = {table.c_str()};
    pg_result* result = PQexecParams(connection_, sql, 1, nullptr, values, nullptr, nullptr, 0);
    StoreError error;
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        error = ServerError(connection_, result, sql);
    } else {
        for (int row = 0; row < PQntuples(result); ++row) types[PQgetvalue(result, row, 0)] = PQgetvalue(result, row, 1);
    }
    PQclear(result);
    return error;
}

ServerStatement::ServerStatement(ServerConnection& connection, std::string_view sql, bool repeated)
    : connection_(connection), text_(TranslateForServer(sql)), original_(sql) {
    values_.resize(static_cast<std::size_t>(text_.ParameterCount));
    kinds_.assign(values_.size(), kNull);
    // "INSERT INTO t (a, b) VALUES (?, ?)", prepared for the rows of a run.
    const std::string_view head = TrimLeft(sql);
    if (repeated && StartsWithWord(head, "INSERT")) {
        const std::size_t open = head.find('('), close = head.find(')');
        std::string_view table = head.substr(0, open);
        table.remove_prefix(table.find("INTO") + 4);
        table = TrimLeft(table);
        while (!table.empty() && std::isspace(static_cast<unsigned char>(table.back()))) table.remove_suffix(1);
        table_ = std::string(table);
        columnList_ = std::string(head.substr(open + 1, close - open - 1));
    }
}

ServerStatement::~ServerStatement() { PQclear(result_); }

StoreError ServerStatement::Open() {
    if (table_.empty()) return {};
    std::map<std::string, std::string> types;
    if (StoreError error = connection_.ColumnTypes(table_, types); !error.Ok()) return error;
    std::string_view list = columnList_;
    while (!list.empty()) {
        const std::size_t comma = std::min(list.find(','), list.size());
        std::string name(TrimLeft(list.substr(0, comma)));
        while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        auto type = types.find(name);
        if (type == types.end()) {
            return StoreError{kErrTableNotFound, "The table '" + table_ + "' has no field '" + name + "'.", table_};
        }
        columnTypes_.push_back(type->second);
        list.remove_prefix(std::min(comma + 1, list.size()));
    }
    return {};
}

int ServerStatement::ParameterIndex(std::string_view name) const {
    auto found = std::find(text_.Names.begin(), text_.Names.end(), name);
    return found == text_.Names.end() ? 0 : static_cast<int>(found - text_.Names.begin()) + 1;
}

StoreError ServerStatement::Bind(int position, std::string_view value, int kind) {
    if (position < 1 || position > static_cast<int>(values_.size())) {
        return StoreError{SQLITE_RANGE, "column index out of range", original_};
    }
    values_[static_cast<std::size_t>(position - 1)].assign(value);
    kinds_[static_cast<std::size_t>(position - 1)] = kind;
    return {};
}

StoreError ServerStatement::Execute() {
    if (StoreError error = connection_.Flush(); !error.Ok()) return error;
    const std::size_t count = values_.size();
    std::vector<Oid> types(count, 0);
    std::vector<const char*> values(count, nullptr);
    std::vector<int> lengths(count, 0), formats(count, 1);
    std::vector<std::string> numbers(count);
    for (std::size_t i = 0; i < count; ++i) {
        switch (kinds_[i]) {
            case kNull: continue;
            case kText:
                // A text that is not UTF-8 (a name's bytes) goes as bytea, which
                // the server compares with our bytea names and joins to a
                // literal as bytes; any other takes the type its place asks for.
                if (!IsUtf8(values_[i])) types[i] = kByteaOid;
                values[i] = values_[i].data();
                lengths[i] = static_cast<int>(values_[i].size());
                continue;
            case kInt64: types[i] = kInt8Oid; break;
            case kDouble: types[i] = kFloat8Oid; break;
        }
        // Numbers go as the server's binary values, 8 bytes in network order;
        // the bound value holds the number's own 8 bytes.
        std::int64_t bits = 0;
        std::memcpy(&bits, values_[i].data(), 8);
        AppendBigEndian<std::int64_t>(numbers[i], bits);
        values[i] = numbers[i].data();
        lengths[i] = 8;
    }
    PQclear(result_);
    result_ = PQexecParams(connection_.Handle(), text_.Sql.c_str(), static_cast<int>(count), types.data(),
                           values.data(), lengths.data(), formats.data(), 0);
    const ExecStatusType status = PQresultStatus(result_);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        StoreError error = ServerError(connection_.Handle(), result_, original_);
        PQclear(result_);
        result_ = nullptr;
        return error;
    }
    row_ = -1;
    return {};
}

StoreError ServerStatement::AppendRow() {
    std::string& out = connection_.Buffer(table_, columnList_);
    const std::size_t before = out.size();
    AppendBigEndian<std::int16_t>(out, static_cast<std::int16_t>(columnTypes_.size()));
    for (std::size_t i = 0; i < columnTypes_.size(); ++i) {
        const std::string& type = columnTypes_[i];
        const int kind = i < kinds_.size() ? kinds_[i] : kNull;
        const std::string& value = values_[i];
        if (kind == kNull) {
            AppendBigEndian<std::int32_t>(out, -1);
            continue;
        }
        std::int64_t whole = 0;
        double real = 0;
        if (kind == kInt64) {
            std::memcpy(&whole, value.data(), 8);
            real = static_cast<double>(whole);
        } else if (kind == kDouble) {
            std::memcpy(&real, value.data(), 8);
            whole = static_cast<std::int64_t>(real);
        } else {
            whole = ParseInt64(value);
            real = ParseDouble(value);
        }
        if (type == "bigint") {
            AppendInt64(out, whole);
        } else if (type == "double precision") {
            AppendDouble(out, real);
        } else if (type == "bytea" || type == "text") {
            AppendBigEndian<std::int32_t>(out, static_cast<std::int32_t>(value.size()));
            out += value;
        } else {
            out.resize(before);
            return StoreError{SQLITE_MISMATCH, "A field of type " + type + " cannot take a row of ours", table_};
        }
    }
    connection_.Added(out.size() - before);
    return connection_.BufferFull() ? connection_.Flush() : StoreError{};
}

StoreError ServerStatement::Step(bool& row) {
    row = false;
    if (result_ == nullptr) {
        if (StoreError error = Execute(); !error.Ok()) return error;
    }
    ++row_;
    decoded_.assign(static_cast<std::size_t>(PQnfields(result_)), std::string());
    row = row_ < PQntuples(result_);
    return {};
}

StoreError ServerStatement::Run() {
    StoreError error = table_.empty() ? Execute() : AppendRow();
    Reset();
    return error;
}

void ServerStatement::Reset() {
    PQclear(result_);
    result_ = nullptr;
    row_ = -1;
}

int ServerStatement::ColumnCount() const { return result_ != nullptr ? PQnfields(result_) : 0; }

std::string_view ServerStatement::ColumnName(int column) const {
    const char* name = result_ != nullptr ? PQfname(result_, column) : nullptr;
    return name != nullptr ? std::string_view(name) : std::string_view();
}

ColumnType ServerStatement::Type(int column) const {
    if (result_ == nullptr || row_ < 0 || row_ >= PQntuples(result_) || column >= PQnfields(result_) ||
        PQgetisnull(result_, row_, column)) {
        return ColumnType::Null;
    }
    switch (PQftype(result_, column)) {
        case kBoolOid:
        case kInt2Oid:
        case kInt4Oid:
        case kInt8Oid: return ColumnType::Integer;
        case kFloat4Oid:
        case kFloat8Oid: return ColumnType::Real;
        case kNumericOid: {
            // A sum of whole numbers is numeric on the server: whole unless it has a point.
            const std::string_view text = Text(column);
            return text.find_first_of(".eE") == std::string_view::npos ? ColumnType::Integer : ColumnType::Real;
        }
        default: return ColumnType::Text;
    }
}

std::int64_t ServerStatement::Int64(int column) const {
    if (Type(column) == ColumnType::Null) return 0;
    return ParseInt64(Text(column));
}

double ServerStatement::Double(int column) const {
    if (Type(column) == ColumnType::Null) return 0;
    return ParseDouble(Text(column));
}

std::string_view ServerStatement::Text(int column) const {
    if (result_ == nullptr || row_ < 0 || row_ >= PQntuples(result_) || column < 0 || column >= PQnfields(result_) ||
        PQgetisnull(result_, row_, column)) {
        return {};
    }
    const char* value = PQgetvalue(result_, row_, column);
    const auto length = static_cast<std::size_t>(PQgetlength(result_, row_, column));
    switch (PQftype(result_, column)) {
        case kBoolOid: return value[0] == 't' ? "1" : "0";
        case kByteaOid: {
            // "\x" and two hex digits a byte.
            std::string& bytes = decoded_[static_cast<std::size_t>(column)];
            if (bytes.empty() && length > 2) {
                bytes.resize((length - 2) / 2);
                for (std::size_t i = 0; i < bytes.size(); ++i) {
                    bytes[i] = static_cast<char>(HexValue(value[2 + 2 * i]) * 16 + HexValue(value[3 + 2 * i]));
                }
            }
            return bytes;
        }
        default: return std::string_view(value, length);
    }
}

}  // namespace corvina
