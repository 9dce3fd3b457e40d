#include "app/Startup.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include "app/Settings.h"

namespace corvina {

std::string DefaultDatabasePath(const std::string& programDir) {
    const QString fileName = QStringLiteral("corvina.mdb");
    QString folder = QString::fromStdString(programDir);
    // A program installed in a system folder cannot keep its database there:
    // the per-user data folder takes its place.
    if (folder.isEmpty() || ::access(folder.toLocal8Bit().constData(), W_OK) != 0) {
        if (QCoreApplication::organizationName().isEmpty()) QCoreApplication::setOrganizationName("Corvina");
        if (QCoreApplication::applicationName().isEmpty()) QCoreApplication::setApplicationName("Corvina");
        folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (folder.isEmpty()) folder = QDir::homePath() + QStringLiteral("/.local/share/Corvina");
        QDir().mkpath(folder);
    }
    return QDir(folder).filePath(fileName).toStdString();
}

std::string ResolveStartupDatabasePath(QSettings& settings, const std::string& programDir) {
    std::vector<std::string> recent = ReadRecentList(settings);
    if (!recent.empty()) return recent.front();
    std::string path = DefaultDatabasePath(programDir);
    settings.setValue(QStringLiteral("Recent/File1"), QString::fromStdString(path));
    settings.sync();
    return path;
}

std::string ProgramFolder() {
    // Read from the kernel rather than from QCoreApplication: the tool has no
    // application object.
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}

std::string DefaultDatabaseFolder() {
    const std::string program = ProgramFolder();
    std::error_code error;
    const bool built = !program.empty() && std::filesystem::equivalent(program, CORVINA_BUILD_BIN_DIR, error);
    return built && !error ? program : std::string();
}

}  // namespace corvina
