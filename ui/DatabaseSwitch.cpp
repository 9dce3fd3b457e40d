#include "ui/DatabaseSwitch.h"

#include "app/Settings.h"
#include "app/OpenDialogue.h"
#include "store/SnapshotDatabase.h"

namespace corvina {

SwitchOutcome SwitchDatabase(const ProgramContext& context, const std::string& path) {
    DatabaseState chosen;
    chosen.DatabasePath = path;
    chosen.BusyTimeoutMs = context.Database.BusyTimeoutMs;
    chosen.ServerNotices = context.Database.ServerNotices;
    const OpenOutcome outcome = OpenSnapshotDatabase(chosen, context.Messages, context.Ender);
    const bool opened = outcome == OpenOutcome::Opened || outcome == OpenOutcome::Created;
    // A program that ends is left holding what it tried to open, as when the
    // old database was closed first.
    if (opened || outcome == OpenOutcome::Ended) SwapDatabaseStates(context.Database, chosen);
    // chosen now holds whichever database is not in use, and closes it as it goes.
    if (outcome == OpenOutcome::Ended) return SwitchOutcome::Ended;
    if (!opened) return SwitchOutcome::Kept;
    AddRecentDatabase(context.Settings, context.Database.DatabasePath);
    return SwitchOutcome::Switched;
}

QString DatabaseStatusText(const DatabaseState& database) {
    if (!database.IsUsable()) return QStringLiteral("No snapshot database is open");
    return "Snapshot database is: " + QString::fromStdString(database.DatabasePath);
}

}  // namespace corvina
