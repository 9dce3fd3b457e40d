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

Answer MessageBoxPrompter::Ask(const Message& message) { return AskOver(nullptr, message); }

Answer MessageBoxPrompter::AskOver(QWidget* owner, const Message& message) {
    QPointer<QWidget> guarded(owner);
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) return AskOnGuiThread(guarded, message);
    // From the worker: the GUI thread shows the box; this thread waits.
    Answer answer = Answer::Ok;
    QMetaObject::invokeMethod(
        app, [this, guarded, &message]() { return AskOnGuiThread(guarded, message); },
        Qt::BlockingQueuedConnection, &answer);
    return answer;
}

Answer MessageBoxPrompter::AskOnGuiThread(QWidget* owner, const Message& message) {
    if (owner == nullptr) owner = QApplication::activeModalWidget();
    // A window never shown has no platform window yet, and a box over it
    // would count as a primary window of its own: the platform window is
    // made now (not shown).
    if (owner != nullptr) owner->window()->winId();
    const bool question = message.MessageButtons == Buttons::YesNo;
    QMessageBox box(ToQtIcon(message.MessageIcon), QString::fromStdString(message.Title),
                    QString::fromStdString(message.Text),
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
    // Messages carry names and a server's texts, which are anybody's: a tag
    // among them must show as written, not be taken for markup.
    box.setTextFormat(Qt::PlainText);
    // Restore the normal pointer while the user reads, even inside a busy run.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = box.exec();
    QApplication::restoreOverrideCursor();
    if (!question) return Answer::Ok;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

Answer WindowPrompter::Ask(const Message& message) {
    // Only the box-showing prompter has a use for the owner.
    if (auto* boxes = dynamic_cast<MessageBoxPrompter*>(&shared_)) return boxes->AskOver(owner_.data(), message);
    return shared_.Ask(message);
}

}  // namespace corvina
