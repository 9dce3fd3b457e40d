#include "store/DamageWatch.h"

#include "store/engine/Engine.h"

namespace corvina {

void WatchForDamage() { engine::WatchEngineForDamage(); }

bool DamageWasMet() { return engine::EngineMetDamage(); }

}  // namespace corvina
