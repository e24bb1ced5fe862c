#include "setting_diff.h"

#include <cstdio>
#include <cstdlib>

#include "gbk_text.h"
#include "output.h"

namespace vorlan_host {

namespace {

constexpr int kMaxFloatDigits = 9;  // enough for every single-precision value

// NAME=VALUE: the row's index and the new value.
Status ParseEdit(const std::string& edit, const std::vector<SettingRow>& rows, size_t& row, double& value) {
    const size_t eq = edit.rfind('=');
    if (eq == std::string::npos || eq == 0) return {kExitUsage, "an edit is NAME=VALUE: '" + edit + "'"};
    const std::string key = edit.substr(0, eq);
    char* end = nullptr;
    value = std::strtod(edit.c_str() + eq + 1, &end);
    if (*end != '\0' || eq + 1 == edit.size()) return {kExitUsage, "'" + edit.substr(eq + 1) + "' is not a number"};
    for (size_t i = 0; i < rows.size(); ++i) {
        if (key == SettingId(rows[i]) || key == GbkToUtf8(rows[i].name)) {
            row = i;
            return Status::Ok();
        }
    }
    return {kExitUsage, "no setting '" + key + "' for this relay type"};
}

// Compared as the single-precision column and the relay hold them.
bool SameSetting(double a, double b) { return static_cast<float>(a) == static_cast<float>(b); }

struct SlotView {
    std::string text;       // "2 decimals", "float", "byte", "not seen"
    nlohmann::json json;    // the same as an object, or null when not seen
};

SlotView Slot(const SettingRow& r, const std::map<int, CodedSlot>& slots) {
    if (!r.coded) {
        const char* layout = r.kind == 1 ? "float" : "byte";
        return {layout, {{"layout", layout}}};
    }
    const auto it = slots.find(r.id);
    if (it == slots.end()) return {"not seen", nullptr};
    const CodedSlot& s = it->second;
    if (!s.packed) return {SlotText(s), {{"layout", "float"}}};
    return {SlotText(s), {{"layout", "packed decimal"}, {"bytes", s.bytes}, {"decimals", s.decimals}}};
}

}  // namespace

std::string SettingId(const SettingRow& row) {
    if (row.coded) return "#" + std::to_string(row.id);
    return (row.kind == 1 ? "v" : "b") + std::to_string(row.id);
}

std::string ShortNumber(double value) {
    const float stored = static_cast<float>(value);
    char text[48];
    for (int digits = 1; digits <= kMaxFloatDigits; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(stored));
        if (std::strtof(text, nullptr) == stored) break;
    }
    return text;
}

Status ApplyEdits(const std::vector<std::string>& edits, std::vector<SettingRow>& rows,
                  std::vector<SettingChange>& changes) {
    std::map<size_t, double> before;  // row -> value read, for the rows edited
    std::vector<size_t> order;
    for (const std::string& edit : edits) {
        size_t row = 0;
        double value = 0;
        if (Status s = ParseEdit(edit, rows, row, value); !s.ok()) return s;
        if (before.emplace(row, rows[row].value).second) order.push_back(row);
        rows[row].value = value;
    }
    changes.clear();
    for (size_t row : order) {
        if (!SameSetting(rows[row].value, before[row])) changes.push_back({row, before[row]});
    }
    return Status::Ok();
}

void PrintChanges(const std::vector<SettingChange>& changes, const std::vector<SettingRow>& rows,
                  const std::map<int, CodedSlot>& slots, bool json, int address, int zone) {
    if (!json) {
        std::printf("%zu change%s to zone %d of relay %d:\n", changes.size(), changes.size() == 1 ? "" : "s", zone,
                    address);
    }
    for (const SettingChange& c : changes) {
        const SettingRow& r = rows[c.row];
        const SlotView slot = Slot(r, slots);
        const std::string name = GbkToUtf8(r.name);
        const std::string before = ShortNumber(c.before);
        const std::string after = ShortNumber(r.value);
        if (json) {
            EmitJson("change", {{"relay", address}, {"zone", zone}, {"setting", SettingId(r)}, {"name", name},
                                {"old", std::strtod(before.c_str(), nullptr)},
                                {"new", std::strtod(after.c_str(), nullptr)}, {"slot", slot.json}});
        } else {
            std::printf("  %s %s %s -> %s (slot: %s)\n", SettingId(r).c_str(), name.c_str(), before.c_str(),
                        after.c_str(), slot.text.c_str());
        }
    }
    std::fflush(stdout);  // before a question on standard error
}

}  // namespace vorlan_host
