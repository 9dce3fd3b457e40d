#pragma once
// The rows of a run into one of our tables (Control, Dir, files), bound in
// field order. The engine may hold them and send them in batches; a failure
// names the row or the batch that failed.
//
// Error policy: as every function of store/ (StoreError.h).

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "store/engine/Engine.h"

namespace corvina {

// The rows of a run into one of our tables, bound in field order: the engine
// may hold them and send them in batches, and a failure names the row or the
// batch that failed. Opened once per open database.
class RowAppender {
public:
    StoreError Open(engine::Connection& database, std::string_view table, std::span<const std::string_view> fields,
                    int labelField);
    bool IsPrepared() const { return rows_ != nullptr; }
    void Finalize() { rows_.reset(); }

    StoreError BindText(int position, std::string_view text) { return rows_->BindText(position, text, true); }
    // Not copied: text must stay as it is until the row has been added.
    StoreError BindTextView(int position, std::string_view text) { return rows_->BindText(position, text, false); }
    StoreError BindInt64(int position, std::int64_t value) { return rows_->BindInt64(position, value); }
    StoreError BindDouble(int position, double value) { return rows_->BindDouble(position, value); }
    StoreError BindNull(int position) { return rows_->BindNull(position); }
    // Adds the bound row.
    StoreError Run() { return rows_->Add(); }
    StoreError Flush() { return rows_ ? rows_->Flush() : StoreError{}; }
    void Discard() {
        if (rows_) rows_->Discard();
    }

private:
    std::unique_ptr<engine::BulkRows> rows_;
};

}  // namespace corvina
