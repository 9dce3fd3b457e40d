#pragma once
// A history to prune, the same on a file and on a server: nightly snapshots
// of /srv on host north from 1 to 10 March 2024 at 02:00 and one more at
// 14:00 on the 10th, and /home on host south on 1 February and 5 March at 03:00. Each
// holds 300 files rows, so that what a prune removes shows in the file's size.

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "store/HostLabel.h"
#include "store/WriteTransaction.h"
#include "tests/support/SnapshotRows.h"

namespace corvina::test {

inline void AddPruneHistory(const std::string& location) {
    std::vector<std::pair<std::string, std::string>> keys;  // key, base path
    for (int day = 1; day <= 10; ++day) keys.emplace_back(fmt::format("2024-03-{:02} 02:00:00", day), "/srv");
    keys.emplace_back("2024-03-10 14:00:00", "/srv");
    keys.emplace_back("2024-02-01 03:00:00", "/home");
    keys.emplace_back("2024-03-05 03:00:00", "/home");
    WithDatabase(location, [&](DatabaseState& state) {
        for (const auto& [key, base] : keys) {
            SnapshotRows snap{.Key = key.c_str(), .BasePath = base, .Dirs = {{"2", base, 300, 300.0 * 4096}}, .Files = {}};
            for (int i = 0; i < 300; ++i) {
                snap.Files.push_back({base + "/data", fmt::format("report-{:04}-of-a-long-series.pdf", i), 4096});
            }
            AddSnapshot(state, snap);
        }
        WaitUpTo noWait(std::chrono::milliseconds(0));
        WriteTransaction transaction(state);
        ASSERT_TRUE(transaction.Begin(noWait).Ok());
        for (const auto& [key, base] : keys) {
            ASSERT_TRUE(WriteHostLabel(state, Key(key.c_str()), base == "/srv" ? "north" : "south").Ok());
        }
        ASSERT_TRUE(transaction.Commit(noWait).Ok());
    });
}

// What a dry run of --keep-daily 3 --keep-last 1 --host north says of that history.
inline const std::string kPruneDryRun =
    "keep\t2024-03-10 14:00:00\t/srv\tnorth\n"
    "remove\t2024-03-10 02:00:00\t/srv\tnorth\n"
    "keep\t2024-03-09 02:00:00\t/srv\tnorth\n"
    "keep\t2024-03-08 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-07 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-06 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-05 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-04 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-03 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-02 02:00:00\t/srv\tnorth\n"
    "remove\t2024-03-01 02:00:00\t/srv\tnorth\n"
    "8 snapshots would be removed, 3 kept\n";
// The keys left after it, in key order.
inline const std::string kPrunedKeys =
    "2024-02-01 03:00:00,2024-03-05 03:00:00,2024-03-08 02:00:00,2024-03-09 02:00:00,2024-03-10 14:00:00";

}  // namespace corvina::test
