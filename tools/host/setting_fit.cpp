#include "setting_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gbk_text.h"
#include "model/commands.h"  // the protocol's names, shared with the driver

namespace vorlan_host {

namespace {

constexpr int kMaxDecimals = 7;     // bits 4..6 of the value's last byte
constexpr unsigned char kCodedList = vorlan::Code(vorlan::Answer::SettingsCoded);
constexpr size_t kEntriesOffset = 6;
constexpr unsigned kPackedDecimalKind = 0;
constexpr unsigned kFloatKind = 2;        // takes a slot too, when it holds four bytes

double PowerOfTen(int decimals) { return std::pow(10.0, decimals); }
// Three digits in two bytes, one in one byte.
double MaxDigits(int bytes) { return bytes == 1 ? 9 : 999; }
bool PackedBytes(int bytes) { return bytes == 1 || bytes == 2; }
std::string Plural(int n, const char* word) { return std::to_string(n) + " " + word + (n == 1 ? "" : "s"); }

}  // namespace

bool FitsPackedDecimal(double value, int decimals, int bytes) {
    const float stored = static_cast<float>(value);
    if (!PackedBytes(bytes)) return false;
    if (!std::isfinite(stored) || decimals < 0 || decimals > kMaxDecimals) return false;
    const double magnitude = std::fabs(static_cast<double>(stored));
    const double digits = std::round(magnitude * PowerOfTen(decimals));
    if (digits > MaxDigits(bytes)) return false;
    // The relay's value read back as a float must be the stored one.
    return static_cast<float>(digits / PowerOfTen(decimals)) == static_cast<float>(magnitude);
}

double LargestPackedDecimal(int decimals, int bytes) {
    if (decimals < 0 || decimals > kMaxDecimals || !PackedBytes(bytes)) return 0;
    return MaxDigits(bytes) / PowerOfTen(decimals);
}

std::map<int, CodedSlot> CodedSlots(const std::string& frame) {
    std::map<int, CodedSlot> out;
    if (frame.size() < 3 || static_cast<unsigned char>(frame[1]) != kCodedList) return out;
    const size_t end = std::min(frame.size(), 3 + static_cast<size_t>(static_cast<unsigned char>(frame[2])));
    size_t pos = kEntriesOffset;
    while (pos + 2 <= end) {
        const int code = static_cast<unsigned char>(frame[pos]);
        const unsigned descriptor = static_cast<unsigned char>(frame[pos + 1]);
        const size_t length = (descriptor >> 3) & 0x0F;
        if (length > end - pos - 2) break;  // runs past the payload, as the driver stops
        const unsigned kind = descriptor & 0x07;
        const bool takesSlot = kind == kPackedDecimalKind || (kind == kFloatKind && length >= 4);
        if (takesSlot && out.count(code) == 0) {
            CodedSlot slot;
            slot.packed = kind == kPackedDecimalKind;
            slot.bytes = static_cast<int>(length);
            if (slot.packed && length > 0) {
                const unsigned last = static_cast<unsigned char>(frame[pos + 2 + length - 1]);
                slot.decimals = static_cast<int>((last >> 4) & 0x07);
            }
            out[code] = slot;
        }
        pos += 2 + length;
    }
    return out;
}

std::vector<std::string> UnfitSettings(const std::vector<SettingRow>& rows, const std::map<int, CodedSlot>& slots) {
    std::vector<std::string> out;
    for (const SettingRow& r : rows) {
        if (!r.coded) continue;  // the float layout carries floats
        const auto it = slots.find(r.id);
        if (it == slots.end() || !it->second.packed || !PackedBytes(it->second.bytes)) continue;
        const CodedSlot& slot = it->second;
        if (FitsPackedDecimal(r.value, slot.decimals, slot.bytes)) continue;
        const int d = slot.decimals;
        char largest[32];
        std::snprintf(largest, sizeof largest, "%.*f", d, LargestPackedDecimal(d, slot.bytes));
        char value[32];
        std::snprintf(value, sizeof value, "%.9g", r.value);
        out.push_back("#" + std::to_string(r.id) + " " + GbkToUtf8(r.name) + ": " + value +
                      " does not fit its slot of " + Plural(slot.bytes == 1 ? 1 : 3, "digit") + " with " +
                      Plural(d, "decimal") + "; the largest value that fits is " + largest);
    }
    return out;
}

std::string SlotText(const CodedSlot& slot) {
    if (!slot.packed) return "float";
    if (slot.bytes == 1) return "1 digit, " + Plural(slot.decimals, "decimal");
    if (slot.bytes == 2) return Plural(slot.decimals, "decimal");
    return Plural(slot.bytes, "byte") + ", not written";
}

}  // namespace vorlan_host
