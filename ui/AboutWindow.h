#pragma once
// frmabout, "About Corvina": the program's name and the version it was built
// as, an ownership notice and where to write to. Closes with OK.

#include <QDialog>

namespace corvina {

class AboutWindow : public QDialog {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

}  // namespace corvina
