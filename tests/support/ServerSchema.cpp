#include "tests/support/ServerSchema.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace corvina::test {

std::string TestServer() {
    const char* server = std::getenv("CORVINA_TEST_SERVER");
    return server != nullptr ? server : "";
}

std::string RunOnServer(const std::string& location, const std::string& sql) {
    PGconn* connection = PQconnectdb(location.c_str());
    std::string message;
    if (PQstatus(connection) != CONNECTION_OK) {
        message = PQerrorMessage(connection);
    } else {
        PGresult* result = PQexec(connection, sql.c_str());
        for (int r = 0; r < PQntuples(result); ++r) {
            for (int c = 0; c < PQnfields(result); ++c) message += std::string(c ? "|" : "") + PQgetvalue(result, r, c);
            message += "\n";
        }
        if (PQresultStatus(result) != PGRES_COMMAND_OK && PQresultStatus(result) != PGRES_TUPLES_OK) {
            message = PQresultErrorMessage(result);
        }
        PQclear(result);
    }
    PQfinish(connection);
    return message;
}

ServerSchema::ServerSchema() {
    if (TestServer().empty()) return;
    static std::atomic<int> counter{0};
    name_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    if (std::string message = RunOnServer(TestServer(), "CREATE SCHEMA " + name_); !message.empty()) std::abort();
}

ServerSchema::~ServerSchema() {
    if (!name_.empty()) RunOnServer(TestServer(), "SET client_min_messages = warning; DROP SCHEMA " + name_ + " CASCADE");
}

std::string ServerSchema::Location() const { return TestServer() + " options='-c search_path=" + name_ + "'"; }

}  // namespace corvina::test
