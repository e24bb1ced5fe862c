#include "setting_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "gbk_text.h"

namespace vorlan_host {

namespace {

constexpr int kMaxDecimals = 7;     // bits 4..6 of the value's last byte
constexpr double kMaxDigits = 999;  // three digits
constexpr unsigned char kCodedList = 0xBD;
constexpr size_t kEntriesOffset = 6;
constexpr unsigned kPackedDecimalKind = 0;
constexpr unsigned kFloatKind = 2;        // takes a slot too, when it holds four bytes
constexpr unsigned kTwoBytes = 2;

double PowerOfTen(int decimals) { return std::pow(10.0, decimals); }

}  // namespace

bool FitsPackedDecimal(double value, int decimals) {
    const float stored = static_cast<float>(value);
    if (!std::isfinite(stored) || decimals < 0 || decimals > kMaxDecimals) return false;
    const double magnitude = std::fabs(static_cast<double>(stored));
    const double digits = std::round(magnitude * PowerOfTen(decimals));
    if (digits > kMaxDigits) return false;
    // The relay's value read back as a float must be the stored one.
    return static_cast<float>(digits / PowerOfTen(decimals)) == static_cast<float>(magnitude);
}

double LargestPackedDecimal(int decimals) {
    if (decimals < 0 || decimals > kMaxDecimals) return 0;
    return kMaxDigits / PowerOfTen(decimals);
}

std::map<int, int> CodedSlotDecimals(const std::string& frame) {
    std::map<int, int> out;
    std::map<int, bool> seen;
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
        if (takesSlot && !seen[code]) {
            seen[code] = true;
            if (kind == kPackedDecimalKind && length == kTwoBytes) {
                const unsigned last = static_cast<unsigned char>(frame[pos + 2 + length - 1]);
                out[code] = static_cast<int>((last >> 4) & 0x07);
            }
        }
        pos += 2 + length;
    }
    return out;
}

std::vector<std::string> UnfitSettings(const std::vector<SettingRow>& rows,
                                       const std::map<int, int>& decimals) {
    std::vector<std::string> out;
    for (const SettingRow& r : rows) {
        if (!r.coded) continue;  // the float layout carries floats
        const auto slot = decimals.find(r.id);
        if (slot == decimals.end() || FitsPackedDecimal(r.value, slot->second)) continue;
        const int d = slot->second;
        char numbers[160];
        std::snprintf(numbers, sizeof numbers,
                      "%.9g does not fit its slot of 3 digits with %d decimal%s; the largest value that fits is %.*f",
                      r.value, d, d == 1 ? "" : "s", d, LargestPackedDecimal(d));
        const std::string text = "#" + std::to_string(r.id) + " " + GbkToUtf8(r.name) + ": " + numbers;
        out.push_back(text);
    }
    return out;
}

}  // namespace vorlan_host
