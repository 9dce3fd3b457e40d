#include "store/engine/StoreCode.h"

namespace corvina {

std::string_view StoreCodeName(StoreCode code) {
    switch (code) {
        case StoreCode::Ok: return "Ok";
        case StoreCode::Busy: return "Busy";
        case StoreCode::LockedPastWait: return "LockedPastWait";
        case StoreCode::Damaged: return "Damaged";
        case StoreCode::NotSnapshotDatabase: return "NotSnapshotDatabase";
        case StoreCode::Missing: return "Missing";
        case StoreCode::ReadOnly: return "ReadOnly";
        case StoreCode::Unreachable: return "Unreachable";
        case StoreCode::Constraint: return "Constraint";
        case StoreCode::OtherHost: return "OtherHost";
        case StoreCode::Io: return "Io";
        case StoreCode::Other: return "Other";
    }
    return "Other";
}

std::string StoreError::Details() const { return "Code=" + std::string(StoreCodeName(Code)) + " Reason=" + Reason; }

}  // namespace corvina
