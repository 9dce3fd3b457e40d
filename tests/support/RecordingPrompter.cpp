#include "tests/support/RecordingPrompter.h"

namespace corvina::test {

Answer RecordingPrompter::Ask(const Message& message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
    if (message.MessageButtons == Buttons::Ok) return Answer::Ok;
    if (script_.empty()) return Answer::Yes;
    Answer answer = script_.front();
    script_.pop_front();
    return answer;
}

void RecordingPrompter::Script(std::vector<Answer> answers) {
    std::lock_guard lock(mutex_);
    script_.assign(answers.begin(), answers.end());
}

std::vector<Message> RecordingPrompter::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> RecordingPrompter::Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& m : messages_) texts.push_back(m.Text);
    return texts;
}

void RecordingPrompter::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace corvina::test
