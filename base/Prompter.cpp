#include "base/Prompter.h"

#include <utility>

namespace corvina {

void ShowMessage(Prompter& prompter, std::string text, Icon icon) {
    Message message;
    message.Text = std::move(text);
    message.MessageIcon = icon;
    prompter.Ask(message);
}

bool AskYesNo(Prompter& prompter, std::string text) {
    Message message;
    message.Text = std::move(text);
    message.MessageButtons = Buttons::YesNo;
    return prompter.Ask(message) == Answer::Yes;
}

}  // namespace corvina
