// The engines through the engine interface, each test on a new database file
// and, beside a database server (tests/server/with_server.sh), in a schema of
// its own on that server. Both take values both ways exactly, in statements
// and bulk rows, compare names without regard to case alike and answer the
// catalogue alike. Then what is each engine's own: a file's refused rows and
// the texts of its tables; the server's numbers, errors, batches, cursors and
// sessions, the writers' lock, and the memory a long scan takes. What each
// kind of bad file, a file that cannot be written and another program's lock
// come to is checked where it is worded: the store's open (DatabaseTest), the
// tool (DatabasePlaces, DamagedFile, CatalogueCommands, Concurrency) and the
// selection window's delete.

#include <libpq-fe.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "store/SnapshotDatabase.h"
#include "store/engine/Engine.h"
#include "tests/support/ServerSchema.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using engine::ValueKind;
using enum ColumnType;
using Rows = std::vector<std::vector<std::string>>;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min(), kMax = std::numeric_limits<std::int64_t>::max();

#define ASSERT_OK(call)                               \
    do {                                              \
        const StoreError error_ = (call);             \
        ASSERT_TRUE(error_.Ok()) << error_.Details(); \
    } while (false)

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

std::uint64_t Bits(double value) { return std::bit_cast<std::uint64_t>(value); }

class EngineTest : public ::testing::Test {
protected:
    // A new database file, or the test's schema on the server, open for writing.
    void Start(bool server) {
        if (server && test::TestServer().empty()) GTEST_SKIP() << "runs beside a database server (tests/server/with_server.sh)";
        location_ = server ? schema_.Location() : dir_.File("engine.db");
        ASSERT_OK(Open(location_, db_));
    }

    static StoreError Open(const std::string& location, std::unique_ptr<engine::Connection>& db) {
        engine::OpenRequest request;
        request.Location = location;
        request.Create = true;
        request.ForWriting = true;
        engine::OpenedEngine opened;
        StoreError error = engine::OpenEngine(request, opened);
        db = std::move(opened.Database);
        return error;
    }

    std::unique_ptr<engine::Query> Prepared(std::string_view sql, StatementUse use = StatementUse::Once) {
        std::unique_ptr<engine::Query> query;
        const StoreError error = db_->Prepare(sql, use, query);
        EXPECT_TRUE(error.Ok()) << error.Details();
        return query;
    }

    Rows Select(std::string_view sql) {
        Rows rows;
        auto query = Prepared(sql);
        const StoreError error = Read(*query, rows);
        EXPECT_TRUE(error.Ok()) << error.Details();
        return rows;
    }

    std::string Type(ValueKind kind) const { return std::string(db_->SqlDialect().TypeName(kind)); }

    // The location as a role that may read the schema's tables and do
    // nothing else (with options such as CONNECTION LIMIT 1); the role goes
    // when the test ends.
    std::string AsReader(const std::string& options = "") {
        role_ = schema_.Name() + "_reader";
        EXPECT_EQ(test::RunOnServer(location_, "CREATE ROLE " + role_ + " LOGIN " + options + "; GRANT USAGE ON SCHEMA " +
                                                   schema_.Name() + " TO " + role_ + "; GRANT SELECT ON ALL TABLES IN "
                                                   "SCHEMA " + schema_.Name() + " TO " + role_),
                  "");
        return location_ + " user=" + role_;
    }
    void TearDown() override {
        db_.reset();
        if (!role_.empty()) test::RunOnServer(location_, "DROP OWNED BY " + role_ + "; DROP ROLE " + role_);
    }

    test::TempDir dir_;
    test::ServerSchema schema_;
    std::string location_, role_;
    std::unique_ptr<engine::Connection> db_;  // closed before the schema goes
};

// On a file and on the server alike.
class Engine : public EngineTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { Start(GetParam()); }
    bool OnServer() const { return GetParam(); }
};
INSTANTIATE_TEST_SUITE_P(FileAndServer, Engine, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Server" : "File"; });

class FileEngine : public EngineTest {
protected:
    void SetUp() override { Start(false); }
};

class ServerEngine : public EngineTest {
protected:
    void SetUp() override { Start(true); }
};

// Markers inside a literal, a quoted name or a comment are none, and ":t" is
// one value wherever it stands (the server nests comments, a file does not).
// Each value comes back exactly and with its type, also the second time,
// after a Reset, which keeps them; a copied text whatever becomes of the
// caller's, and a real beyond the 64-bit range as the nearest limit.
TEST_P(Engine, BoundValuesComeBackExactlyWithTheirTypes) {
    auto q = Prepared(std::string("SELECT ?1 AS i, ? AS d, :t AS t, '?:t' AS literal, :t = :t AS same, 1 AS \"q?\" ") +
                      "-- ? :z\n, " + (OnServer() ? "/* ? /* :y */ ? */" : "/* ? :y */") + " ? AS n, ? AS e");
    EXPECT_EQ(std::pair(q->ParameterIndex(":t"), q->ParameterIndex(":z")), std::pair(3, 0));
    std::string large(100'000, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 % 256);
    const std::int64_t integers[] = {kMin, -1, 0, kMax};
    const double reals[] = {0.1, -0.0, 1e300, 5e-324, -1.5e-7, 123456789012345.6, -DBL_MAX, 1e15};
    const std::string texts[] = {AllBytes(), "\xff\xfe\xc3(\xed\xa0\x80\xc0\xaf", std::string("a\0b", 3), large, ""};
    for (std::size_t k = 0; k < std::size(reals); ++k) {
        SCOPED_TRACE(k);
        const std::string& text = texts[k % 5];
        std::string copied = text;
        ASSERT_OK(q->BindInt64(1, integers[k % 4]));
        ASSERT_OK(q->BindDouble(2, reals[k]));
        ASSERT_OK(k % 2 ? q->BindText(3, text, false) : q->BindText(3, copied, true));
        copied.assign(copied.size(), '?');
        ASSERT_OK(q->BindNull(4));
        ASSERT_OK(q->BindText(5, std::string_view(), false));  // an empty text, though the view points nowhere
        for (int pass = 0; pass < 2; ++pass, q->Reset()) {
            bool row = false;
            ASSERT_OK(q->Step(row));
            ASSERT_TRUE(row);
            EXPECT_EQ(std::tuple(q->Int64(0), q->Text(0)), std::tuple(integers[k % 4], std::to_string(integers[k % 4])));
            EXPECT_EQ(Bits(q->Double(1)), Bits(reals[k]));
            if (std::abs(reals[k]) > 1e19) {
                EXPECT_EQ(q->Int64(1), reals[k] > 0 ? kMax : kMin);
            }
            EXPECT_TRUE(q->Text(2) == text) << q->Text(2).size() << " bytes";
            EXPECT_EQ(std::tuple(q->Text(3), q->Int64(4), q->ColumnName(5)), std::tuple("?:t", 1, "q?"));
            EXPECT_EQ(std::vector({q->Type(0), q->Type(1), q->Type(2), q->Type(4), q->Type(6), q->Type(7)}),
                      std::vector({Integer, Real, Text, Integer, Null, Text}));
            ASSERT_OK(q->Step(row));
            EXPECT_FALSE(row);
        }
    }
    EXPECT_EQ(q->BindInt64(9, 1).Code, StoreCode::Other);
}

// Stored whole in the types our tables use, a null where a name was; "?N"
// names its value wherever it stands. A statement repeated with other values
// reads what the one beside it has just written, and on the server each is
// prepared once.
TEST_P(Engine, RepeatedStatementsStoreEveryValueWhole) {
    ASSERT_OK(db_->Execute("CREATE TABLE v (t " + Type(ValueKind::Name) + ", r " + Type(ValueKind::Real) + ", k " +
                           Type(ValueKind::Integer) + ")"));
    auto insert = Prepared("INSERT INTO v VALUES (?3, ?2, ?1)", StatementUse::Repeated);
    auto select = Prepared("SELECT k FROM v WHERE k >= ? ORDER BY k", StatementUse::Repeated);
    const std::tuple<std::int64_t, double, std::optional<std::string>> values[] = {
        {kMin, 0.1, AllBytes()}, {0, 3e9, std::nullopt}, {kMax, -1e300, "\xff\xfe"}};
    for (std::size_t n = 0; n < std::size(values); ++n) {
        const auto& [k, r, t] = values[n];
        ASSERT_OK(insert->BindInt64(1, k));
        ASSERT_OK(insert->BindDouble(2, r));
        ASSERT_OK(t ? insert->BindText(3, *t, false) : insert->BindNull(3));
        ASSERT_OK(insert->Run());
        ASSERT_OK(select->BindInt64(1, 0));
        Rows rows;
        ASSERT_OK(Read(*select, rows));
        EXPECT_EQ(rows.size(), n) << n;  // the rows from 0 up
        select->Reset();
    }
    auto all = Prepared("SELECT k, r, t FROM v ORDER BY k");
    for (const auto& [k, r, t] : values) {
        bool row = false;
        ASSERT_OK(all->Step(row));
        ASSERT_TRUE(row);
        EXPECT_EQ(std::tuple(all->Int64(0), Bits(all->Double(1)), all->Text(2), all->Type(2)),
                  std::tuple(k, Bits(r), t.value_or(""), t ? Text : Null));
    }
    if (OnServer()) {
        EXPECT_EQ(Select("SELECT count(*) FROM pg_prepared_statements"), (Rows{{"2"}}));
    }
}

// Every byte value in a name, the 64-bit limits and odd reals go in as bulk
// rows, their columns named in another case and order than the table's, and
// come back as they were.
TEST_P(Engine, BulkRowsComeBackExactly) {
    ASSERT_OK(db_->Execute("CREATE TABLE rows (Share " + Type(ValueKind::Real) + ", Name " + Type(ValueKind::Name) +
                           ", Key " + Type(ValueKind::Key) + ", Size " + Type(ValueKind::Integer) + ")"));
    const std::array<std::string_view, 4> columns{"Name", "Key", "SIZE", "share"};
    std::unique_ptr<engine::BulkRows> bulk;
    ASSERT_OK(db_->OpenBulkRows("Rows", columns, 0, bulk));
    WaitUpTo noWait(std::chrono::milliseconds(0));
    ASSERT_OK(db_->BeginWrite(noWait));
    // Each byte alone, then all of them in one name.
    Rows expected;
    for (int b = 0; b <= 256; ++b) {
        const std::string name = b < 256 ? std::string(1, static_cast<char>(b)) : AllBytes();
        const std::int64_t size = b == 0 ? kMin : b == 256 ? kMax : b * 1000003LL;
        const double share = b / 3.0;
        ASSERT_OK(bulk->BindText(1, name, false));
        ASSERT_OK(b % 2 ? bulk->BindNull(2) : bulk->BindText(2, "2024-01-0" + std::to_string(b % 10), true));
        ASSERT_OK(bulk->BindInt64(3, size));
        ASSERT_OK(bulk->BindDouble(4, share));
        ASSERT_OK(bulk->Add());
        expected.push_back({name, b % 2 ? "" : "2024-01-0" + std::to_string(b % 10), std::to_string(size),
                            std::to_string(Bits(share))});
    }
    ASSERT_OK(db_->Commit(noWait));
    auto query = Prepared("SELECT Name, Key, Size, Share FROM rows ORDER BY Size");
    Rows rows;
    for (bool row = true; query->Step(row).Ok() && row;) {
        rows.push_back({std::string(query->Text(0)), std::string(query->Text(1)), std::to_string(query->Int64(2)),
                        std::to_string(Bits(query->Double(3)))});
        EXPECT_EQ(query->Type(1), query->Text(1).empty() ? Null : Text);
    }
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return std::stoll(a[2]) < std::stoll(b[2]); });
    EXPECT_EQ(rows, expected);
}

// Names compare and order as SQLite's NOCASE does: ASCII letters folded,
// every other byte as it is (so "é" and "É" differ, and "_" and "[" come
// before the letters), in a join and against a bound name alike.
TEST_P(Engine, CaseInsensitiveComparesAndOrdersAsNocase) {
    ASSERT_OK(db_->Execute("CREATE TABLE names (name " + Type(ValueKind::Name) + ")"));
    const std::vector<std::string> names{"abc", "ABC", "aBd", "a\\b", "A\\B", "a\\\\b", "\xc3\xa9", "\xc3\x89", "\xff",
                                         "Z", "z", "[", "_", "`", "\x01", "", std::string("a\0B", 3),
                                         std::string("A\0b", 3), "a\\000b", "\\", "@", "caf\xc3\xa9", "CAF\xc3\xa9"};
    std::unique_ptr<engine::BulkRows> bulk;
    const std::array<std::string_view, 1> column{"name"};
    ASSERT_OK(db_->OpenBulkRows("names", column, 0, bulk));
    for (const std::string& name : names) {
        ASSERT_OK(bulk->BindText(1, name, false));
        ASSERT_OK(bulk->Add());
    }
    ASSERT_OK(bulk->Flush());
    const engine::Dialect& d = db_->SqlDialect();
    std::vector<std::string> order, expected;
    for (const auto& row : Select("SELECT name FROM names ORDER BY " + d.CaseInsensitive("name"))) {
        order.push_back(Folded(row[0]));
    }
    for (const std::string& name : names) expected.push_back(Folded(name));
    std::sort(expected.begin(), expected.end(), BytesLess);
    EXPECT_EQ(order, expected);
    std::size_t pairs = 0;
    for (const std::string& a : names) {
        for (const std::string& b : names) pairs += Folded(a) == Folded(b) ? 1 : 0;
    }
    EXPECT_EQ(Select("SELECT count(*) FROM names a JOIN names b ON " + d.CaseInsensitive("a.name") + " = " +
                     d.CaseInsensitive("b.name")),
              (Rows{{std::to_string(pairs)}}));
    auto query = Prepared("SELECT count(*) FROM names WHERE " + d.CaseInsensitive("name") + " = " + d.CaseInsensitive("?"));
    ASSERT_OK(query->BindText(1, "CAF\xc3\xa9", false));
    Rows rows;
    ASSERT_OK(Read(*query, rows));
    EXPECT_EQ(rows, (Rows{{"2"}}));
}

TEST_P(Engine, CatalogueAnswersWithoutRegardToCase) {
    bool empty = false;
    ASSERT_OK(db_->IsEmpty(empty));
    EXPECT_TRUE(empty);
    ASSERT_OK(db_->Execute("CREATE TABLE files (Snapshot " + Type(ValueKind::Key) + ", Filename " +
                           Type(ValueKind::Name) + ", Filedir " + Type(ValueKind::Name) +
                           ", PRIMARY KEY (Snapshot, Filedir, Filename)); CREATE INDEX File1 ON files (Filename)"));
    ASSERT_OK(db_->IsEmpty(empty));
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

// A refused bulk row is named. A file takes each row as it comes: the Add
// says so and drops that row alone, and a table of ours without one of our
// columns is another program's. A server sends the rows in batches: the Flush
// names the row by its label column and its place in the batch, a batch that
// fails as a whole is named as such, and the next statement works.
TEST_P(Engine, ARefusedBulkRowIsNamed) {
    ASSERT_OK(db_->Execute("CREATE TABLE dir (Dirname " + Type(ValueKind::Name) + ", Dirlevel " +
                           Type(ValueKind::Integer) + " UNIQUE); CREATE TABLE other (Dirname " +
                           Type(ValueKind::Name) + ")"));
    const std::array<std::string_view, 2> columns{"Dirname", "Dirlevel"};
    std::unique_ptr<engine::BulkRows> bulk;
    ASSERT_OK(db_->OpenBulkRows("dir", columns, 0, bulk));
    WaitUpTo wait(std::chrono::milliseconds(0));
    ASSERT_OK(db_->BeginWrite(wait));
    const char* names[] = {"/a", "/b", "/c", "/d\xff", "/e"};
    const int levels[] = {1, 2, 3, 2, 5};
    StoreError refused;
    for (int i = 0; i < 5; ++i) {
        ASSERT_OK(bulk->BindText(1, names[i], false));
        ASSERT_OK(bulk->BindInt64(2, levels[i]));
        if (const StoreError added = bulk->Add(); refused.Ok()) refused = added;
    }
    if (refused.Ok()) refused = bulk->Flush();
    EXPECT_EQ(refused.Code, StoreCode::Constraint);
    if (!OnServer()) {
        EXPECT_NE(refused.Reason.find("UNIQUE constraint failed: dir.Dirlevel"), std::string::npos) << refused.Reason;
        ASSERT_OK(db_->Commit(wait));
        EXPECT_EQ(Select("SELECT Dirname FROM dir ORDER BY Dirlevel"), (Rows{{"/a"}, {"/b"}, {"/c"}, {"/e"}}));
        const StoreError foreign = db_->OpenBulkRows("other", columns, 0, bulk);
        EXPECT_EQ(foreign.Code, StoreCode::NotSnapshotDatabase);
        EXPECT_NE(foreign.Reason.find("has no column named Dirlevel"), std::string::npos) << foreign.Reason;
        return;
    }
    EXPECT_EQ(refused.Datum, "/d\xff");
    EXPECT_NE(refused.Reason.find("(row 4 of a batch of 5 rows) (SQLSTATE 23505)"), std::string::npos) << refused.Reason;
    db_->Rollback();
    ASSERT_OK(bulk->BindText(1, "/f", false));
    ASSERT_OK(bulk->Add());
    ASSERT_EQ(test::RunOnServer(location_, "DROP TABLE dir"), "");
    const StoreError batch = db_->Execute("SELECT 1");
    EXPECT_EQ(batch.Code, StoreCode::NotSnapshotDatabase);
    EXPECT_EQ(batch.Datum, "COPY dir (Dirname, Dirlevel) FROM STDIN (FORMAT binary)");
    EXPECT_NE(batch.Reason.find("(a batch of 1 row) (SQLSTATE 42P01)"), std::string::npos) << batch.Reason;
    EXPECT_EQ(Select("SELECT 1"), (Rows{{"1"}}));
}

// The texts the files of every earlier version hold: a table made now must
// read the same to anyone who compares them.
TEST_F(FileEngine, TablesAreMadeWithTheTextsOfEveryEarlierVersion) {
    const std::string control =
        "CREATE TABLE Control (Snapshot TEXT, Basepath TEXT, Description TEXT, Collfiles TEXT, "
        "Filelimit INTEGER, Totdirs INTEGER, Totfiles INTEGER, Totbytes INTEGER, Totbytesf REAL, "
        "Filetot INTEGER, Filesize INTEGER, Filesizef REAL)";
    const std::string files =
        "CREATE TABLE files (Snapshot TEXT, Filename TEXT, Filesize INTEGER, Filetype TEXT, Filedir TEXT, "
        "Fileattr INTEGER, Filedate TEXT, CONSTRAINT File1 PRIMARY KEY (Snapshot, Filedir, Filename)) WITHOUT ROWID";
    const std::string dirTable =
        "CREATE TABLE Dir (Snapshot TEXT, Entrytype TEXT, Dirname TEXT, Shortname TEXT, Parentdir TEXT, "
        "Dirlevel INTEGER, Files INTEGER, Totsize INTEGER, TotsizeF REAL)";
    DatabaseState state;
    state.DatabasePath = dir_.File("new.db");
    ASSERT_EQ(OpenDatabase(state, OpenMode::Create).Outcome, OpenOutcome::Created);
    std::unique_ptr<engine::Query> tables;
    ASSERT_OK(state.Engine->Prepare("SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY name COLLATE BINARY",
                                    StatementUse::Once, tables));
    Rows made;
    ASSERT_OK(Read(*tables, made));
    EXPECT_EQ(made, (Rows{{control}, {dirTable}, {files}}));
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
    const std::pair<ColumnType, std::int64_t> expected[] = {{Integer, kMax}, {Integer, kMin}, {Real, 1}, {Integer, -7},
                                                            {Real, 0}};
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

TEST_F(ServerEngine, ErrorsMapOntoStoreCodesAndTheNextStatementWorks) {
    ASSERT_OK(db_->Execute("CREATE TABLE control (Snapshot TEXT PRIMARY KEY); CREATE TABLE dir (n BIGINT); "
                           "CREATE TABLE files (n BIGINT); INSERT INTO control VALUES ('a')"));
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
    std::unique_ptr<engine::Connection> reader;
    ASSERT_OK(Open(AsReader(), reader));
    ASSERT_OK(reader->WhyNotWritable(reason));
    EXPECT_EQ(reason, "this role may not add rows to its tables");
    EXPECT_EQ(reader->Execute("INSERT INTO dir VALUES (1)").Code, StoreCode::ReadOnly);
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
    db_.reset();
    ASSERT_OK(Open(AsReader("CONNECTION LIMIT 1"), db_));
    const std::vector<std::string> alone = stepInTurn(0);
    ASSERT_EQ(alone.size(), 2u);
    EXPECT_EQ(alone[0], alone[1]);
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
