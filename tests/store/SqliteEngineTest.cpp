// The file engine through the engine interface, on real files: values bound
// and read back, the rows of a run, and the dialect. What each kind of bad
// file, a file that cannot be written and another program's lock come to
// (the engine's codes) is checked where it is worded: the store's open
// (DatabaseTest), the tool (DatabasePlaces, DamagedFile, CatalogueCommands,
// Concurrency) and the selection window's delete.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "store/Schema.h"
#include "store/SnapshotDatabase.h"
#include "store/engine/Engine.h"
#include "tests/support/TempDir.h"

namespace corvina {
namespace {

using engine::Connection;
using engine::Query;
using std::chrono::milliseconds;

#define ASSERT_OK(call)                               \
    do {                                              \
        const StoreError error_ = (call);             \
        ASSERT_TRUE(error_.Ok()) << error_.Details(); \
    } while (false)

// The rows of sql as text: fields joined by "|", rows by ",".
std::string Rows(Connection& db, std::string_view sql) {
    std::unique_ptr<Query> query;
    StoreError error = db.Prepare(sql, StatementUse::Once, query);
    std::string rows;
    for (bool row = true, first = true; error.Ok() && (error = query->Step(row)).Ok() && row; first = false) {
        for (int c = 0; c < query->ColumnCount(); ++c) {
            rows += (c > 0 ? "|" : first ? "" : ",") + std::string(query->Text(c));
        }
    }
    return error.Ok() ? rows : error.Details();
}

// A new database file, open for writing.
class SqliteEngine : public ::testing::Test {
protected:
    void SetUp() override {
        engine::OpenRequest request;
        request.Location = dir.File("engine.db");
        request.Create = true;
        request.ForWriting = true;
        engine::OpenedEngine opened;
        ASSERT_OK(engine::OpenEngine(request, opened));
        db = std::move(opened.Database);
    }

    test::TempDir dir;
    std::unique_ptr<Connection> db;
};
using SqliteDialect = SqliteEngine;

TEST_F(SqliteEngine, BoundValuesComeBackWithTheirTypesAndEveryByte) {
    std::string everyByte, large(100'000, '\0');
    for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(1 + i * 7 % 255);
    const std::string notUtf8 = "\xff\xfe\xc3(\xed\xa0\x80\xc0\xaf";
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min(), kMax = std::numeric_limits<std::int64_t>::max();

    std::unique_ptr<Query> q;
    ASSERT_OK(db->Prepare("SELECT ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, :q, :q, ?12", StatementUse::Once, q));
    const int named = q->ParameterIndex(":q");
    EXPECT_EQ(q->ParameterIndex(":other"), 0);
    // A copied text may go as soon as it is bound.
    std::string scratch = everyByte;
    ASSERT_OK(q->BindText(6, scratch, true));
    scratch.assign(scratch.size(), '?');
    for (const StoreError& error : {q->BindInt64(1, kMin), q->BindInt64(2, kMax), q->BindDouble(3, -0.0),
                                    q->BindDouble(4, 1.7976931348623157e308), q->BindDouble(5, 2.5),
                                    q->BindText(7, notUtf8, false), q->BindText(8, large, false), q->BindNull(9),
                                    q->BindText(named, "q", true), q->BindText(12, std::string_view(), false)}) {
        ASSERT_OK(error);
    }
    for (int pass = 0; pass < 2; ++pass, q->Reset()) {
        SCOPED_TRACE(pass);  // the second pass after a Reset, which keeps the values
        bool row = false;
        ASSERT_OK(q->Step(row));
        ASSERT_TRUE(row);
        EXPECT_EQ(std::tuple(q->Type(0), q->Type(2), q->Type(5), q->Type(8)),
                  std::tuple(ColumnType::Integer, ColumnType::Real, ColumnType::Text, ColumnType::Null));
        EXPECT_EQ(std::tuple(q->Int64(0), q->Int64(1), q->Text(0), q->Text(1)),
                  std::tuple(kMin, kMax, "-9223372036854775808", "9223372036854775807"));
        EXPECT_TRUE(q->Double(2) == 0.0 && std::signbit(q->Double(2)));
        EXPECT_EQ(std::tuple(q->Double(3), q->Double(4), q->Text(4)), std::tuple(1.7976931348623157e308, 2.5, "2.5"));
        EXPECT_EQ(std::tuple(q->Text(5), q->Text(6), q->Text(8), q->Text(9), q->Text(10)),
                  std::tuple(everyByte, notUtf8, "", "q", "q"));
        EXPECT_TRUE(q->Text(7) == large);
        // An empty text is a text, also from a view that points nowhere.
        EXPECT_EQ(q->Type(11), ColumnType::Text);
        ASSERT_OK(q->Step(row));
        EXPECT_FALSE(row);
    }

    // Stored whole in the types our tables use; "?N" names its value wherever
    // it stands.
    ASSERT_OK(db->Execute("CREATE TABLE v (t TEXT, r REAL, k INTEGER)"));
    ASSERT_OK(db->Prepare("INSERT INTO v VALUES (?3, ?2, ?1)", StatementUse::Repeated, q));
    const std::tuple<std::int64_t, double, const std::string*> rows[] = {
        {kMin, 0.1, &everyByte}, {kMax, -1e300, &notUtf8}, {0, 3e9, &large}};
    for (const auto& [k, r, t] : rows) {
        ASSERT_OK(q->BindInt64(1, k));
        ASSERT_OK(q->BindDouble(2, r));
        ASSERT_OK(q->BindText(3, *t, false));
        ASSERT_OK(q->Run());
    }
    EXPECT_EQ(Rows(*db, "SELECT k, r, length(CAST(t AS BLOB)), typeof(t) FROM v ORDER BY k"),
              "-9223372036854775808|0.1|255|text,0|3000000000.0|100000|text,9223372036854775807|-1.0e+300|9|text");
}

TEST_F(SqliteEngine, BulkRowsFillTheirColumnsAndARefusedRowSaysWhichKey) {
    ASSERT_OK(db->Execute("CREATE TABLE t (k TEXT, n INTEGER, r REAL, UNIQUE (k, n));"
                          "CREATE TABLE other (k TEXT, n INTEGER)"));
    const std::string_view columns[] = {"r", "k", "n"};
    std::unique_ptr<engine::BulkRows> rows;
    ASSERT_OK(db->OpenBulkRows("t", columns, 2, rows));
    auto add = [&](double r, std::string_view k, std::int64_t n) {
        StoreError error = rows->BindDouble(1, r);
        if (error.Ok()) error = rows->BindText(2, k, false);
        if (error.Ok()) error = rows->BindInt64(3, n);
        return error.Ok() ? rows->Add() : error;
    };
    WaitUpTo noWait{milliseconds(0)};
    ASSERT_OK(db->BeginWrite(noWait));
    EXPECT_TRUE(add(1.5, "a", 1).Ok() && add(2.5, "b", 1).Ok());
    const StoreError refused = add(3.5, "a", 1);
    EXPECT_EQ(refused.Code, StoreCode::Constraint);
    EXPECT_NE(refused.Reason.find("UNIQUE constraint failed: t.k, t.n"), std::string::npos) << refused.Reason;
    // Only the refused row is dropped.
    EXPECT_TRUE(add(4.5, "a", 2).Ok());
    ASSERT_OK(rows->Flush());
    ASSERT_OK(db->Commit(noWait));
    EXPECT_EQ(Rows(*db, "SELECT k, n, r FROM t ORDER BY r"), "a|1|1.5,b|1|2.5,a|2|4.5");

    // A table of ours without one of our columns is another program's.
    const StoreError foreign = db->OpenBulkRows("other", columns, 2, rows);
    EXPECT_EQ(foreign.Code, StoreCode::NotSnapshotDatabase);
    EXPECT_NE(foreign.Reason.find("has no column named r"), std::string::npos) << foreign.Reason;
}

TEST_F(SqliteDialect, ComparesAsciiWithoutCaseAndRendersTheTablesAsFilesStoreThem) {
    const engine::Dialect& d = db->SqlDialect();
    ASSERT_OK(db->Execute("CREATE TABLE n (v TEXT);"
                          "INSERT INTO n VALUES ('b'), ('_x'), ('A'), ('\xc3\xa4'), ('\xc3\x84'), ('a'), ('[')"));
    EXPECT_EQ(Rows(*db, "SELECT " + d.CaseInsensitive("'ABC'") + " = " + d.CaseInsensitive("'abc'") + ", " +
                            d.CaseInsensitive("'\xc3\x84'") + " = " + d.CaseInsensitive("'\xc3\xa4'")),
              "1|0");
    // Letters fold to lower case: "_" and "[" sort before them, as they do
    // before lower-case letters in bytes.
    EXPECT_EQ(Rows(*db, "SELECT v FROM n ORDER BY " + d.CaseInsensitive("v") + ", v"),
              "[,_x,A,a,b,\xc3\x84,\xc3\xa4");

    // The texts the files of every earlier version hold: a table made now
    // must read the same to anyone who compares them.
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
    EXPECT_EQ(schema::CreateTableSql(d, schema::kControl), control);
    EXPECT_EQ(schema::CreateTableSql(d, schema::kFiles), files);
    EXPECT_EQ(schema::CreateTableSql(d, schema::kDir), dirTable);

    DatabaseState state;
    state.DatabasePath = dir.File("new.db");
    ASSERT_EQ(OpenDatabase(state, OpenMode::Create).Outcome, OpenOutcome::Created);
    EXPECT_EQ(Rows(*state.Engine, "SELECT sql FROM sqlite_master WHERE type = 'table' ORDER BY name COLLATE BINARY"),
              control + "," + dirTable + "," + files);
}

}  // namespace
}  // namespace corvina
