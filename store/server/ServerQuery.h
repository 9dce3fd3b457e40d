#pragma once
// One statement on the server.
//
// A query (SELECT, VALUES, TABLE, WITH) is read through a cursor of its own,
// fetched in binary batches of kBatchRows: memory holds one batch however
// many rows there are, and two queries can be stepped in turn on one
// connection. Its first step sends, in one round trip, the BEGIN of a read
// transaction when none is open, the DECLARE and the first FETCH; a batch
// shorter than kBatchRows is the last, and its cursor is closed as it
// arrives (so a small query costs two round trips). Any other statement runs
// as a whole, its rows (RETURNING) held at once.
//
// A scan (StatementUse::Scan) may be read on the connection's second
// connection (ServerConnection.h). While a cursor has more to give, its next
// batch is asked for as soon as a batch arrives.
//
// Repeated statements are prepared on the server once and run prepared. The
// types the server chose for the parameters decide whether the values bound
// later fit: a number fits its own type, a text any type (a name that is not
// UTF-8 only bytea), a null anything; values that do not fit prepare the
// statement again (in practice never: a place keeps its kind of value). A repeated query prepares its DECLARE,
// so that the parse is done once; the server plans the query at each DECLARE,
// with the values bound.
//
// Values read as BinaryValues.h says. A type outside its list is turned into
// the server's text by the server itself, one pipelined round trip for a
// batch's values of such types.

#include <cstdint>
#include <string>
#include <vector>

#include "store/engine/Engine.h"
#include "store/server/BinaryValues.h"
#include "store/server/BoundValues.h"
#include "store/server/ServerConnection.h"
#include "store/server/StatementText.h"

namespace corvina::server {

class ServerQuery final : public BoundValues<engine::Query> {
public:
    ServerQuery(ServerConnection& connection, std::string_view sql, StatementUse use);
    ~ServerQuery() override;
    ServerQuery(const ServerQuery&) = delete;
    ServerQuery& operator=(const ServerQuery&) = delete;

    int ParameterIndex(std::string_view name) const override;
    StoreError Step(bool& row) override;
    StoreError Run() override;
    void Reset() override;

    int ColumnCount() const override { return static_cast<int>(names_.size()); }
    std::string_view ColumnName(int column) const override;
    ColumnType Type(int column) const override;
    std::int64_t Int64(int column) const override;
    double Double(int column) const override;
    std::string_view Text(int column) const override;

    // The answer to this query's FETCH sent ahead, taken by the connection
    // for another statement.
    void KeepAhead(Result answer) { early_ = std::move(answer); }

    static constexpr int kBatchRows = 2000;

private:
    struct PreparedStatement {
        std::string Name;
        std::vector<unsigned> Types;  // as the server chose them
    };
    bool Fits(const PreparedStatement& prepared) const;
    // The statement sent as it should be this time (prepared, or as text),
    // preceded by the PREPARE it needs; the index of the description of a
    // new prepared statement in commands, or -1.
    int AddStatement(std::vector<Command>& commands, bool declare);
    // Runs commands for datum; a statement prepared among them is known from then on.
    StoreError RunAndKeep(std::vector<Command>& commands, int described, std::vector<Result>& results);
    StoreError Start();
    StoreError FetchMore();
    StoreError CloseCursor();
    StoreError TakeBatch(Result batch);
    std::string FetchText() const;
    StoreError ConvertByServer();
    // The value's bytes in the current row; null for a null or no such value.
    const char* Value(int column, int& length) const;

    ServerConnection& home_;
    ServerConnection* on_;  // where the statement runs: home_, or its second connection for a scan
    StatementText text_;
    StatementUse use_;
    std::string cursor_;
    std::vector<PreparedStatement> prepared_;
    ParameterArrays parameters_;

    bool running_ = false;     // Step has run the statement since the last Reset
    bool cursorOpen_ = false;  // and its cursor is open on the server
    std::uint64_t generation_ = 0;
    Result batch_;
    Result early_;  // the next batch, read ahead
    int rows_ = 0;
    int row_ = -1;
    std::vector<std::string> names_;
    std::vector<Decoding> decodings_;
    std::vector<std::string> byServer_;        // the server's text of ByServer values, by row and column
    mutable std::vector<std::string> texts_;   // numbers of the current row as text
    mutable std::vector<char> textReady_;
};

}  // namespace corvina::server
