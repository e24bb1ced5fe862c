#pragma once
// The operator's edits of a zone's settings as the changes they make: each
// setting whose value differs from what the relay sent, shown with its old
// and new value and the slot that will carry it, before anything is stored
// or written.

#include <map>
#include <string>
#include <vector>

#include "exit_codes.h"
#include "setting_db.h"
#include "setting_fit.h"

namespace vorlan_host {

struct SettingChange {
    size_t row = 0;       // index into the rows edited
    double before = 0;    // the value the relay sent
};

// Applies NAME=VALUE (the name as shown), #ID=VALUE (coded list) or vID=VALUE
// / bID=VALUE (float layout) edits to `rows`, in order. `changes` receives
// each row whose value now differs from what it was, once, in the order of
// its first edit; an edit back to the value read is no change.
Status ApplyEdits(const std::vector<std::string>& edits, std::vector<SettingRow>& rows,
                  std::vector<SettingChange>& changes);

// "#4" for a coded row, "v3" / "b2" for a float-layout row.
std::string SettingId(const SettingRow& row);
// The shortest decimal text that reads back as the same single-precision
// value, as the database and the relay hold it: 35.8, not 35.7999992.
std::string ShortNumber(double value);

// Prints each change, as text ("#4 name 35.8 -> 25.5 (slot: 2 decimals)") or
// as JSON objects of type "change". `slots` comes from the relay's coded-list
// answer; a coded row without one is shown as "not seen".
void PrintChanges(const std::vector<SettingChange>& changes, const std::vector<SettingRow>& rows,
                  const std::map<int, CodedSlot>& slots, bool json, int address, int zone);

}  // namespace vorlan_host
