#pragma once
// The database server a test run was started beside (tests/server/with_server.sh
// starts one and sets CORVINA_TEST_SERVER), and a schema of its own for each
// test, so that tests never see each other's tables.

#include <string>

namespace corvina::test {

// The server's connection text; "" when the tests run without one.
std::string TestServer();

// Created on the server when there is one, dropped with everything in it
// afterwards. Location() is the connection text that puts the schema first.
class ServerSchema {
public:
    ServerSchema();
    ~ServerSchema();
    ServerSchema(const ServerSchema&) = delete;
    ServerSchema& operator=(const ServerSchema&) = delete;

    std::string Location() const;
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

// Runs sql on the test server as it stands: the rows of a query, fields
// joined by "|" and each row ended by "\n"; "" for a command that ran; else
// the server's message.
std::string RunOnServer(const std::string& location, const std::string& sql);

}  // namespace corvina::test
