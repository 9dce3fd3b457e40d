#include "cli/CliSupport.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <QSettings>

#include "app/Settings.h"
#include "app/Startup.h"
#include "cli/Output.h"
#include "store/Catalogue.h"
#include "store/PathStyle.h"

namespace corvina::cli {

// A message keeps its own line breaks (the window program shows it in a box);
// continuation lines are indented, so that none passes for a message of its own.
Answer StderrPrompter::Ask(const Message& message) {
    if (message.MessageButtons == Buttons::YesNo) {
        // The tool never asks: the only question of the store is whether to
        // create a missing database, and a command needs one.
        WriteErr("corvina: " + EscapeEachLine(message.Text, "\n  ") + " Yes.\n");
        return Answer::Yes;
    }
    WriteErr("corvina: " + EscapeEachLine(message.Text, "\n  ") + "\n");
    return Answer::Ok;
}

std::string ResolveDatabasePath(const std::string& dbOption) {
    if (IsServerLocation(dbOption)) return dbOption;
    if (!dbOption.empty()) return std::filesystem::absolute(dbOption).lexically_normal().string();
    auto settings = OpenProgramSettings();
    return ResolveStartupDatabasePath(*settings, DefaultDatabaseFolder());
}

void AddDbOption(CLI::App* command, std::string& db) {
    command
        ->add_option("--db", db,
                     "Snapshot database file, or a PostgreSQL server's postgresql:// URI or keyword string "
                     "(default: the one the window program opens)")
        ->check(CLI::Validator(
            [](std::string& text) { return text.empty() ? std::string("the database file name is empty") : ""; },
            "FILE"));
}

void AddHostLabelOption(CLI::App* command, std::string& label) {
    command
        ->add_option("--host-label", label,
                     "Host the snapshot is recorded as taken on (default: this machine's name)")
        ->check(CLI::Validator(
            [](std::string& text) { return text.empty() ? std::string("the host label is empty") : ""; }, "TEXT"));
}

namespace {
std::string gLastDatabasePath;  // one command per process
}  // namespace

const std::string& LastDatabasePath() { return gLastDatabasePath; }

int OpenForCommand(DatabaseState& state, const std::string& dbOption, StderrPrompter& prompter, OpenMode mode) {
    const std::string path = ResolveDatabasePath(dbOption);
    gLastDatabasePath = WithoutPassword(path);
    state.DatabasePath = path;
    // A server's notices are said as the tool's own messages are, escaped:
    // a trigger's text could otherwise retitle or clear the terminal.
    state.ServerNotices = [](std::string_view text) {
        WriteErr("corvina: server: " + EscapeEachLine(text, "\n  ") + "\n");
    };
    ThrowingEnder ender;
    OpenOutcome outcome = OpenSnapshotDatabase(state, prompter, ender, mode);
    if (outcome == OpenOutcome::Missing) {
        PrintMessage("No snapshot database at " + path);
        return kExitFailed;
    }
    if (outcome == OpenOutcome::Created) {
        PrintMessage("created snapshot database " + state.DatabasePath);
    }
    return state.DatabasePath.empty() ? kExitFailed : kExitOk;
}

void EndOnStoreError(const DatabaseState& state, const StoreError& error) {
    PrintMessage(StoreErrorText(state.DatabasePath, error));
    throw ProgramEnd{kExitFailed};
}

std::optional<DateTime> ResolveKey(DatabaseState& state, const std::string& text) {
    if (text != "latest") return DateTime::Parse(text);
    std::optional<DateTime> latest;
    if (StoreError error = LatestSnapshot(state, latest); !error.Ok()) EndOnStoreError(state, error);
    return latest;
}

bool HasSnapshot(DatabaseState& state, const DateTime& key) {
    bool exists = false;
    if (StoreError error = SnapshotExists(state, key, exists); !error.Ok()) EndOnStoreError(state, error);
    return exists;
}

std::string NormalizeBasePath(const std::string& path) {
    std::error_code error;
    std::string text = std::filesystem::absolute(path, error).lexically_normal().string();
    if (error) return path;
    return std::string(WithoutTrailingSeparators(text, PathStyle::Posix));
}

// SIZE as 0, 4096, 10K, 1.5M: K is 1024, M is 1024 * 1024; a fraction of a
// byte rounds half to even. Empty text when the value is fine, else why not.
std::string ParseSize(const std::string& text, std::int64_t* bytes) {
    if (text.empty()) return "empty size";
    std::string number = text;
    double unit = 1;
    char last = number.back();
    if (last == 'K' || last == 'k') unit = 1024;
    if (last == 'M' || last == 'm') unit = 1024.0 * 1024.0;
    if (unit != 1) number.pop_back();
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos ||
        number.find('.') != number.rfind('.') || number == ".") {
        return "not a size: " + text + " (examples: 0, 4096, 10K, 1.5M)";
    }
    double value = std::strtod(number.c_str(), nullptr) * unit;
    double rounded = std::nearbyint(value);  // the default rounding mode: half to even
    if (!(rounded < 9.0e18)) return "size too large: " + text;
    if (bytes != nullptr) *bytes = static_cast<std::int64_t>(rounded);
    return {};
}

}  // namespace corvina::cli
