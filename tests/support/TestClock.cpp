#include "tests/support/TestClock.h"

#include <atomic>
#include <ctime>

namespace corvina::test {
namespace {

// -1: the real clock. Atomic because a run reads it on its own threads.
std::atomic<std::int64_t> clockSecond{-1};

}  // namespace

void SetClock(std::int64_t seconds) { clockSecond = seconds; }
void ClearClock() { clockSecond = -1; }

}  // namespace corvina::test

extern "C" std::time_t time(std::time_t* out) noexcept {
    std::int64_t now = corvina::test::clockSecond;
    if (now < 0) {
        timespec real{};
        clock_gettime(CLOCK_REALTIME, &real);
        now = real.tv_sec;
    }
    if (out != nullptr) *out = static_cast<std::time_t>(now);
    return static_cast<std::time_t>(now);
}
