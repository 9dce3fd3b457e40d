#pragma once
// What the analysis benchmarks share: a prompter that prints only warnings
// and answers Yes, an ender that exits, and the process's CPU time.

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/Prompter.h"

namespace corvina::bench {

class QuietPrompter : public Prompter {
public:
    Answer Ask(const Message& message) override {
        if (message.MessageIcon == Icon::Exclamation) std::fprintf(stderr, "%s\n", message.Text.c_str());
        return Answer::Yes;
    }
};

class ExitEnder : public ProgramEnder {
public:
    void EndProgram(int code) override { std::exit(code); }
};

// CPU time of the process, which other programs on a busy machine do not inflate.
inline double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace corvina::bench
