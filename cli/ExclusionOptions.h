#pragma once
// What snapshot and schedule leave out of the walk: --exclude PATTERN and
// --exclude-from FILE, each as often as wanted, and --exclude-caches. A
// snapshot keeps its exclusions in the order they were given, whichever
// option gave them, so the options are read back in the order of the
// command line. capture/ExclusionFilter.h says how patterns match.

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/Exclusion.h"

namespace corvina::cli {

// One of the options as given.
struct ExclusionArgument {
    enum class Source { Pattern, FromFile, Caches };
    Source From = Source::Pattern;
    std::string Text;  // the pattern, the file as given, "" for --exclude-caches
};

class ExclusionOptions {
public:
    void AddTo(CLI::App* command);
    // In the order of the command line; call once the command has parsed.
    std::vector<ExclusionArgument> Given() const;

private:
    CLI::App* command_ = nullptr;
    CLI::Option* pattern_ = nullptr;
    CLI::Option* fromFile_ = nullptr;
    CLI::Option* caches_ = nullptr;
    std::vector<std::string> patterns_;
    std::vector<std::string> files_;
    bool leaveOutCaches_ = false;
};

// The exclusions of a run: the patterns as given, each file's lines in its
// place (empty lines skipped: they would match nothing; a line may end in
// CR LF), and one caches entry however often asked for. A file that cannot
// be read is bad usage: said, naming it, and kExitUsage returned, before any
// database is opened. kExitOk otherwise.
int ReadExclusionArguments(const std::vector<ExclusionArgument>& given, std::vector<Exclusion>& exclusions);

}  // namespace corvina::cli
