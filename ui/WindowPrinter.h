#pragma once
// "&Print" of the small windows: an image of the window on the default
// printer, or into a PDF file the user names when no printer exists.

class QAction;
class QBoxLayout;
class QWidget;

namespace corvina {

class FileDialogs;
class Prompter;

// Failures are told through the prompter; a cancelled file choice is silent.
// True when the image was printed or written.
bool PrintWindowImage(QWidget& window, FileDialogs& dialogs, Prompter& prompter);

// The menu bar of the small windows: "E&xit" (menexit) and "&Print" (menprint),
// set on the window's layout. The caller connects the two items.
struct ExitPrintMenu {
    QAction* Exit;
    QAction* Print;
};
ExitPrintMenu AddExitPrintMenu(QWidget& window, QBoxLayout& layout);

}  // namespace corvina
