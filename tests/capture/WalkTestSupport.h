#pragma once
// A sink and an observer that record what the walk hands them, for tests that
// need no database.

#include <functional>
#include <string>
#include <vector>

#include "capture/DirectoryWalk.h"

namespace corvina::test {

class RecordingSink final : public RowSink {
public:
    // Rows as text: "F name size dir attr" and "D type name files bytes".
    std::vector<std::string> Rows;
    int FailAtRow = -1;  // the row with this index is refused

    bool FileRow(const FileRowInput& row) override {
        if (Refuse()) return false;
        Rows.push_back("F " + std::string(row.Filename) + " " + std::to_string(row.Filesize) + " " +
                       std::string(row.Filedir) + " " + std::to_string(row.Fileattr));
        Dates.push_back(FormatKey(row.Filedate));
        return true;
    }
    bool DirRow(std::string_view type, std::string_view name, std::int64_t files, double bytes) override {
        if (Refuse()) return false;
        Rows.push_back("D" + std::string(type) + " " + std::string(name) + " " + std::to_string(files) + " " +
                       std::to_string(static_cast<std::int64_t>(bytes)));
        return true;
    }
    std::vector<std::string> Dates;  // Filedate of each file row

private:
    bool Refuse() { return FailAtRow >= 0 && static_cast<int>(Rows.size()) == FailAtRow; }
};

class RecordingObserver final : public WalkObserver {
public:
    std::vector<std::string> Statuses;
    std::vector<RunCounters> Counters;
    std::vector<std::string> DebugTitles;
    std::vector<std::vector<DebugEntry>> DebugLists;
    DebugAnswer Answer = DebugAnswer::Continue;
    std::function<void(const RunCounters&)> AfterCounters;

    void OnStatus(const std::string& text) override { Statuses.push_back(text); }
    void OnCounters(const RunCounters& counters) override {
        Counters.push_back(counters);
        if (AfterCounters) AfterCounters(counters);
    }
    DebugAnswer OnDebugStop(const std::string& title, const std::vector<DebugEntry>& entries) override {
        DebugTitles.push_back(title);
        DebugLists.push_back(entries);
        return Answer;
    }
};

// The classic exchange sort on upper-cased names, quadratic: the reference
// that SortNames must agree with, ties included.
inline std::vector<std::size_t> ExchangeSortNames(const std::vector<std::string_view>& names) {
    auto upper = [](std::string_view name) {
        std::string text(name);
        for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        return text;
    };
    std::vector<std::size_t> order(names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        for (std::size_t j = i + 1; j < order.size(); ++j) {
            if (upper(names[order[i]]) > upper(names[order[j]])) std::swap(order[i], order[j]);
        }
    }
    return order;
}

}  // namespace corvina::test
