#pragma once
// The window program's prompter: every message and question becomes a modal
// QMessageBox. It may be called from the snapshot worker thread; the box is
// then shown on the GUI thread while the worker waits for the answer.

#include "store/Prompter.h"

namespace corvina {

class MessageBoxPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override;

private:
    Answer AskOnGuiThread(const Message& message);
};

}  // namespace corvina
