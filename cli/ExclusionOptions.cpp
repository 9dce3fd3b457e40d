#include "cli/ExclusionOptions.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "cli/CliSupport.h"
#include "cli/Output.h"

namespace corvina::cli {
namespace {

std::string NotEmpty(std::string& text, const char* what) {
    return text.empty() ? std::string("the ") + what + " is empty" : std::string();
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole file, or the system's reason why not.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& reason) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        reason = std::strerror(errno);
        return false;
    }
    char buffer[64 * 1024];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) bytes.append(buffer, n);
    if (std::ferror(file.get()) != 0) {
        // A directory opens and fails at its first read.
        reason = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

void ExclusionOptions::AddTo(CLI::App* command) {
    command_ = command;
    // One value per occurrence: "--exclude '*.o' PATH" must leave PATH to its
    // positional, not take it as a second pattern.
    pattern_ = command
                   ->add_option("--exclude", patterns_,
                                "Leave out entries whose name matches the shell PATTERN, or whose path below PATH "
                                "does when it holds a /; repeatable")
                   ->allow_extra_args(false)
                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                   ->check(CLI::Validator([](std::string& text) { return NotEmpty(text, "pattern"); }, "PATTERN"));
    fromFile_ = command
                    ->add_option("--exclude-from", files_, "Leave out what the patterns of FILE match, one a line; "
                                                           "repeatable")
                    ->allow_extra_args(false)
                    ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                    ->check(CLI::Validator([](std::string& text) { return NotEmpty(text, "file name"); }, "FILE"));
    caches_ = command->add_flag("--exclude-caches", leaveOutCaches_,
                                "Leave out the contents of directories tagged by a CACHEDIR.TAG as caches");
}

std::vector<ExclusionArgument> ExclusionOptions::Given() const {
    std::vector<ExclusionArgument> given;
    std::map<const CLI::Option*, std::size_t> taken;
    for (const CLI::Option* option : command_->parse_order()) {
        if (option == caches_) {
            given.push_back({ExclusionArgument::Source::Caches, {}});
            continue;
        }
        if (option != pattern_ && option != fromFile_) continue;
        const std::vector<std::string>& values = option == pattern_ ? patterns_ : files_;
        const std::size_t next = taken[option]++;
        if (next >= values.size()) continue;
        given.push_back({option == pattern_ ? ExclusionArgument::Source::Pattern : ExclusionArgument::Source::FromFile,
                         values[next]});
    }
    return given;
}

int ReadExclusionArguments(const std::vector<ExclusionArgument>& given, std::vector<Exclusion>& exclusions) {
    exclusions.clear();
    bool caches = false;
    for (const ExclusionArgument& argument : given) {
        switch (argument.From) {
            case ExclusionArgument::Source::Pattern:
                exclusions.push_back({ExclusionKind::Pattern, argument.Text});
                break;
            case ExclusionArgument::Source::Caches:
                if (!caches) exclusions.push_back({ExclusionKind::Caches, {}});
                caches = true;
                break;
            case ExclusionArgument::Source::FromFile: {
                std::string bytes, reason;
                if (!ReadWholeFile(argument.Text, bytes, reason)) {
                    PrintMessage("cannot read the patterns of --exclude-from " + argument.Text + ": " + reason);
                    return kExitUsage;
                }
                for (std::size_t start = 0; start < bytes.size();) {
                    std::size_t end = bytes.find('\n', start);
                    if (end == std::string::npos) end = bytes.size();
                    std::string line = bytes.substr(start, end - start);
                    if (!line.empty() && line.back() == '\r') line.pop_back();
                    if (!line.empty()) exclusions.push_back({ExclusionKind::Pattern, std::move(line)});
                    start = end + 1;
                }
                break;
            }
        }
    }
    return kExitOk;
}

}  // namespace corvina::cli
