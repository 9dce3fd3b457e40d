#pragma once
// The window program's prompter: every message and question becomes a modal
// QMessageBox. It may be called from the snapshot worker thread; the box is
// then shown on the GUI thread while the worker waits for the answer.
//
// A box is always the child of the window that raised it (WindowPrompter
// tells which). A box without a parent is a primary window to Qt: closing it
// while every other window is hidden or a child ends the program
// (quitOnLastWindowClosed), which is what happened when a modal selection
// window of a not yet shown analysis window said something.

#include <QPointer>
#include <QWidget>

#include "base/Prompter.h"

namespace corvina {

class MessageBoxPrompter : public Prompter {
public:
    // Over the modal window on top, if any: only it can have raised the message.
    Answer Ask(const Message& message) override;
    // Over owner; null only before any window exists.
    Answer AskOver(QWidget* owner, const Message& message);

private:
    Answer AskOnGuiThread(QWidget* owner, const Message& message);
};

// A window's own prompter: what the window says, of its own or of what the
// core returned to it, is shown over it. It forwards to the program's prompter, which tests
// replace by a recorder. The owner is borrowed; a window that is gone leaves
// the box to MessageBoxPrompter::Ask.
class WindowPrompter : public Prompter {
public:
    // A window opened by another gets the other's context: its prompter is
    // looked through, so that the box belongs to the window that speaks.
    WindowPrompter(Prompter& shared, QWidget* owner) : shared_(Unwrapped(shared)), owner_(owner) {}
    Answer Ask(const Message& message) override;
    void SetOwner(QWidget* owner) { owner_ = owner; }

private:
    static Prompter& Unwrapped(Prompter& prompter) {
        auto* window = dynamic_cast<WindowPrompter*>(&prompter);
        return window != nullptr ? window->shared_ : prompter;
    }

    Prompter& shared_;
    QPointer<QWidget> owner_;
};

}  // namespace corvina
