#pragma once
// The engine tells its error log about every damaged page it meets, also
// where the caller then passes the failure over (a lookup that only steers
// speed, a total that falls back to 0). A program that must never present a
// result built around damage watches that log, process-wide.

namespace corvina {

// Starts watching. Takes effect only before the first database is opened;
// later calls change nothing.
void WatchForDamage();

// True once the engine has met a damaged page anywhere in this process.
bool DamageWasMet();

}  // namespace corvina
