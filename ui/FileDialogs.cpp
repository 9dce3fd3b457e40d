#include "ui/FileDialogs.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace corvina {

namespace {

std::optional<QString> RunDialog(QWidget* parent, const FileDialogRequest& request, QFileDialog::AcceptMode mode) {
    QFileDialog dialog(parent, request.Title, request.InitialPath, request.Filter);
    dialog.setAcceptMode(mode);
    // An open dialog still accepts a new name: opening a missing database
    // offers to create it.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.DefaultSuffix);
    // Where the filters offer formats, a name typed without a suffix takes
    // the chosen filter's, and the suffix picks the format.
    if (request.Filter.contains(";;")) {
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            const QRegularExpressionMatch suffix = QRegularExpression(R"(\*\.(\w+))").match(filter);
            if (suffix.hasMatch()) dialog.setDefaultSuffix(suffix.captured(1));
        });
    }
    if (!request.InitialPath.isEmpty()) dialog.selectFile(request.InitialPath);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return files.front();
}

}  // namespace

std::optional<QString> QtFileDialogs::ChooseOpenFile(QWidget* parent, const FileDialogRequest& request) {
    return RunDialog(parent, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtFileDialogs::ChooseSaveFile(QWidget* parent, const FileDialogRequest& request) {
    return RunDialog(parent, request, QFileDialog::AcceptSave);
}

}  // namespace corvina
