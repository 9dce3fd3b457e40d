#include "cli/CliSupport.h"

#include <cstdio>
#include <filesystem>

#include <QSettings>

#include "app/Settings.h"
#include "app/Startup.h"
#include "store/Catalogue.h"

namespace corvina::cli {

Answer StderrPrompter::Ask(const Message& message) {
    if (message.MessageButtons == Buttons::YesNo) {
        // The tool never asks: the only question of the store is whether to
        // create a missing database, and a command needs one.
        std::fprintf(stderr, "corvina: %s Yes.\n", message.Text.c_str());
        return Answer::Yes;
    }
    std::fprintf(stderr, "corvina: %s\n", message.Text.c_str());
    return Answer::Ok;
}

std::string ResolveDatabasePath(const std::string& dbOption) {
    if (!dbOption.empty()) return std::filesystem::absolute(dbOption).lexically_normal().string();
    auto settings = OpenProgramSettings();
    return ResolveStartupDatabasePath(*settings, ProgramFolder());
}

void AddDbOption(CLI::App* command, std::string& db) {
    command
        ->add_option("--db", db, "Snapshot database file (default: the one the window program opens)")
        ->check(CLI::Validator(
            [](std::string& text) { return text.empty() ? std::string("the database file name is empty") : ""; },
            "FILE"));
}

int OpenForCommand(DatabaseState& state, const std::string& dbOption, StderrPrompter& prompter, OpenMode mode) {
    const std::string path = ResolveDatabasePath(dbOption);
    state.DatabasePath = path;
    ThrowingEnder ender;
    OpenOutcome outcome = OpenSnapshotDatabase(state, prompter, ender, mode);
    if (outcome == OpenOutcome::Missing) {
        std::fprintf(stderr, "corvina: No snapshot database at %s\n", path.c_str());
        return kExitFailed;
    }
    if (outcome == OpenOutcome::Created) {
        std::fprintf(stderr, "corvina: created snapshot database %s\n", state.DatabasePath.c_str());
    }
    return state.DatabasePath.empty() ? kExitFailed : kExitOk;
}

std::optional<DateTime> ResolveKey(DatabaseState& state, const std::string& text) {
    if (text == "latest") return LatestSnapshot(state);
    return DateTime::Parse(text);
}

}  // namespace corvina::cli
