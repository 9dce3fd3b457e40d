#pragma once
// The file dialogs of the windows, behind an interface so that a window's
// logic never opens a QFileDialog itself: the program hands in the real
// dialogs, tests hand in a script of answers.

#include <optional>

#include <QString>

class QWidget;

namespace corvina {

struct FileDialogRequest {
    QString Title;
    QString InitialPath;
    QString Filter;         // Qt form: "Corvina Files (*.mdb)"
    QString DefaultSuffix;  // appended when the chosen name has none
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // A file to open; a name that does not exist yet may be chosen. nullopt
    // when the user cancels or the dialog fails.
    virtual std::optional<QString> ChooseOpenFile(QWidget* parent, const FileDialogRequest& request) = 0;
    // A file to write; nullopt when the user cancels.
    virtual std::optional<QString> ChooseSaveFile(QWidget* parent, const FileDialogRequest& request) = 0;
};

// The QFileDialog of the desktop.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> ChooseOpenFile(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> ChooseSaveFile(QWidget* parent, const FileDialogRequest& request) override;
};

}  // namespace corvina
