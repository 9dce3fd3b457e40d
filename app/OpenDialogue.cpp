#include "app/OpenDialogue.h"

#include <utility>

namespace corvina {
namespace {

constexpr std::string_view kErrorTitle = "Corvina Database Error";

std::string_view NoteText(OpenNote note) {
    switch (note) {
        case OpenNote::CreateFileFailed: return "Database created failed err=";
        case OpenNote::ControlNotMigrated: return "Table Control cannot be migrated";
        case OpenNote::ControlUpgraded: return "Note: Control table upgraded to new version";
        case OpenNote::DirNotMigrated: return "Table dir cannot be migrated";
        case OpenNote::DirUpgradeFailed: return "Error: database cannot be upgraded to new format";
        case OpenNote::DirUpgraded: return "Note: Directory table upgraded to new version";
    }
    return {};
}

// What a failure at each step of the open is reported as.
std::string_view StepPhrase(OpenStep step) {
    switch (step) {
        case OpenStep::Open: return "Unable to open system database ";
        case OpenStep::CreateFile: return "Can't create system database ";
        case OpenStep::CreateControl: return "Can't create Control table ";
        case OpenStep::CreateFiles: return "Can't create File table ";
        case OpenStep::CreateDir: return "Can't create Dir table ";
        case OpenStep::Control: return "Unable to open Control table ";
        case OpenStep::Files: return "Unable to open File table database ";
        case OpenStep::Dir: return "Unable to open Dir table ";
    }
    return {};
}

void AskWithTitle(Prompter& prompter, std::string text) {
    Message message;
    message.Text = std::move(text);
    message.Title = kErrorTitle;
    message.MessageIcon = Icon::Exclamation;
    prompter.Ask(message);
}

// Says the result of one open; path is the location as the user gave it
// (the state's is cleared by a failure).
OpenOutcome Say(const OpenResult& result, const std::string& path, Prompter& prompter, ProgramEnder& ender) {
    for (OpenNote note : result.Notes) {
        std::string text(NoteText(note));
        if (note == OpenNote::CreateFileFailed) text += StoreCodeName(result.Error.Code);
        ShowMessage(prompter, std::move(text));
    }
    switch (result.Outcome) {
        case OpenOutcome::Invalid:
            if (result.NoRegularFile) {
                AskWithTitle(prompter, path + " is not a snapshot database file");
            } else {
                AskWithTitle(prompter, "Database " + path + " does not seem to be a valid Corvina database");
            }
            break;
        case OpenOutcome::Damaged: AskWithTitle(prompter, DamagedDatabaseText(path, result.Error.Reason)); break;
        case OpenOutcome::Busy: ShowMessage(prompter, BusyDatabaseText(path), Icon::Exclamation); break;
        case OpenOutcome::Unreachable:
            ShowMessage(prompter, "Cannot reach the snapshot database " + path + "\n" + result.Error.Details(),
                        Icon::Exclamation);
            break;
        case OpenOutcome::Failed:
            ShowMessage(prompter, ProgramAbortedText(StepPhrase(result.Step), path, result.Error), Icon::Exclamation);
            ender.EndProgram(1);
            return OpenOutcome::Ended;
        default: break;
    }
    return result.Outcome;
}

}  // namespace

std::string ProgramAbortedText(std::string_view phrase, std::string_view path, const StoreError& error) {
    std::string text(phrase);
    text += path;
    text += '\n';
    text += error.Details();
    text += ". Program aborted";
    return text;
}

OpenOutcome OpenSnapshotDatabase(DatabaseState& state, Prompter& prompter, ProgramEnder& ender, OpenMode mode) {
    std::string path = IsServerLocation(state.DatabasePath) ? WithoutPassword(state.DatabasePath) : state.DatabasePath;
    OpenResult result = OpenDatabase(state, mode);
    if (result.Outcome == OpenOutcome::NeedsCreating) {
        if (!AskYesNo(prompter, "System Database " + path + " does not exist - would you like to create it?")) {
            state.DatabasePath.clear();
            return OpenOutcome::Declined;
        }
        result = OpenDatabase(state, OpenMode::Create);
    }
    return Say(result, path, prompter, ender);
}

}  // namespace corvina
