#pragma once
// The File menu's "Export Grid…" and "Save Chart As…" of the analysis window
// (the trend window saves its chart too):
// each asks for a file through the FileDialogs and writes the result there,
// the grid as CSV or JSON (the writers of "corvina-cli analyse"), the chart as
// PNG or SVG, the format chosen by the file's suffix.
//
// Error policy: a file is written under a temporary name beside the chosen one
// and renamed over it only once every byte is out, so a failed write leaves
// the chosen name as it was; the failure is said through the prompter with the
// reason the system gave.

#include <string>

class QString;
class QWidget;

namespace corvina {

class AnalysisSession;
class FileDialogs;
class Prompter;

// True when the file was written; false when the user cancelled or the write
// failed (said).
bool ExportGrid(QWidget& window, FileDialogs& dialogs, Prompter& prompter, const std::string& title,
                const AnalysisSession& session);
// The narrowest a saved PNG of a chart is, in pixels.
inline constexpr int kSavedChartWidth = 1600;

// The chart as it shows on screen, a PNG drawn at kSavedChartWidth pixels
// across or more; title names the SVG document.
bool SaveChartImage(QWidget& chart, const QString& title, FileDialogs& dialogs, Prompter& prompter);

}  // namespace corvina
