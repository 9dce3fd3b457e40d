#include "ui/MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace corvina {

namespace {

QMessageBox::Icon ToQtIcon(Icon icon) {
    switch (icon) {
        case Icon::Information: return QMessageBox::Information;
        case Icon::Exclamation: return QMessageBox::Warning;
        case Icon::Question: return QMessageBox::Question;
        case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

Answer MessageBoxPrompter::Ask(const Message& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) return AskOnGuiThread(message);
    // From the worker: the GUI thread shows the box; this thread waits.
    Answer answer = Answer::Ok;
    QMetaObject::invokeMethod(
        app, [this, &message]() { return AskOnGuiThread(message); }, Qt::BlockingQueuedConnection, &answer);
    return answer;
}

Answer MessageBoxPrompter::AskOnGuiThread(const Message& message) {
    const bool question = message.MessageButtons == Buttons::YesNo;
    QMessageBox box(ToQtIcon(message.MessageIcon), QString::fromStdString(message.Title),
                    QString::fromStdString(message.Text),
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, QApplication::activeWindow());
    // Restore the normal pointer while the user reads, even inside a busy run.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = box.exec();
    QApplication::restoreOverrideCursor();
    if (!question) return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

}  // namespace corvina
