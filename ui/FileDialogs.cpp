#include "ui/FileDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QRegularExpression>

#include "base/Prompter.h"
#include "store/SnapshotDatabase.h"

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

std::optional<QString> QtFileDialogs::AskServerConnection(QWidget* parent, const QString& initial) {
    QInputDialog dialog(parent);
    dialog.setObjectName("frmserver");
    dialog.setWindowTitle("Open Server Database");
    dialog.setLabelText(
        "Connection to the database server, as a postgresql:// address\n"
        "(postgresql://host/database) or as host=... dbname=... user=...\n"
        "The password is read from ~/.pgpass or PGPASSWORD, never kept here.");
    dialog.setTextValue(initial);
    dialog.resize(560, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QString text = dialog.textValue().trimmed();
    if (text.isEmpty()) return std::nullopt;
    return text;
}

void ChooseServerDatabase(QWidget* parent, FileDialogs& dialogs, Prompter& messages, const std::string& current,
                        const std::function<void(const std::string&)>& open) {
    const QString initial = QString::fromStdString(IsServerLocation(current) ? current : "postgresql://localhost/corvina");
    const std::optional<QString> chosen = dialogs.AskServerConnection(parent, initial);
    if (!chosen) return;
    const std::string text = chosen->toStdString();
    if (!IsServerLocation(text)) {
        ShowMessage(messages, WithoutPassword(text) +
                                  " names no database server: give a postgresql:// address or host=... dbname=...");
        return;
    }
    open(text);
}

}  // namespace corvina
