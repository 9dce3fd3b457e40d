#pragma once
// The clock a snapshot run takes its key from, set by a test. A run keys its
// snapshot by the current second and waits for the next one when the key is
// taken, so real runs cost a second each and two databases fed one after the
// other may get different keys. A test that takes many snapshots, or the same
// snapshot into two databases, sets the second instead.
//
// Linking this file replaces the C library's time() in the test binary (the
// only clock DateTime::Now reads); while no second is set it reads the real
// clock. Never set a second whose key a database already holds: the run
// would wait for a next second that does not come.

#include <cstdint>

namespace corvina::test {

// From now on time() answers this second (since 1970) until ClearClock.
void SetClock(std::int64_t seconds);
void ClearClock();

}  // namespace corvina::test
