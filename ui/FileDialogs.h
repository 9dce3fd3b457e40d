#pragma once
// The file dialogs of the windows, behind an interface so that a window's
// logic never opens a QFileDialog itself: the program hands in the real
// dialogs, tests hand in a script of answers.

#include <functional>
#include <optional>
#include <string>

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
    // A database server's connection text (a postgresql:// address or
    // "host=... dbname=..."), initial shown first; nullopt when the user cancels.
    virtual std::optional<QString> AskServerConnection(QWidget* parent, const QString& initial) = 0;
};

// The QFileDialog of the desktop.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<QString> ChooseOpenFile(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> ChooseSaveFile(QWidget* parent, const FileDialogRequest& request) override;
    std::optional<QString> AskServerConnection(QWidget* parent, const QString& initial) override;
};

// Opens the server database the user names in the connection dialog, through
// open (the window's own switch of database); a text that names no server
// is refused with a message and nothing is switched.
class Prompter;
void ChooseServerDatabase(QWidget* parent, FileDialogs& dialogs, Prompter& messages, const std::string& current,
                        const std::function<void(const std::string&)>& open);

}  // namespace corvina
