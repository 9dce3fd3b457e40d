#pragma once
// Every message and question of the program goes through a Prompter: the core
// decides what to say, the window program shows a message box, the command-line
// tool prints, and tests record and answer from a script. Nothing in the core
// prints or shows anything itself.
//
// Error policy: nothing here fails; how a failure of the database is told is
// in store/StoreError.h.

#include <string>
#include <string_view>

namespace corvina {

// The application title, shown by every message box that has no title of its own.
inline constexpr std::string_view kAppTitle = "corvina";

enum class Icon { None, Information, Exclamation, Question };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

struct Message {
    std::string Text;
    std::string Title{kAppTitle};
    Icon MessageIcon = Icon::None;
    Buttons MessageButtons = Buttons::Ok;
};

// Implementations must be callable from a worker thread: the snapshot walk may
// report from one (the window program marshals to its own thread).
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Answer Ask(const Message& message) = 0;
};

// An OK message with the application title.
void ShowMessage(Prompter& prompter, std::string text, Icon icon = Icon::None);
// A Yes/No question with the application title and no icon; true for Yes.
bool AskYesNo(Prompter& prompter, std::string text);

// Ending the program after an unrecoverable failure goes through this, so that
// tests can observe the end without the process exiting. Callers return at once
// after EndProgram; a real implementation does not return at all.
class ProgramEnder {
public:
    virtual ~ProgramEnder() = default;
    virtual void EndProgram(int exitCode) = 0;
};

}  // namespace corvina
