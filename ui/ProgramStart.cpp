#include "ui/ProgramStart.h"

#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QSettings>
#include <QThread>

#include "app/Settings.h"
#include "app/Startup.h"
#include "store/SnapshotDatabase.h"
#include "ui/TakeSnapshotWindow.h"
#include "ui/AnalysisLauncher.h"
#include "ui/FileDialogs.h"
#include "ui/MessageBoxPrompter.h"

namespace corvina {

std::unique_ptr<TakeSnapshotWindow> Main(ProgramContext& context, const std::string& programDir) {
    context.Database.DatabasePath = ResolveStartupDatabasePath(context.Settings, programDir);
    if (OpenSnapshotDatabase(context.Database, context.Messages, context.Ender) == OpenOutcome::Ended) {
        return nullptr;
    }
    auto window = std::make_unique<TakeSnapshotWindow>(context);
    window->show();
    return window;
}

void ApplicationEnder::EndProgram(int exitCode) {
    settings_.sync();
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) CloseSnapshotDatabase(database_);
    std::fflush(nullptr);
    // No static destructors: a snapshot worker may still hold the database.
    std::_Exit(exitCode);
}

int RunProgram(int argc, char** argv) {
    QApplication app(argc, argv);
    // The names the settings store and the per-user data folder go by.
    QApplication::setOrganizationName("Corvina");
    QApplication::setApplicationName("Corvina");
    std::unique_ptr<QSettings> settings = OpenProgramSettings();
    DatabaseState database;
    MessageBoxPrompter prompter;
    ApplicationEnder ender(database, *settings);
    QtFileDialogs dialogs;
    ProgramContext context{database, prompter, ender, *settings, dialogs};

    std::unique_ptr<TakeSnapshotWindow> window = Main(context, ProgramFolder());
    if (!window) return 1;
    AnalysisLauncher analysis(context, *window);
    // The program ends when its last window closes.
    const int result = QApplication::exec();
    window.reset();
    CloseSnapshotDatabase(database);
    settings->sync();
    return result;
}

}  // namespace corvina
