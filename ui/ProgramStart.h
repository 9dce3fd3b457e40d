#pragma once
// Start-up of the window program and the way it ends.

#include <memory>
#include <string>

#include "base/Prompter.h"
#include "ui/ProgramContext.h"

namespace corvina {

class TakeSnapshotWindow;
struct DatabaseState;

// Start-up: the database path from the settings store (the default file,
// stored at once, when there is none), OpenSnapshotDatabase with its questions
// and messages, then the take-snapshot window, shown. The database may be left
// unusable (declined or foreign file); the window opens all the same. Null
// when the open ended the program.
std::unique_ptr<TakeSnapshotWindow> Main(ProgramContext& context, const std::string& programDir);

// Ends the window program at once: settings written out, the database closed
// (when called on the GUI thread; a run on the worker is rolled back by the
// database on its next open), then the process exits. Never returns.
class ApplicationEnder : public ProgramEnder {
public:
    ApplicationEnder(DatabaseState& database, QSettings& settings) : database_(database), settings_(settings) {}
    void EndProgram(int exitCode) override;

private:
    DatabaseState& database_;
    QSettings& settings_;
};

// The whole program: builds the context, runs Main and the event loop.
int RunProgram(int argc, char** argv);

}  // namespace corvina
