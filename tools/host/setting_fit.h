#pragma once
// Whether an edited coded-list setting can go to the relay as it is: the
// relay takes a packed-decimal value with the slot's decimals, of three
// digits in two bytes or one digit in one byte, and the driver refuses a
// whole write when one value doesn't fit exactly. The tool checks first, so
// it can name the values, and shows each slot with the changes it makes.

#include <map>
#include <string>
#include <vector>

#include "setting_db.h"

namespace vorlan_host {

// What the relay's coded-list answer says of one code's slot.
struct CodedSlot {
    bool packed = true; // a packed-decimal value; else a float
    int bytes = 0;      // value bytes; the driver writes packed values of 1 and 2
    int decimals = 0;   // of a packed-decimal value
};

// True when a packed-decimal value of `bytes` bytes (2: three digits, 1: one
// digit) with `decimals` decimals carries `value` (as the database's single-
// precision column holds it) exactly. NaN, infinities, another digit (12.5
// with 2 decimals in two bytes, 12 in one) or a decimal too many (2.345 with
// 2) don't fit.
bool FitsPackedDecimal(double value, int decimals, int bytes = 2);
// 999 / 10^decimals for two bytes, 9 / 10^decimals for one.
double LargestPackedDecimal(int decimals, int bytes = 2);

// The slot of each code in a coded-list answer frame (0xBD), for the first
// slot of each code, the one a write reloads. Codes without a slot there
// (none sent, or an entry the driver skips) are absent.
std::map<int, CodedSlot> CodedSlots(const std::string& frame);

// One line per coded row whose value doesn't fit its packed-decimal slot:
// value, code, name, digits, decimals and the largest value that fits.
// Empty when all fit.
std::vector<std::string> UnfitSettings(const std::vector<SettingRow>& rows, const std::map<int, CodedSlot>& slots);

// "2 decimals" for a two-byte slot, "1 digit, 1 decimal" for a one-byte
// one, "float" for a float entry.
std::string SlotText(const CodedSlot& slot);

}  // namespace vorlan_host
