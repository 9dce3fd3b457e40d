#include "store/StoreError.h"

namespace corvina {

std::string StoreError::Details() const { return "Code=" + std::to_string(Code) + " Reason=" + Reason; }

}  // namespace corvina
