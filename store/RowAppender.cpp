#include "store/RowAppender.h"

namespace corvina {

StoreError RowAppender::Open(engine::Connection& database, std::string_view table,
                             std::span<const std::string_view> fields, int labelField) {
    rows_.reset();
    return database.OpenBulkRows(table, fields, labelField, rows_);
}

}  // namespace corvina
