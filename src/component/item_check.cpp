// SPDX-License-Identifier: Apache-2.0
// The register catalogue handed to the host, the check of an item's register
// text and data type, and the error texts.

#include <cstring>

#include "component/register_catalogue.h"
#include "component/relay_driver.h"

namespace vorlan {

namespace {

constexpr int32_t kNoError = -1;
constexpr int32_t kErrorRegisterName = 0;
constexpr int32_t kErrorAddressRange = 5;
constexpr int32_t kErrorDataType = 4;

constexpr size_t kMaxRegisterText = 127;  // 128-byte field with its NUL
constexpr size_t kMaxLeadingBlanks = 32;
constexpr size_t kMaxAddressDigits = 9;  // fits a signed 32-bit number
constexpr size_t kRegisterNameField = sizeof(RegisterDef::name);

// The six texts for error indexes 0..5, GBK encoded.
const char* const kErrorTexts[] = {
    // 寄存器名字错误! (register name wrong)
    "\xBC\xC4\xB4\xE6\xC6\xF7\xC3\xFB\xD7\xD6\xB4\xED\xCE\xF3!",
    // 设备地址错误! (device address wrong)
    "\xC9\xE8\xB1\xB8\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3!",
    // 寄存器类型错误! (register type wrong)
    "\xBC\xC4\xB4\xE6\xC6\xF7\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3!",
    // 寄存器数据地址错误! (register data address wrong)
    "\xBC\xC4\xB4\xE6\xC6\xF7\xCA\xFD\xBE\xDD\xB5\xD8\xD6\xB7\xB4\xED\xCE\xF3!",
    // 数据类型错误! (data type wrong)
    "\xCA\xFD\xBE\xDD\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3!",
    // 寄存器数据地址范围超界! (register data address out of range)
    "\xBC\xC4\xB4\xE6\xC6\xF7\xCA\xFD\xBE\xDD\xB5\xD8\xD6\xB7\xB7\xB6\xCE\xA7\xB3\xAC\xBD\xE7!",
};
constexpr int32_t kErrorTextCount = sizeof kErrorTexts / sizeof kErrorTexts[0];

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` (of `size` characters) begins with the entry's name.
bool BeginsWithName(const char* text, size_t size, const RegisterDef& entry, size_t& nameSize) {
    nameSize = strnlen(entry.name, kRegisterNameField);
    return nameSize > 0 && nameSize <= size && std::memcmp(text, entry.name, nameSize) == 0;
}


// The host's register text, read no further than its field, and where its
// body lies once the blanks around it are cut off.
struct RegisterText {
    char chars[kMaxRegisterText + 1] = {};
    size_t start = 0;
    size_t end = 0;
    const char* body() const { return chars + start; }
    size_t size() const { return end - start; }
};

// False when the text is blank.
bool ReadRegisterText(const char* field, RegisterText& t) {
    t.end = strnlen(field, kMaxRegisterText);
    std::memcpy(t.chars, field, t.end);
    while (t.start < t.end && t.start < kMaxLeadingBlanks && t.chars[t.start] == ' ') ++t.start;
    if (t.start == t.end) return false;
    while (t.end > t.start && t.chars[t.end - 1] == ' ') --t.end;
    return true;
}

// The first catalogue entry whose name begins the text, or -1; `nameSize`
// gets the length of its name.
int32_t FindRegister(const RegisterText& t, const RegisterDef* catalogue, int32_t count, size_t& nameSize) {
    for (int32_t i = 0; i < count; ++i) {
        if (BeginsWithName(t.body(), t.size(), catalogue[i], nameSize)) return i;
    }
    return -1;
}

// The data address written as `digitCount` decimal digits; gives the error
// index for anything else, or kNoError with `number` set.
int32_t ParseDataAddress(const char* digits, size_t digitCount, int32_t& number) {
    for (size_t i = 0; i < digitCount; ++i) {
        if (!IsDigit(digits[i])) return kErrorRegisterName;
    }
    if (digitCount > kMaxAddressDigits) return kErrorAddressRange;
    number = 0;
    for (size_t i = 0; i < digitCount; ++i) number = number * 10 + (digits[i] - '0');
    return kNoError;
}

}  // namespace

const RegisterDef* CRelayDriverBase::GetRegisterTable(int32_t* count) {
    if (count != nullptr) *count = VORLAN_REG_COUNT;
    return kRegisterCatalogue;
}

int16_t CRelayDriverBase::CheckItem(const ItemConfig* config, ItemRef* ref,
                                    const RegisterDef* catalogue, int32_t count) {
    auto reject = [this](int32_t error) -> int16_t {
        errorIndex = error;
        return 1;
    };
    if (config == nullptr || ref == nullptr || catalogue == nullptr) return reject(kErrorRegisterName);

    RegisterText text;
    size_t nameSize = 0;
    const int32_t found =
        ReadRegisterText(config->registerText, text) ? FindRegister(text, catalogue, count, nameSize) : -1;
    if (found < 0) return reject(kErrorRegisterName);
    const RegisterDef& entry = catalogue[found];

    ref->dataAddress = 0;
    int32_t number = 0;
    if (entry.minAddress < entry.maxAddress) {
        // Every character after the name belongs to the address.
        const int32_t error = ParseDataAddress(text.body() + nameSize, text.size() - nameSize, number);
        if (error != kNoError) return reject(error);
        if (number < entry.minAddress || number > entry.maxAddress) return reject(kErrorAddressRange);
    }
    // A register without addresses ignores what follows its name: SendX is Send.
    ref->registerIndex = static_cast<int16_t>(found);
    ref->dataAddress = static_cast<int16_t>(number);
    ref->entry = &entry;

    const int32_t mask = entry.typeMask & 0xFFFF;
    if ((static_cast<int32_t>(config->dataType) & mask) == 0) return reject(kErrorDataType);
    ref->dataType = config->dataType;
    return 0;
}

const char* CRelayDriverBase::GetErrorText() const {
    const int32_t index = errorIndex.load();
    if (index < 0 || index >= kErrorTextCount) return nullptr;
    return kErrorTexts[index];
}

}  // namespace vorlan
