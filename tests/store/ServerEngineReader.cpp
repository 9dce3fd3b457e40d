// Reads every row of a query of COUNT generated rows through the server
// engine, touching each value, and prints how many it read and how long the
// reading took: the child whose peak memory the server engine's scan test
// (EngineTest) measures.
//
//   server_engine_reader LOCATION COUNT

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "store/server/ServerEngine.h"

int main(int argc, char** argv) {
    using namespace corvina;
    if (argc != 3) return 2;
    engine::OpenRequest request;
    request.Location = argv[1];
    engine::OpenedEngine opened;
    std::unique_ptr<engine::Query> query;
    StoreError error = server::OpenServerEngine(request, opened);
    if (error.Ok()) {
        error = opened.Database->Prepare(
            "SELECT g, 'row ' || g, g * 0.5, decode(lpad(to_hex(g), 8, '0'), 'hex') FROM generate_series(1, ?) g",
            StatementUse::Once, query);
    }
    if (error.Ok()) error = query->BindInt64(1, std::atoll(argv[2]));
    const auto start = std::chrono::steady_clock::now();
    long long rows = 0, bytes = 0;
    for (bool row = true; error.Ok();) {
        error = query->Step(row);
        if (!row) break;
        ++rows;
        bytes += query->Int64(0) > 0 ? static_cast<long long>(query->Text(1).size() + query->Text(2).size() +
                                                               query->Text(3).size())
                                     : 0;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!error.Ok()) {
        std::fprintf(stderr, "%s\n", error.Details().c_str());
        return 1;
    }
    std::printf("%lld rows %lld bytes %.3f s\n", rows, bytes, seconds);
    return 0;
}
