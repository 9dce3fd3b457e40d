#include "ui/AboutWindow.h"

#include <QDate>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Version.h"

namespace corvina {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("frmabout");
    setWindowTitle("About Corvina");
    auto* layout = new QVBoxLayout(this);
    // The version the build was made as, the one --version prints.
    const QString version = QString::fromUtf8(kVersion.data(), static_cast<qsizetype>(kVersion.size()));
    auto* title = new QLabel("Corvina version " + version, this);
    title->setObjectName("lbl1");
    QFont big = title->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 4);
    title->setFont(big);
    layout->addWidget(title);
    auto* notice = new QLabel(this);
    notice->setObjectName("Label1");
    auto* address = new QLabel(this);
    address->setObjectName("Label2");
    layout->addWidget(notice);
    layout->addWidget(address);
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("comok");
    ok->setDefault(true);
    layout->addWidget(ok, 0, Qt::AlignRight);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    // The two texts are set when the window loads.
    notice->setText(QString("Copyright (C) %1 The Corvina developers.\nFree to use, copy and change.")
                        .arg(QDate::currentDate().year()));
    address->setText("Write to: The Corvina developers, through the project's issue tracker.");
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace corvina
