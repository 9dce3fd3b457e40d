#include "ui/ResultExport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgGenerator>
#include <QWidget>

#include "analysis/AnalysisSession.h"
#include "analysis/GridExport.h"
#include "base/Prompter.h"
#include "ui/FileDialogs.h"

namespace corvina {

namespace {

bool HasSuffix(const QString& path, const char* suffix) {
    return QFileInfo(path).suffix().compare(suffix, Qt::CaseInsensitive) == 0;
}

// QSaveFile writes to a temporary file and renames it over path on commit;
// a failed write or commit removes the temporary file.
bool WriteFile(const QString& path, const std::function<bool(QSaveFile&)>& write, QString& reason) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        reason = file.errorString();
        return false;
    }
    if (!write(file)) {
        reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

bool Report(Prompter& prompter, bool written, const char* what, const QString& path, const QString& reason) {
    if (!written) {
        ShowMessage(prompter,
                    std::string(what) + " could not be written to " + path.toStdString() + ":\n" +
                        reason.toStdString(),
                    Icon::Exclamation);
    }
    return written;
}

std::optional<QString> AskFile(QWidget& parent, FileDialogs& dialogs, const char* title, const QString& name,
                               const char* filter, const char* suffix) {
    FileDialogRequest request;
    request.Title = title;
    request.InitialPath = QDir::home().filePath(name);
    request.Filter = filter;
    request.DefaultSuffix = suffix;
    return dialogs.ChooseSaveFile(&parent, request);
}

// A chart drawn anew, not grabbed: a grab is as small as the pane. It is
// drawn at kSavedChartWidth pixels across or more, in the screen's layout
// and aspect with every length and font scaled by one factor, so that it
// reads as the screen does.
QImage ChartImage(QWidget& chart) {
    const int width = std::max(kSavedChartWidth, chart.width());
    const double scale = static_cast<double>(width) / std::max(1, chart.width());
    QImage image(width, static_cast<int>(std::lround(chart.height() * scale)), QImage::Format_RGB32);
    image.setDevicePixelRatio(scale);
    // Fonts take their pixel size from the device's resolution: the screen's, as laid out.
    image.setDotsPerMeterX(static_cast<int>(std::lround(chart.logicalDpiX() / 0.0254)));
    image.setDotsPerMeterY(static_cast<int>(std::lround(chart.logicalDpiY() / 0.0254)));
    image.fill(Qt::white);
    chart.render(&image);
    return image;
}

bool WriteSvg(QWidget& chart, const QString& title, QSaveFile& file) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(chart.size());
    svg.setViewBox(chart.rect());
    svg.setTitle(title);
    QPainter painter;
    if (!painter.begin(&svg)) return false;
    chart.render(&painter);
    return painter.end() && file.error() == QFileDevice::NoError;
}

}  // namespace

bool ExportGrid(QWidget& window, FileDialogs& dialogs, Prompter& prompter, const std::string& title,
                const AnalysisSession& session) {
    const std::optional<QString> path =
        AskFile(window, dialogs, "Export Grid", "analysis.csv", "CSV Files (*.csv);;JSON Files (*.json)", "csv");
    if (!path) return false;
    std::ostringstream out;
    if (HasSuffix(*path, "json")) {
        WriteGridJson(title, session, out);
    } else {
        WriteGridCsv(session.Grid(), out);
    }
    const std::string bytes = out.str();
    QString reason;
    const bool written = WriteFile(
        *path,
        [&bytes](QSaveFile& file) {
            return file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
        },
        reason);
    return Report(prompter, written, "The grid", *path, reason);
}

bool SaveChartImage(QWidget& chart, const QString& title, FileDialogs& dialogs, Prompter& prompter) {
    const std::optional<QString> path =
        AskFile(chart, dialogs, "Save Chart As", "chart.png", "PNG Images (*.png);;SVG Images (*.svg)", "png");
    if (!path) return false;
    QString reason;
    const bool written = WriteFile(
        *path,
        [&chart, &title, &path](QSaveFile& file) {
            if (HasSuffix(*path, "svg")) return WriteSvg(chart, title, file);
            return ChartImage(chart).save(&file, "PNG");
        },
        reason);
    return Report(prompter, written, "The chart", *path, reason);
}

}  // namespace corvina
