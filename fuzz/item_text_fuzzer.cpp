// SPDX-License-Identifier: Apache-2.0
// Register texts through CheckItem and address texts through AddDevice:
// arbitrary bytes, with or without a terminating NUL inside the host's field.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "component/relay_driver.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static vorlan::CRelayDriver driver;
    if (size == 0) return 0;

    ItemConfig config;
    std::memset(&config, 0x5A, sizeof config);  // no NUL unless the input has one
    const size_t textBytes = size - 1 < sizeof config.registerText ? size - 1 : sizeof config.registerText;
    std::memcpy(config.registerText, data + 1, textBytes);
    config.dataType = static_cast<int16_t>(data[0] * 0x0101);
    ItemRef ref;
    std::memset(&ref, 0, sizeof ref);
    int32_t count = 0;
    const RegisterDef* catalogue = vorlan::CRelayDriverBase::GetRegisterTable(&count);
    driver.CheckItem(&config, &ref, catalogue, count);
    (void)driver.GetErrorText();

    // AddDevice reads a NUL-terminated text; a fresh driver so the table never fills.
    char text[64];
    const size_t n = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
    std::memcpy(text, data + 1, n);
    text[n] = '\0';
    vorlan::CRelayDriver fresh;
    int32_t address = -1;
    if (fresh.AddDevice(text, &address) == 1 && (address < 0 || address > 32)) std::abort();
    return 0;
}
