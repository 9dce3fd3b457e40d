#include "ui/ProgramStart.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include <QApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QSettings>
#include <QThread>

#include "app/Settings.h"
#include "app/Startup.h"
#include "app/Version.h"
#include "app/OpenDialogue.h"
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

namespace {

constexpr const char* kUsage =
    "Usage: corvina [--version] [--help] [Qt options]\n"
    "Takes snapshots of where disk space goes and analyses how it changes over time.\n"
    "corvina-cli does the same without a window; see corvina(1) and corvina-cli(1).\n";

// --version and --help are answered before the application object is made,
// so that they work where there is no display.
std::optional<int> AnswerInformationOptions(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--version") {
            std::printf("corvina %.*s\n", static_cast<int>(kVersion.size()), kVersion.data());
            return 0;
        }
        if (option == "--help" || option == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    return std::nullopt;
}

// The icon of every window, drawn from the SVG at the sizes window managers ask for.
QIcon ProgramIcon() {
    QSvgRenderer svg(QStringLiteral(":/corvina.svg"));
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

int RunProgram(int argc, char** argv) {
    if (std::optional<int> done = AnswerInformationOptions(argc, argv)) return std::fflush(stdout) == 0 ? *done : 1;
    QApplication app(argc, argv);
    // The names the settings store and the per-user data folder go by.
    QApplication::setOrganizationName("Corvina");
    QApplication::setApplicationName("Corvina");
    QApplication::setWindowIcon(ProgramIcon());
    QGuiApplication::setDesktopFileName("org.corvina.Corvina");
    std::unique_ptr<QSettings> settings = OpenProgramSettings();
    DatabaseState database;
    MessageBoxPrompter prompter;
    ApplicationEnder ender(database, *settings);
    QtFileDialogs dialogs;
    ProgramContext context{database, prompter, ender, *settings, dialogs};

    std::unique_ptr<TakeSnapshotWindow> window = Main(context, DefaultDatabaseFolder());
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
