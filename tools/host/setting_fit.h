#pragma once
// Whether an edited coded-list setting can go to the relay as it is: the
// relay takes a two-byte packed-decimal value of three digits with the
// slot's decimals, and the driver refuses a whole write when one value
// doesn't fit exactly. The tool checks first, so it can name the values.

#include <map>
#include <string>
#include <vector>

#include "setting_db.h"

namespace vorlan_host {

// True when three digits with `decimals` decimals carry `value` (as the
// database's single-precision column holds it) exactly. NaN, infinities,
// a fourth digit (12.5 with 2 decimals) or a decimal too many (2.345 with
// 2) don't fit.
bool FitsPackedDecimal(double value, int decimals);
// 999 / 10^decimals.
double LargestPackedDecimal(int decimals);

// The decimals of each code's packed-decimal slot in a coded-list answer
// frame (0xBD), for the first slot of each code, the one a write reloads.
// Codes whose first slot is not a two-byte packed-decimal value are absent.
std::map<int, int> CodedSlotDecimals(const std::string& frame);

// One line per coded row whose value doesn't fit its slot: value, code,
// name, decimals and the largest value that fits. Empty when all fit.
std::vector<std::string> UnfitSettings(const std::vector<SettingRow>& rows,
                                       const std::map<int, int>& decimals);

}  // namespace vorlan_host
