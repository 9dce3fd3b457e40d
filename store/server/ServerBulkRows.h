#pragma once
// The rows of a run for one table, appended to a buffer in binary COPY form
// and sent in batches of about kBatchBytes: by the Add that fills a batch, by
// Flush, by any other statement of the connection and by its commit.
//
// A batch the server refuses is dropped whole (its transaction is aborted
// anyway). The failure names the row: the server's context says "COPY dir,
// line N", and row N's label column is read back out of the batch, as the
// error's datum; its reason is the server's message with "(row N of a batch
// of M rows)". Where the server names no row, the reason names the batch and
// the datum is the COPY statement.
//
// A value goes into its column as the column's type asks: an int8 takes a
// number, or a text read as one (a real saturating); a float8 a number or a
// text; a bytea or text column a text's bytes, or a number's decimal text.
// Rows still held when the writer is destroyed are dropped with it.
//
// Into a table whose row-level security binds the role, which COPY cannot
// pass, a batch is copied into a temporary table of the same fields and
// inserted from there in one statement, so that the policies check each row.

#include <string>
#include <vector>

#include "store/engine/Engine.h"
#include "store/server/BoundValues.h"

namespace corvina::server {

class ServerConnection;

class ServerBulkRows final : public BoundValues<engine::BulkRows> {
public:
    struct Field {
        std::string Name;
        unsigned Type = 0;     // the base type of the column
        std::string TypeName;  // for messages: "integer", "character varying(10)"
    };
    ServerBulkRows(ServerConnection& connection, std::string table, std::vector<Field> fields, int labelColumn,
                   bool staged = false);
    ~ServerBulkRows() override;
    ServerBulkRows(const ServerBulkRows&) = delete;
    ServerBulkRows& operator=(const ServerBulkRows&) = delete;

    // ":name" is the position of the column of that name, in any case.
    int ParameterIndex(std::string_view name) const override;
    StoreError Add() override;
    StoreError Flush() override;
    void Discard() override;

    static constexpr std::size_t kBatchBytes = 4u << 20;

private:
    StoreError Send();
    // The staged batch into the table, through its policies.
    StoreError Insert();
    // The label column of the row with that number (from 1) in the batch.
    std::string LabelOfRow(int row) const;
    std::string CurrentLabel() const;

    ServerConnection& connection_;
    std::string table_;
    std::string copy_;
    // With a staged table: the statements that make the temporary table,
    // move its rows into ours, and empty it.
    std::vector<std::string> stage_, unstage_;
    std::vector<Field> fields_;
    int labelColumn_;
    std::string batch_;
    int rows_ = 0;
};

}  // namespace corvina::server
