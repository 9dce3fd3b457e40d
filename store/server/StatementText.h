#pragma once
// The one rewrite this engine makes of the SQL it is given: parameter markers.
// "?" takes the number after the highest one so far, "?N" the number N, and
// ":name" the number of its first appearance (or the next one). Literals,
// quoted names and comments are copied as they stand, markers in them
// included; "::" is a cast, not a name.

#include <string>
#include <string_view>
#include <vector>

namespace corvina::server {

struct StatementText {
    std::string Sql;                 // with $N markers
    std::vector<std::string> Names;  // Names[i] is the name of $(i+1) (":q"), "" for a positional one
    int ParameterCount = 0;
    // The statement is a query (SELECT, VALUES, TABLE, WITH): its rows are
    // read through a cursor.
    bool ReadsRows = false;
};

StatementText WithServerMarkers(std::string_view sql);

}  // namespace corvina::server
