#include "ui/WindowPrinter.h"

#include <QBoxLayout>
#include <QDir>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QPrinter>
#include <QPrinterInfo>
#include <QWidget>

#include "base/Prompter.h"
#include "ui/FileDialogs.h"

namespace corvina {

namespace {

bool PaintImage(QPrinter& printer, const QPixmap& image) {
    QPainter painter;
    if (!painter.begin(&printer)) return false;
    const QRect page = painter.viewport();
    QSize size = image.size();
    // Scale the screen image to the page width at most, keeping its proportions.
    size.scale(page.size(), Qt::KeepAspectRatio);
    if (size.width() > image.width() * 4) size = image.size() * 4;
    painter.drawPixmap(QRect(page.topLeft(), size), image);
    return painter.end();
}

}  // namespace

bool PrintWindowImage(QWidget& window, FileDialogs& dialogs, Prompter& prompter) {
    const QPixmap image = window.grab();
    QPrinter printer(QPrinter::HighResolution);
    const QPrinterInfo defaultPrinter = QPrinterInfo::defaultPrinter();
    if (defaultPrinter.isNull()) {
        FileDialogRequest request;
        request.Title = "Print to PDF File";
        request.InitialPath = QDir::home().filePath(window.objectName() + ".pdf");
        request.Filter = "PDF Files (*.pdf)";
        request.DefaultSuffix = "pdf";
        const std::optional<QString> file = dialogs.ChooseSaveFile(&window, request);
        if (!file) return false;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(*file);
    } else {
        printer.setPrinterName(defaultPrinter.printerName());
    }
    if (!PaintImage(printer, image)) {
        ShowMessage(prompter, "The window could not be printed", Icon::Exclamation);
        return false;
    }
    return true;
}

ExitPrintMenu AddExitPrintMenu(QWidget& window, QBoxLayout& layout) {
    auto* menus = new QMenuBar(&window);
    ExitPrintMenu items{menus->addAction("E&xit"), menus->addAction("&Print")};
    items.Exit->setObjectName("menexit");
    items.Print->setObjectName("menprint");
    layout.setMenuBar(menus);
    return items;
}

}  // namespace corvina
