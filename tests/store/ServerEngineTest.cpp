// The server engine against the throwaway server the test run was started
// beside (tests/server/with_server.sh), each test in a schema of its own:
// values both ways, the cursors, the bulk rows, the writers' lock, the
// errors, and the memory a long scan takes.

#include <libpq-fe.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "store/server/ServerEngine.h"
#include "tests/support/ServerSchema.h"

namespace corvina {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every row of a query as the engine's texts.
StoreError Read(engine::Query& query, Rows& rows) {
    rows.clear();
    for (bool row = true;;) {
        if (StoreError error = query.Step(row); !error.Ok() || !row) return error;
        auto& texts = rows.emplace_back();
        for (int c = 0; c < query.ColumnCount(); ++c) texts.emplace_back(query.Text(c));
    }
}

std::string AllBytes() {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

// SQLite's NOCASE: ASCII A-Z folded, then the bytes compared.
std::string Folded(std::string name) {
    for (char& c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return name;
}

bool BytesLess(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

class ServerEngine : public ::testing::Test {
protected:
    void SetUp() override {
        if (test::TestServer().empty()) GTEST_SKIP() << "runs beside a database server (tests/server/with_server.sh)";
        ASSERT_TRUE(Open(location_, db_).Ok());
    }

    static StoreError Open(const std::string& location, std::unique_ptr<engine::Connection>& db) {
        engine::OpenRequest request;
        request.Location = location;
        engine::OpenedEngine opened;
        StoreError error = server::OpenServerEngine(request, opened);
        db = std::move(opened.Database);
        return error;
    }

    std::unique_ptr<engine::Query> Prepared(std::string_view sql, StatementUse use = StatementUse::Once) {
        std::unique_ptr<engine::Query> query;
        EXPECT_TRUE(db_->Prepare(sql, use, query).Ok());
        return query;
    }

    Rows Select(std::string_view sql) {
        Rows rows;
        auto query = Prepared(sql);
        const StoreError error = Read(*query, rows);
        EXPECT_TRUE(error.Ok()) << error.Details();
        return rows;
    }

    test::ServerSchema schema_;
    const std::string location_ = schema_.Location();
    std::unique_ptr<engine::Connection> db_;  // closed before the schema goes
};

TEST_F(ServerEngine, TypedBindsRoundTripThroughMarkersOfEveryForm) {
    // Markers inside a literal, a quoted name or a comment are none.
    auto query = Prepared("SELECT ?1 AS i, ? AS d, :t AS t, '?:t' AS literal, :t = :t AS same, 1 AS \"q?\" -- ? :z\n"
                          ", /* ? /* :y */ ? */ ? AS n");
    EXPECT_EQ(query->ParameterIndex(":t"), 3);
    EXPECT_EQ(query->ParameterIndex(":z"), 0);
    const std::int64_t integers[] = {std::numeric_limits<std::int64_t>::min(), -1, 0,
                                     std::numeric_limits<std::int64_t>::max()};
    const double reals[] = {0.1, -0.0, 1e300, 5e-324, -1.5e-7, 123456789012345.6, 1e15};
    const std::string texts[] = {AllBytes(), "caf\xc3\xa9 \\x00 '?'", "", std::string("a\0b", 3), "\xff\xfe"};
    for (std::size_t k = 0; k < 7; ++k) {
        const std::string& text = texts[k % 5];
        ASSERT_TRUE(query->BindInt64(1, integers[k % 4]).Ok());
        ASSERT_TRUE(query->BindDouble(2, reals[k]).Ok());
        ASSERT_TRUE(query->BindText(3, text, false).Ok());
        ASSERT_TRUE(query->BindNull(4).Ok());
        bool row = false;
        ASSERT_TRUE(query->Step(row).Ok());
        ASSERT_TRUE(row);
        EXPECT_EQ(query->Int64(0), integers[k % 4]);
        EXPECT_EQ(query->Text(0), std::to_string(integers[k % 4]));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(query->Double(1)), std::bit_cast<std::uint64_t>(reals[k]));
        EXPECT_EQ(query->Text(2), text);
        EXPECT_EQ(query->Text(3), "?:t");
        EXPECT_EQ(query->Int64(4), 1);
        EXPECT_EQ(std::vector({query->Type(0), query->Type(1), query->Type(2), query->Type(4), query->Type(6)}),
                  std::vector({ColumnType::Integer, ColumnType::Real, ColumnType::Text, ColumnType::Integer,
                               ColumnType::Null}));
        EXPECT_EQ(query->ColumnName(5), "q?");
        ASSERT_TRUE(query->Step(row).Ok());
        EXPECT_FALSE(row);
        query->Reset();
    }
    EXPECT_EQ(query->BindInt64(5, 1).Code, StoreCode::Other);
}

TEST_F(ServerEngine, RepeatedStatementsArePreparedOnceAndQueriesStillStream) {
    ASSERT_TRUE(db_->Execute("CREATE TABLE t (n BIGINT, name BYTEA)").Ok());
    auto insert = Prepared("INSERT INTO t (n, name) VALUES (?, ?)", StatementUse::Repeated);
    auto select = Prepared("SELECT n, name FROM t WHERE n >= ? ORDER BY n", StatementUse::Repeated);
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(insert->BindInt64(1, n).Ok());
        // A null where a name was, and names that are not UTF-8: the same prepared statement.
        ASSERT_TRUE((n == 2 ? insert->BindNull(2) : insert->BindText(2, n == 1 ? "one" : "\xff", true)).Ok());
        ASSERT_TRUE(insert->Run().Ok());
        ASSERT_TRUE(select->BindInt64(1, 2).Ok());
        Rows rows;
        ASSERT_TRUE(Read(*select, rows).Ok());
        EXPECT_EQ(rows.size(), n >= 2 ? static_cast<std::size_t>(n - 1) : 0u);
        select->Reset();
    }
    EXPECT_EQ(Select("SELECT count(*) FROM pg_prepared_statements"), (Rows{{"2"}}));
    EXPECT_EQ(Select("SELECT n, name FROM t ORDER BY n"), (Rows{{"1", "one"}, {"2", ""}, {"3", "\xff"}}));
}

TEST_F(ServerEngine, NumbersReadAsTheServersOwnTextsSay) {
    // The server's text output beside each binary value; the reals include
    // random ones of every magnitude, and shortest digits that fall on the
    // midpoint to a neighbouring value.
    const Rows numbers = Select(
        "SELECT v, v::text FROM (VALUES (0::numeric), (0.000), (-0.5), (1.50), (12345678901234567890123456789.0001), "
        "(-98765432109876543210), (0.00000000000000000001), (10000), (9999.9999), ('NaN'), ('Infinity'), "
        "((SELECT sum(x) FROM (VALUES (9223372036854775807::bigint), (9223372036854775807)) t(x)))) t(v)");
    ASSERT_EQ(numbers.size(), 12u);
    for (const auto& row : numbers) EXPECT_EQ(row[0], row[1]);
    ASSERT_TRUE(db_->Execute("SELECT setseed(0.25)").Ok());
    const Rows reals = Select(
        "SELECT d, d::text, f, f::text FROM (SELECT (random() - 0.5) * 10 ^ (random() * 600 - 300) AS d, "
        "((random() - 0.5) * 10 ^ (random() * 70 - 35))::float4 AS f FROM generate_series(1, 3000) "
        "UNION ALL VALUES (0.1, 0.1), ('-0', '-0'), (53165205877497296, 112901984), (2.0059896771179478e+32, 0), (1e15, 1e6), (1e15 - 1, 1e6 - 1), (0.0001, 0.0001), "
        "(0.00001, 0.00001), (5e-324, 1e-45), ('NaN', 'NaN'), ('-Infinity', 'Infinity')) t");
    ASSERT_EQ(reals.size(), 3011u);
    for (const auto& row : reals) {
        EXPECT_EQ(row[0], row[1]);
        EXPECT_EQ(row[2], row[3]);
    }
    // Types and integers: a whole numeric is an integer, saturating.
    auto query = Prepared("SELECT v FROM (VALUES (18446744073709551614::numeric), (-1e30), (1.5), (-7), (0.000)) t(v)");
    const std::vector<std::pair<ColumnType, std::int64_t>> expected{
        {ColumnType::Integer, std::numeric_limits<std::int64_t>::max()},
        {ColumnType::Integer, std::numeric_limits<std::int64_t>::min()},
        {ColumnType::Real, 1},
        {ColumnType::Integer, -7},
        {ColumnType::Real, 0}};
    for (const auto& [type, integer] : expected) {
        bool row = false;
        ASSERT_TRUE(query->Step(row).Ok() && row);
        EXPECT_EQ(query->Type(0), type);
        EXPECT_EQ(query->Int64(0), integer);
        EXPECT_EQ(query->Double(0), std::strtod(std::string(query->Text(0)).c_str(), nullptr));
    }
    // A type outside the engine's own list reads as the server's text.
    EXPECT_EQ(Select("SELECT DATE '2024-02-29', 'pg_class'::regclass::oid, 'pg_class'::regclass, NULL::date"),
              (Rows{{"2024-02-29", "1259", "pg_class", ""}}));
}

// Every byte value in a name, the 64-bit limits and odd doubles go out as
// binary COPY rows and come back as they were.
TEST_F(ServerEngine, BinaryCopyRowsReadBackExactly) {
    const auto& dialect = db_->SqlDialect();
    ASSERT_TRUE(db_->Execute("CREATE TABLE rows (Name " + std::string(dialect.TypeName(engine::ValueKind::Name)) +
                             ", Key " + std::string(dialect.TypeName(engine::ValueKind::Key)) + ", Size " +
                             std::string(dialect.TypeName(engine::ValueKind::Integer)) + ", Share " +
                             std::string(dialect.TypeName(engine::ValueKind::Real)) + ")")
                    .Ok());
    const std::array<std::string_view, 4> columns{"Name", "Key", "SIZE", "share"};
    std::unique_ptr<engine::BulkRows> bulk;
    ASSERT_TRUE(db_->OpenBulkRows("Rows", columns, 0, bulk).Ok());
    EXPECT_EQ(bulk->ParameterIndex(":size"), 3);
    // Each byte alone, then all of them in one name, with the 64-bit limits and odd doubles.
    Rows expected;
    for (int b = 0; b <= 256; ++b) {
        const std::string name = b < 256 ? std::string(1, static_cast<char>(b)) : AllBytes();
        const std::int64_t size = b == 0 ? std::numeric_limits<std::int64_t>::min()
                                  : b == 256 ? std::numeric_limits<std::int64_t>::max()
                                             : b * 1000003LL;
        const double share = b / 3.0;
        ASSERT_TRUE(bulk->BindText(1, name, false).Ok());
        ASSERT_TRUE((b % 2 ? bulk->BindNull(2) : bulk->BindText(2, "2024-01-0" + std::to_string(b % 10), true)).Ok());
        ASSERT_TRUE(bulk->BindInt64(3, size).Ok());
        ASSERT_TRUE(bulk->BindDouble(4, share).Ok());
        ASSERT_TRUE(bulk->Add().Ok());
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", share);
        expected.push_back({name, b % 2 ? "" : "2024-01-0" + std::to_string(b % 10), std::to_string(size), text});
    }
    // Sent by the query, before it reads.
    auto query = Prepared("SELECT Name, Key, Size, Share FROM rows ORDER BY Size");
    Rows rows;
    for (bool row = true; query->Step(row).Ok() && row;) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", query->Double(3));
        rows.push_back({std::string(query->Text(0)), std::string(query->Text(1)), std::to_string(query->Int64(2)), text});
        EXPECT_EQ(query->Type(1), query->Text(1).empty() ? ColumnType::Null : ColumnType::Text);
    }
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return std::stoll(a[2]) < std::stoll(b[2]); });
    EXPECT_EQ(rows, expected);
}

TEST_F(ServerEngine, CaseInsensitiveComparesAndOrdersAsNocase) {
    ASSERT_TRUE(db_->Execute("CREATE TABLE names (name BYTEA)").Ok());
    const std::vector<std::string> names{"abc", "ABC", "aBd", "a\\b", "A\\B", "a\\\\b", "\xc3\xa9", "\xc3\x89", "\xff",
                                         "Z", "z", "[", "_", "`", "\x01", "", std::string("a\0B", 3),
                                         std::string("A\0b", 3), "a\\000b", "\\", "@", "caf\xc3\xa9", "CAF\xc3\xa9"};
    std::unique_ptr<engine::BulkRows> bulk;
    const std::array<std::string_view, 1> column{"name"};
    ASSERT_TRUE(db_->OpenBulkRows("names", column, 0, bulk).Ok());
    for (const std::string& name : names) {
        ASSERT_TRUE(bulk->BindText(1, name, false).Ok());
        ASSERT_TRUE(bulk->Add().Ok());
    }
    const std::string ci = db_->SqlDialect().CaseInsensitive("name");
    std::vector<std::string> order, expected;
    for (const auto& row : Select("SELECT name FROM names ORDER BY " + ci)) order.push_back(Folded(row[0]));
    for (const std::string& name : names) expected.push_back(Folded(name));
    std::sort(expected.begin(), expected.end(), BytesLess);
    EXPECT_EQ(order, expected);
    std::size_t pairs = 0;
    for (const std::string& a : names) {
        for (const std::string& b : names) pairs += Folded(a) == Folded(b) ? 1 : 0;
    }
    const std::string ci2 = db_->SqlDialect().CaseInsensitive("b.name");
    EXPECT_EQ(Select("SELECT count(*) FROM names a JOIN names b ON " + db_->SqlDialect().CaseInsensitive("a.name") +
                     " = " + ci2),
              (Rows{{std::to_string(pairs)}}));
    // A bound name compares so too.
    auto query = Prepared("SELECT count(*) FROM names WHERE " + ci + " = " + db_->SqlDialect().CaseInsensitive("?"));
    ASSERT_TRUE(query->BindText(1, "CAF\xc3\xa9", false).Ok());
    Rows rows;
    ASSERT_TRUE(Read(*query, rows).Ok());
    EXPECT_EQ(rows, (Rows{{"2"}}));
}

TEST_F(ServerEngine, CatalogueAnswersWithoutRegardToCase) {
    bool empty = false;
    ASSERT_TRUE(db_->IsEmpty(empty).Ok());
    EXPECT_TRUE(empty);
    ASSERT_TRUE(db_->Execute("CREATE TABLE files (Snapshot TEXT, Filename BYTEA, Filedir BYTEA, "
                             "CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename))")
                    .Ok());
    ASSERT_TRUE(db_->IsEmpty(empty).Ok());
    EXPECT_FALSE(empty);
    // A name, whether it is a table, whether an index.
    for (const auto& [name, table, index] : {std::tuple{"FILES", true, false}, {"file1", false, true}, {"Dir", false, false}}) {
        bool isTable = !table, isIndex = !index;
        ASSERT_TRUE(db_->TableExists(name, isTable).Ok() && db_->IndexExists(name, isIndex).Ok());
        EXPECT_EQ(std::pair(isTable, isIndex), std::pair(table, index)) << name;
    }
    std::vector<std::string> fields, key, none{"?"};
    ASSERT_TRUE(db_->Fields("Files", fields).Ok() && db_->PrimaryKey("files", key).Ok() && db_->Fields("nothing", none).Ok());
    EXPECT_EQ(fields, (std::vector<std::string>{"snapshot", "filename", "filedir"}));
    EXPECT_EQ(key, (std::vector<std::string>{"snapshot", "filedir", "filename"}));
    EXPECT_TRUE(none.empty());
}

TEST_F(ServerEngine, ErrorsMapOntoStoreCodesAndTheNextStatementWorks) {
    ASSERT_TRUE(db_->Execute("CREATE TABLE control (Snapshot TEXT PRIMARY KEY); CREATE TABLE dir (n BIGINT); "
                             "CREATE TABLE files (n BIGINT); INSERT INTO control VALUES ('a')")
                    .Ok());
    StoreError error = db_->Execute("INSERT INTO control VALUES ('a')");
    EXPECT_EQ(error.Code, StoreCode::Constraint);
    EXPECT_TRUE(error.Reason.ends_with("(SQLSTATE 23505)")) << error.Reason;
    EXPECT_EQ(error.Reason.find('\t'), std::string::npos);
    EXPECT_EQ(error.Datum, "INSERT INTO control VALUES ('a')");
    EXPECT_EQ(error.Details().rfind("Code=Constraint Reason=ERROR:  duplicate key", 0), 0u) << error.Details();

    // A failure inside the read transaction of an open cursor ends it, and
    // the statements after it work.
    auto open = Prepared("SELECT generate_series(1, 5000)");
    bool row = false;
    ASSERT_TRUE(open->Step(row).Ok() && row);
    auto missing = Prepared("SELECT * FROM nothing");
    error = missing->Step(row);
    EXPECT_EQ(error.Code, StoreCode::NotSnapshotDatabase);
    EXPECT_EQ(error.Datum, "SELECT * FROM nothing");
    Rows rest;
    EXPECT_EQ(Read(*open, rest).Code, StoreCode::Other);
    EXPECT_EQ(Select("SELECT count(*) FROM control"), (Rows{{"1"}}));

    std::string reason = "?";
    ASSERT_TRUE(db_->WhyNotWritable(reason).Ok());
    EXPECT_EQ(reason, "");
    const std::string role = "reader_" + schema_.Name();
    ASSERT_EQ(test::RunOnServer(location_, "CREATE ROLE " + role + " LOGIN; GRANT USAGE ON SCHEMA " + schema_.Name() +
                                               " TO " + role + "; GRANT SELECT ON ALL TABLES IN SCHEMA " +
                                               schema_.Name() + " TO " + role),
              "");
    std::unique_ptr<engine::Connection> reader;
    ASSERT_TRUE(Open(location_ + " user=" + role, reader).Ok());
    ASSERT_TRUE(reader->WhyNotWritable(reason).Ok());
    EXPECT_EQ(reason, "this role may not add rows to its tables");
    EXPECT_EQ(reader->Execute("INSERT INTO dir VALUES (1)").Code, StoreCode::ReadOnly);
    reader.reset();
    test::RunOnServer(location_, "DROP OWNED BY " + role + "; DROP ROLE " + role);
}

TEST_F(ServerEngine, FailingBulkBatchNamesItsRow) {
    ASSERT_TRUE(db_->Execute("CREATE TABLE dir (Dirname BYTEA, Dirlevel BIGINT UNIQUE)").Ok());
    const std::array<std::string_view, 2> columns{"Dirname", "Dirlevel"};
    std::unique_ptr<engine::BulkRows> bulk;
    ASSERT_TRUE(db_->OpenBulkRows("dir", columns, 0, bulk).Ok());
    WaitUpTo wait(std::chrono::milliseconds(0));
    ASSERT_TRUE(db_->BeginWrite(wait).Ok());
    const char* names[] = {"/a", "/b", "/c", "/d\xff", "/e"};
    const int levels[] = {1, 2, 3, 2, 5};
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(bulk->BindText(1, names[i], false).Ok());
        ASSERT_TRUE(bulk->BindInt64(2, levels[i]).Ok());
        ASSERT_TRUE(bulk->Add().Ok());
    }
    const StoreError error = bulk->Flush();
    EXPECT_EQ(error.Code, StoreCode::Constraint);
    EXPECT_EQ(error.Datum, "/d\xff");
    EXPECT_NE(error.Reason.find("(row 4 of a batch of 5 rows) (SQLSTATE 23505)"), std::string::npos) << error.Reason;
    db_->Rollback();

    // A batch that fails as a whole is named as such, and the next statement works.
    ASSERT_TRUE(bulk->BindText(1, "/f", false).Ok());
    ASSERT_TRUE(bulk->Add().Ok());
    ASSERT_EQ(test::RunOnServer(location_, "DROP TABLE dir"), "");
    const StoreError batch = db_->Execute("SELECT 1");
    EXPECT_EQ(batch.Code, StoreCode::NotSnapshotDatabase);
    EXPECT_EQ(batch.Datum, "COPY dir (Dirname, Dirlevel) FROM STDIN (FORMAT binary)");
    EXPECT_NE(batch.Reason.find("(a batch of 1 row) (SQLSTATE 42P01)"), std::string::npos) << batch.Reason;
    EXPECT_EQ(Select("SELECT 1"), (Rows{{"1"}}));
}

// The engine's connection is idle, or idle in a transaction, as the server sees it.
std::string State(const std::string& location, const std::string& pid) {
    return test::RunOnServer(location, "SELECT state FROM pg_stat_activity WHERE pid = " + pid);
}

TEST_F(ServerEngine, TwoCursorsSteppedInTurnShareOneReadTransactionThatAWriteTakesOver) {
    const std::string pid = Select("SELECT pg_backend_pid()")[0][0];
    EXPECT_EQ(State(location_, pid), "idle\n");
    auto up = Prepared("SELECT g FROM generate_series(1, 5000) g");
    auto down = Prepared("SELECT -g FROM generate_series(1, 4500) g ORDER BY g");
    int rows = 0;
    for (bool more = true, other = true; more || other; ++rows) {
        ASSERT_TRUE(up->Step(more).Ok());
        ASSERT_TRUE(down->Step(other).Ok());
        EXPECT_EQ(more ? up->Int64(0) : 0, more ? rows + 1 : 0);
        EXPECT_EQ(other ? down->Int64(0) : 0, other ? -(rows + 1) : 0);
        if (rows == 10) {
            EXPECT_EQ(State(location_, pid), "idle in transaction\n");
        }
    }
    EXPECT_EQ(rows, 5001);
    EXPECT_EQ(State(location_, pid), "idle\n");

    // A write begun while a cursor is open takes its transaction over; the
    // commit ends the cursor, which had rows left to fetch.
    ASSERT_TRUE(db_->Execute("CREATE TABLE t (n BIGINT)").Ok());
    auto many = Prepared("SELECT g FROM generate_series(1, 100000) g");
    bool row = false;
    ASSERT_TRUE(many->Step(row).Ok() && row);
    WaitUpTo wait(std::chrono::milliseconds(0));
    ASSERT_TRUE(db_->BeginWrite(wait).Ok());
    ASSERT_TRUE(db_->Execute("INSERT INTO t VALUES (1)").Ok());
    EXPECT_EQ(test::RunOnServer(location_, "SELECT count(*) FROM t"), "0\n");
    ASSERT_TRUE(db_->Commit(wait).Ok());
    EXPECT_EQ(test::RunOnServer(location_, "SELECT count(*) FROM t"), "1\n");
    Rows rest;
    EXPECT_EQ(Read(*many, rest).Code, StoreCode::Other);
    EXPECT_LT(many->Int64(0), 100000);
    many->Reset();
    EXPECT_EQ(State(location_, pid), "idle\n");
}

// The two sides of a merge: the second scan reads on a session of its own
// while batches are read ahead on both, and statements run between steps
// take the answers on their way first. Within a write transaction both stay
// on the writer's session, where its uncommitted rows are.
TEST_F(ServerEngine, ScansSteppedInTurnReadOnTwoSessionsUnlessAWriteIsOpen) {
    ASSERT_TRUE(db_->Execute("CREATE TABLE t (n BIGINT)").Ok());
    const char* kScan = "SELECT pg_backend_pid(), g, (SELECT count(*) FROM t) FROM generate_series(1, 4500) g";
    auto stepInTurn = [&](std::int64_t rowsOfT) {
        auto first = Prepared(kScan, StatementUse::Scan), second = Prepared(kScan, StatementUse::Scan);
        std::vector<std::string> pids;
        int rows = 0;
        for (bool a = true, b = true; a || b;) {
            EXPECT_TRUE(first->Step(a).Ok());
            EXPECT_TRUE(second->Step(b).Ok());
            if (!a || !b) break;
            ++rows;
            EXPECT_EQ(first->Int64(1), rows);
            EXPECT_EQ(second->Int64(1), rows);
            EXPECT_EQ(second->Int64(2), rowsOfT);
            if (rows == 1) pids = {std::string(first->Text(0)), std::string(second->Text(0))};
            if (rows % 1000 == 0) {
                EXPECT_EQ(Select("SELECT count(*) FROM t"), (Rows{{std::to_string(rowsOfT)}}));
            }
        }
        EXPECT_EQ(rows, 4500);
        return pids;
    };
    const std::vector<std::string> apart = stepInTurn(0);
    ASSERT_EQ(apart.size(), 2u);
    EXPECT_NE(apart[0], apart[1]);
    // Neither session is left inside a transaction.
    EXPECT_EQ(State(location_, apart[0]), "idle\n");
    EXPECT_EQ(State(location_, apart[1]), "idle\n");

    WaitUpTo wait(std::chrono::milliseconds(0));
    ASSERT_TRUE(db_->BeginWrite(wait).Ok());
    ASSERT_TRUE(db_->Execute("INSERT INTO t VALUES (1)").Ok());
    const std::vector<std::string> together = stepInTurn(1);
    ASSERT_EQ(together.size(), 2u);
    EXPECT_EQ(together[0], together[1]);
    db_->Rollback();

    // A role the server allows one session reads both on it.
    const std::string role = schema_.Name() + "_one";
    ASSERT_EQ(test::RunOnServer(location_, "CREATE ROLE " + role + " LOGIN CONNECTION LIMIT 1; GRANT USAGE ON SCHEMA " +
                                               schema_.Name() + " TO " + role + "; GRANT SELECT ON t TO " + role),
              "");
    db_.reset();
    ASSERT_TRUE(Open(location_ + " user=" + role, db_).Ok());
    const std::vector<std::string> alone = stepInTurn(0);
    ASSERT_EQ(alone.size(), 2u);
    EXPECT_EQ(alone[0], alone[1]);
    db_.reset();
    test::RunOnServer(location_, "DROP OWNED BY " + role + "; DROP ROLE " + role);
}

// Another session holds the writers' lock, as another program's run does.
TEST_F(ServerEngine, WritersLockHeldByAnotherSessionRefusesUntilItGoes) {
    PGconn* other = PQconnectdb(location_.c_str());
    PGresult* locked = PQexec(other, "BEGIN; SELECT pg_advisory_xact_lock(1129271926)");
    ASSERT_EQ(PQresultStatus(locked), PGRES_TUPLES_OK) << PQerrorMessage(other);
    PQclear(locked);
    WaitUpTo none(std::chrono::milliseconds(0));
    StoreError error = db_->BeginWrite(none);
    EXPECT_EQ(error.Code, StoreCode::LockedPastWait);
    EXPECT_TRUE(error.IsBusy());

    PQfinish(other);
    // Its server process lets go a moment after the session has gone.
    WaitUpTo minute(std::chrono::minutes(1));
    error = db_->BeginWrite(minute);
    EXPECT_TRUE(error.Ok()) << error.Details();
    db_->Rollback();
}

// The peak resident memory of a child that reads rows generated rows, in kB.
long PeakOfReading(const std::string& location, long rows, std::string& said) {
    // A sanitized build holds freed memory back for a while to catch late
    // uses of it; the reader must reuse it as a plain build does, or its
    // peak would grow with the batches it has freed.
    const char* inherited = std::getenv("ASAN_OPTIONS");
    const std::string sanitizer = std::string(inherited != nullptr ? inherited : "") +
                                  ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
    int output[2];
    if (::pipe(output) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("ASAN_OPTIONS", sanitizer.c_str(), 1);
        ::dup2(output[1], 1);
        ::close(output[0]);
        ::execl(CORVINA_ENGINE_READER, CORVINA_ENGINE_READER, location.c_str(), std::to_string(rows).c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(output[1]);
    char buffer[256];
    for (ssize_t n; (n = ::read(output[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
    ::close(output[0]);
    while (!said.empty() && said.back() == '\n') said.pop_back();
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

TEST_F(ServerEngine, MemoryOfAScanDoesNotGrowWithItsRows) {
    std::string small, large;
    const long smallPeak = PeakOfReading(location_, 200000, small);
    const long largePeak = PeakOfReading(location_, 1000000, large);
    ASSERT_GT(smallPeak, 0);
    ASSERT_GT(largePeak, 0);
    EXPECT_EQ(small.rfind("200000 rows", 0), 0u) << small;
    EXPECT_EQ(large.rfind("1000000 rows", 0), 0u) << large;
    EXPECT_LE(std::max(smallPeak, largePeak), std::min(smallPeak, largePeak) * 6 / 5)
        << smallPeak << " kB for 200,000 rows, " << largePeak << " kB for 1,000,000";
    std::printf("peak %ld kB for 200,000 rows (%s), %ld kB for 1,000,000 (%s)\n", smallPeak, small.c_str(), largePeak,
                large.c_str());
}

}  // namespace
}  // namespace corvina
