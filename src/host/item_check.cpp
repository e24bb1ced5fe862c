#include "host/relay_driver.h"

// Placeholder until the catalogue and item check land.
namespace vorlan {
const RegisterDef* CRelayDriverBase::GetRegisterTable(int32_t* count) {
    if (count) *count = 0;
    return nullptr;
}
int16_t CRelayDriverBase::CheckItem(const ItemConfig*, ItemRef*, const RegisterDef*, int32_t) {
    return 1;
}
const char* CRelayDriverBase::GetErrorText() const { return nullptr; }
}  // namespace vorlan
