#pragma once
// A Prompter for tests: records every message and answers questions from a
// script (Yes when the script runs out), and a ProgramEnder that records.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "base/Prompter.h"

namespace corvina::test {

class RecordingPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override;

    // Answers for the next questions, in order.
    void Script(std::vector<Answer> answers);

    std::vector<Message> Messages() const;
    std::vector<std::string> Texts() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    std::deque<Answer> script_;
};

class RecordingEnder : public ProgramEnder {
public:
    void EndProgram(int exitCode) override {
        Ended = true;
        ExitCode = exitCode;
    }
    bool Ended = false;
    int ExitCode = 0;
};

}  // namespace corvina::test
