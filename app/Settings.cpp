#include "app/Settings.h"

#include <QSettings>
#include <QString>

namespace corvina {
namespace {

QString Key(int number) { return QStringLiteral("Recent/File%1").arg(number); }

}  // namespace

std::unique_ptr<QSettings> OpenProgramSettings() {
    return std::make_unique<QSettings>(QStringLiteral("Corvina"), QStringLiteral("Corvina"));
}

std::vector<std::string> ReadRecentList(QSettings& settings) {
    std::vector<std::string> list;
    for (int i = 1; i <= kRecentCapacity; ++i) {
        QString path = settings.value(Key(i)).toString();
        if (path.isEmpty()) break;
        list.push_back(path.toStdString());
    }
    return list;
}

void AddRecentDatabase(QSettings& settings, const std::string& path) {
    if (path.empty()) return;
    std::vector<std::string> list{path};
    for (const std::string& entry : ReadRecentList(settings)) {
        if (list.size() == kRecentCapacity) break;
        if (entry != path) list.push_back(entry);
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        settings.setValue(Key(static_cast<int>(i) + 1), QString::fromStdString(list[i]));
    }
    settings.sync();
}

ExclusionSettings ReadExclusionSettings(QSettings& settings) {
    ExclusionSettings exclusions;
    exclusions.Patterns = settings.value(QStringLiteral("Snapshot/Exclude")).toString().toStdString();
    exclusions.Caches = settings.value(QStringLiteral("Snapshot/ExcludeCaches"), false).toBool();
    return exclusions;
}

void WriteExclusionSettings(QSettings& settings, const ExclusionSettings& exclusions) {
    settings.setValue(QStringLiteral("Snapshot/Exclude"), QString::fromStdString(exclusions.Patterns));
    settings.setValue(QStringLiteral("Snapshot/ExcludeCaches"), exclusions.Caches);
}

std::vector<Exclusion> ExclusionsOf(const ExclusionSettings& exclusions) {
    std::vector<Exclusion> list;
    const std::string& text = exclusions.Patterns;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // A line of blanks is a slip of the keyboard, not a name of blanks.
        if (line.find_first_not_of(" \t\r") != std::string::npos) list.push_back({ExclusionKind::Pattern, line});
        start = end + 1;
    }
    if (exclusions.Caches) list.push_back({ExclusionKind::Caches, {}});
    return list;
}

std::string RecentCaption(int number, const std::string& path) {
    std::string caption = "&" + std::to_string(number) + " ";
    // A menu takes "&" as the mark of an access key; "&&" shows one "&".
    for (char c : path) caption += c == '&' ? std::string("&&") : std::string(1, c);
    return caption;
}

std::string PathFromRecentCaption(const std::string& caption) {
    std::size_t blank = caption.find(' ');
    if (blank == std::string::npos) return {};
    std::string path;
    for (std::size_t i = blank + 1; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') ++i;
        path += caption[i];
    }
    return path;
}

}  // namespace corvina
