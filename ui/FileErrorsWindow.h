#pragma once
// frmerr, "File Errors": the errors met by a snapshot run, one row each. Not
// modal; it stays beside the take-snapshot window until the user closes it and
// is refilled when a later run shows it again.

#include <vector>

#include <QWidget>

#include "capture/WalkTypes.h"

class QTableWidget;

namespace corvina {

class FileDialogs;
class Prompter;

class FileErrorsWindow : public QWidget {
    Q_OBJECT
public:
    FileErrorsWindow(FileDialogs& dialogs, Prompter& prompter, QWidget* owner);

    // Replaces the rows with the run's list and shows the window.
    void ShowErrors(const std::vector<ErrorEntry>& errors);

private:
    FileDialogs& dialogs_;
    Prompter& prompter_;
    QTableWidget* grid_ = nullptr;
};

}  // namespace corvina
