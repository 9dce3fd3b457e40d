#pragma once
// The engine tells its error log about every damaged page it meets, also
// where the caller goes on after the failure (a window's directory total,
// said and counted 0). A program that must never present a result built
// around damage watches that log, process-wide.
//
// Error policy: nothing here fails; store/StoreError.h states the policy of
// store/ and analysis/.

namespace corvina {

// Starts watching. Takes effect only before the first database is opened;
// later calls change nothing.
void WatchForDamage();

// True once the engine has met a damaged page anywhere in this process.
bool DamageWasMet();

}  // namespace corvina
