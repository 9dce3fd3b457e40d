// The texts the server side of the store works from: which --db texts name a
// server, what of them may be shown, and how a statement reads on the server.

#include <gtest/gtest.h>

#include "store/ServerConnection.h"

namespace corvina {
namespace {

TEST(ServerLocation, UrisAndKeywordStringsNameAServerAndLoseTheirPasswordButNothingElse) {
    const std::pair<const char*, const char*> shown[] = {
        {"postgresql://u:pw@db.example:5432/snaps?sslmode=require&password=x", "postgresql://u@db.example:5432/snaps?sslmode=require"},
        {"postgres://db.example/snaps?password=x&sslmode=require", "postgres://db.example/snaps?sslmode=require"},
        {"postgresql:///snaps?host=/run/pg", "postgresql:///snaps?host=/run/pg"},
        {"host=/run/pg password='a b\\'c' dbname=snaps", "host=/run/pg dbname=snaps"},
        {"password = pw host=h options='-c search_path=x'", "host=h options='-c search_path=x'"},
        {"dbname=snaps user=me", "dbname=snaps user=me"},
    };
    for (const auto& [given, kept] : shown) {
        EXPECT_TRUE(IsServerLocation(given)) << given;
        EXPECT_EQ(WithoutPassword(given), kept);
    }
    for (const char* file : {"snap.mdb", "/tmp/host=a.mdb", "./dbname=x", "colour=blue", ""}) {
        EXPECT_FALSE(IsServerLocation(file)) << file;
    }
}

TEST(ServerStatementText, ParametersBecomeNumberedAndHintsOfTheFileEngineGo) {
    ServerStatementText text = TranslateForServer(
        "SELECT ':x?', a FROM t WHERE b = :d1 AND c = :q COLLATE NOCASE AND d = :d1 AND e = ? ORDER BY a COLLATE nocase");
    EXPECT_EQ(text.Sql, "SELECT ':x?', a FROM t WHERE b = $1 AND c = $2  AND d = $1 AND e = $3 ORDER BY a ");
    EXPECT_EQ(text.Names, (std::vector<std::string>{":d1", ":q", ""}));
    EXPECT_EQ(TranslateForServer("SELECT 1 FROM files a NOT INDEXED WHERE x = ?2 AND y = ?1").Sql,
              "SELECT 1 FROM files a  WHERE x = $2 AND y = $1");
    EXPECT_EQ(TranslateForServer("CREATE TABLE IF NOT EXISTS Host (Snapshot TEXT, Size INTEGER, Share REAL)").Sql,
              "CREATE TABLE IF NOT EXISTS Host (Snapshot TEXT COLLATE \"C\", Size BIGINT, Share DOUBLE PRECISION)");
    EXPECT_TRUE(TranslateForServer("  PRAGMA mmap_size = 1").Skip);
}

}  // namespace
}  // namespace corvina
