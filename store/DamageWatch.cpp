#include "store/DamageWatch.h"

#include <sqlite3.h>

#include <atomic>

namespace corvina {
namespace {

std::atomic<bool> gDamageMet{false};

// Called by the engine on any of its threads, so it only sets a flag.
void OnEngineLog(void*, int code, const char*) {
    if ((code & 0xff) == SQLITE_CORRUPT) gDamageMet.store(true);
}

}  // namespace

void WatchForDamage() { sqlite3_config(SQLITE_CONFIG_LOG, OnEngineLog, nullptr); }

bool DamageWasMet() { return gDamageMet.load(); }

}  // namespace corvina
