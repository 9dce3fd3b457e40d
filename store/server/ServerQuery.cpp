#include "store/server/ServerQuery.h"

#include <libpq-fe.h>

#include <algorithm>
#include <bit>

#include "store/server/ServerErrors.h"

namespace corvina::server {
namespace {

// Values turned into text by the server go in pipelines of this many
// statements: a longer one could fill the socket both ways at once.
constexpr std::size_t kConversionsPerTrip = 100;

double Float8At(const char* data) { return std::bit_cast<double>(ReadBigEndian<std::uint64_t>(data)); }

float Float4At(const char* data) { return std::bit_cast<float>(ReadBigEndian<std::uint32_t>(data)); }

bool IsInteger(Decoding decoding) {
    return decoding == Decoding::Bool || decoding == Decoding::Int2 || decoding == Decoding::Int4 ||
           decoding == Decoding::Int8 || decoding == Decoding::Oid;
}

}  // namespace

ServerQuery::ServerQuery(ServerConnection& connection, std::string_view sql, StatementUse use)
    : BoundValues(0, std::string(sql)),
      home_(connection),
      on_(&connection),
      text_(WithServerMarkers(sql)),
      use_(use),
      // Unique on the home connection; the second connection holds one
      // cursor at a time, so it is unique there too.
      cursor_(connection.NewName("corvina_c")) {
    values_.resize(static_cast<std::size_t>(text_.ParameterCount));
}

ServerQuery::~ServerQuery() {
    Reset();
    // Prepared statements last as long as the connection: ours go with us.
    // An aborted transaction refuses even this; the statement then stays.
    if (prepared_.empty()) return;
    const PGTransactionStatusType status = PQtransactionStatus(home_.Handle());
    if (status != PQTRANS_IDLE && status != PQTRANS_INTRANS) return;
    for (const PreparedStatement& prepared : prepared_) {
        PQclear(PQexec(home_.Handle(), ("DEALLOCATE " + prepared.Name).c_str()));
    }
}

int ServerQuery::ParameterIndex(std::string_view name) const {
    auto found = std::find(text_.Names.begin(), text_.Names.end(), name);
    return found == text_.Names.end() ? 0 : static_cast<int>(found - text_.Names.begin()) + 1;
}

bool ServerQuery::Fits(const PreparedStatement& prepared) const {
    if (prepared.Types.size() != values_.size()) return false;
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const unsigned type = prepared.Types[i];
        switch (values_[i].Kind) {
            case BoundKind::Null: break;
            case BoundKind::Int64:
                if (type != oid::kInt8) return false;
                break;
            case BoundKind::Double:
                if (type != oid::kFloat8) return false;
                break;
            case BoundKind::Text:
                // Untyped, a text takes the type of its place; a name's bytes need bytea.
                if (parameters_.Types[i] != 0 && type != oid::kBytea) return false;
                break;
        }
    }
    return true;
}

int ServerQuery::AddStatement(std::vector<Command>& commands, bool declare) {
    FillParameters(values_, parameters_);
    std::string sql = declare ? "DECLARE " + cursor_ + " BINARY NO SCROLL CURSOR FOR " + text_.Sql : text_.Sql;
    // A query run for its effect only is not what its prepared DECLARE does.
    if (use_ != StatementUse::Repeated || (text_.ReadsRows && !declare)) {
        commands.push_back(Command{Command::Kind::Text, std::move(sql), {}, &parameters_, true});
        return -1;
    }
    auto found = std::find_if(prepared_.begin(), prepared_.end(), [&](const auto& p) { return Fits(p); });
    int described = -1;
    std::string name;
    if (found != prepared_.end()) {
        name = found->Name;
    } else {
        name = home_.NewName("corvina_s");
        commands.push_back(Command{Command::Kind::Prepare, std::move(sql), name, &parameters_, true});
        described = static_cast<int>(commands.size());
        commands.push_back(Command{Command::Kind::Describe, {}, name, nullptr, true});
    }
    commands.push_back(Command{Command::Kind::Prepared, {}, std::move(name), &parameters_, true});
    return described;
}

StoreError ServerQuery::RunAndKeep(std::vector<Command>& commands, int described, std::vector<Result>& results) {
    StoreError error = on_->Run(commands, results, datum_);
    const auto at = static_cast<std::size_t>(described);
    if (described >= 0 && at < results.size() && PQresultStatus(results[at].get()) == PGRES_COMMAND_OK) {
        PreparedStatement prepared{commands[at].Name, {}};
        for (int i = 0; i < PQnparams(results[at].get()); ++i) prepared.Types.push_back(PQparamtype(results[at].get(), i));
        prepared_.push_back(std::move(prepared));
    }
    return error;
}

std::string ServerQuery::FetchText() const {
    return "FETCH FORWARD " + std::to_string(kBatchRows) + " FROM " + cursor_;
}

StoreError ServerQuery::Start() {
    if (StoreError error = home_.SendBulkRows(); !error.Ok()) return error;
    const bool declare = text_.ReadsRows;
    // Prepared statements live on the connection that prepared them.
    on_ = declare && use_ != StatementUse::Repeated ? &home_.ForQuery(use_) : &home_;
    const bool begin = declare && !on_->InTransaction();
    std::vector<Command> commands;
    if (begin) commands.push_back(Command::Plain("BEGIN"));
    const int described = AddStatement(commands, declare);
    if (declare) commands.push_back(Command::Plain(FetchText()));
    if (begin) on_->BeginReads();
    std::vector<Result> results;
    if (StoreError error = RunAndKeep(commands, described, results); !error.Ok()) return error;
    running_ = true;
    if (declare) {
        on_->CursorOpened();
        cursorOpen_ = true;
        generation_ = on_->Generation();
    }
    return TakeBatch(std::move(results.back()));
}

StoreError ServerQuery::FetchMore() {
    // A batch read ahead was fetched while its transaction held: it reads on
    // even when the transaction has ended since.
    Result early = early_ ? std::move(early_) : on_->TakeAhead(this);
    if (early) {
        if (PQresultStatus(early.get()) == PGRES_TUPLES_OK) return TakeBatch(std::move(early));
        cursorOpen_ = false;
        return ServerError(on_->Handle(), early.get(), datum_);
    }
    if (generation_ != on_->Generation()) {
        cursorOpen_ = false;
        return MakeError(StoreCode::Other,
                         "The transaction that held the rows of this query ended before they were all read", datum_);
    }
    if (StoreError error = home_.SendBulkRows(); !error.Ok()) return error;
    const Command fetch = Command::Plain(FetchText());
    std::vector<Result> results;
    if (StoreError error = on_->Run(std::span(&fetch, 1), results, datum_); !error.Ok()) {
        cursorOpen_ = false;
        return error;
    }
    return TakeBatch(std::move(results.front()));
}

StoreError ServerQuery::CloseCursor() {
    if (!cursorOpen_) return {};
    cursorOpen_ = false;
    return on_->CloseCursor(cursor_, generation_);
}

StoreError ServerQuery::TakeBatch(Result batch) {
    batch_ = std::move(batch);
    rows_ = PQntuples(batch_.get());
    row_ = 0;
    const int columns = PQnfields(batch_.get());
    names_.resize(static_cast<std::size_t>(columns));
    decodings_.resize(names_.size());
    for (int column = 0; column < columns; ++column) {
        names_[static_cast<std::size_t>(column)] = PQfname(batch_.get(), column);
        decodings_[static_cast<std::size_t>(column)] = DecodingOf(PQftype(batch_.get(), column));
    }
    texts_.assign(names_.size(), std::string());
    textReady_.assign(names_.size(), 0);
    if (StoreError error = ConvertByServer(); !error.Ok()) return error;
    // A short batch is the last: the cursor has nothing more to give.
    if (cursorOpen_ && rows_ < kBatchRows) return CloseCursor();
    if (cursorOpen_ && generation_ == on_->Generation()) on_->FetchAhead(this, FetchText());
    return {};
}

StoreError ServerQuery::ConvertByServer() {
    byServer_.clear();
    const int columns = static_cast<int>(names_.size());
    std::vector<int> cells;  // row * columns + column
    for (int column = 0; column < columns; ++column) {
        if (decodings_[static_cast<std::size_t>(column)] != Decoding::ByServer) continue;
        for (int row = 0; row < rows_; ++row) {
            if (!PQgetisnull(batch_.get(), row, column)) cells.push_back(row * columns + column);
        }
    }
    if (cells.empty()) return {};
    byServer_.assign(static_cast<std::size_t>(rows_ * columns), std::string());
    for (std::size_t first = 0; first < cells.size(); first += kConversionsPerTrip) {
        const std::size_t count = std::min(kConversionsPerTrip, cells.size() - first);
        std::vector<ParameterArrays> parameters(count);
        std::vector<Command> commands;
        for (std::size_t k = 0; k < count; ++k) {
            const int row = cells[first + k] / columns, column = cells[first + k] % columns;
            // The value sent back as its own type, read as the server's text.
            parameters[k].Types = {PQftype(batch_.get(), column)};
            parameters[k].Values = {PQgetvalue(batch_.get(), row, column)};
            parameters[k].Lengths = {PQgetlength(batch_.get(), row, column)};
            parameters[k].Formats = {1};
            commands.push_back(Command{Command::Kind::Text, "SELECT $1", {}, &parameters[k], false});
        }
        std::vector<Result> results;
        if (StoreError error = on_->Run(commands, results, datum_); !error.Ok()) return error;
        for (std::size_t k = 0; k < count; ++k) {
            byServer_[static_cast<std::size_t>(cells[first + k])] = PQgetvalue(results[k].get(), 0, 0);
        }
    }
    return {};
}

StoreError ServerQuery::Step(bool& row) {
    row = false;
    if (!running_) {
        if (StoreError error = Start(); !error.Ok()) return error;
    } else if (row_ < rows_) {
        ++row_;
    }
    while (row_ >= rows_ && cursorOpen_) {
        if (StoreError error = FetchMore(); !error.Ok()) return error;
    }
    std::fill(textReady_.begin(), textReady_.end(), 0);
    row = row_ < rows_;
    return {};
}

StoreError ServerQuery::Run() {
    Reset();
    on_ = &home_;
    if (StoreError error = home_.SendBulkRows(); !error.Ok()) return error;
    std::vector<Command> commands;
    const int described = AddStatement(commands, false);
    std::vector<Result> results;
    return RunAndKeep(commands, described, results);
}

void ServerQuery::Reset() {
    // An answer still on its way is taken, so that the connection is free.
    on_->TakeAhead(this);
    early_.reset();
    CloseCursor();
    running_ = false;
    batch_.reset();
    rows_ = 0;
    row_ = -1;
    byServer_.clear();
}

const char* ServerQuery::Value(int column, int& length) const {
    if (!batch_ || row_ < 0 || row_ >= rows_ || column < 0 || column >= ColumnCount() ||
        PQgetisnull(batch_.get(), row_, column)) {
        return nullptr;
    }
    length = PQgetlength(batch_.get(), row_, column);
    return PQgetvalue(batch_.get(), row_, column);
}

std::string_view ServerQuery::ColumnName(int column) const {
    return column >= 0 && column < ColumnCount() ? std::string_view(names_[static_cast<std::size_t>(column)])
                                                 : std::string_view();
}

ColumnType ServerQuery::Type(int column) const {
    int length = 0;
    const char* value = Value(column, length);
    if (value == nullptr) return ColumnType::Null;
    const Decoding decoding = decodings_[static_cast<std::size_t>(column)];
    if (IsInteger(decoding) && decoding != Decoding::Oid) return ColumnType::Integer;
    if (decoding == Decoding::Float4 || decoding == Decoding::Float8) return ColumnType::Real;
    // A sum of whole numbers is numeric on the server: whole while it has no
    // fraction digits.
    if (decoding == Decoding::Numeric) {
        return length >= 8 && ReadBigEndian<std::int16_t>(value + 6) > 0 ? ColumnType::Real : ColumnType::Integer;
    }
    return ColumnType::Text;
}

std::int64_t ServerQuery::Int64(int column) const {
    int length = 0;
    const char* value = Value(column, length);
    if (value == nullptr) return 0;
    const Decoding decoding = decodings_[static_cast<std::size_t>(column)];
    if (IsInteger(decoding)) return BinaryInteger(decoding, value);
    if (decoding == Decoding::Float8) return SaturatingInt64(Float8At(value));
    return ParseInt64(Text(column));
}

double ServerQuery::Double(int column) const {
    int length = 0;
    const char* value = Value(column, length);
    if (value == nullptr) return 0;
    const Decoding decoding = decodings_[static_cast<std::size_t>(column)];
    if (IsInteger(decoding)) return static_cast<double>(BinaryInteger(decoding, value));
    if (decoding == Decoding::Float8) return Float8At(value);
    // A float4 reads as its text does, as the server's text gave it before.
    return ParseDouble(Text(column));
}

std::string_view ServerQuery::Text(int column) const {
    int length = 0;
    const char* value = Value(column, length);
    if (value == nullptr) return {};
    const auto index = static_cast<std::size_t>(column);
    const Decoding decoding = decodings_[index];
    if (decoding == Decoding::Bytes) return std::string_view(value, static_cast<std::size_t>(length));
    if (decoding == Decoding::ByServer) return byServer_[static_cast<std::size_t>(row_) * names_.size() + index];
    if (!textReady_[index]) {
        std::string& text = texts_[index];
        bool whole = true;
        switch (decoding) {
            case Decoding::Float4: text = FloatText(Float4At(value)); break;
            case Decoding::Float8: text = FloatText(Float8At(value)); break;
            case Decoding::Numeric:
                text = NumericText(std::string_view(value, static_cast<std::size_t>(length)), whole);
                break;
            default: text = std::to_string(BinaryInteger(decoding, value)); break;
        }
        textReady_[index] = 1;
    }
    return texts_[index];
}

}  // namespace corvina::server
