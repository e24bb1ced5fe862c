// SPDX-License-Identifier: Apache-2.0
#include "control_payload.h"

#include <nlohmann/json.hpp>

namespace vorlan_gateway {

namespace {

bool ActionOf(const std::string& text, bool& close) {
    if (text == "close") close = true;
    else if (text == "open") close = false;
    else return false;
    return true;
}

bool PrintableId(const std::string& id) {
    for (char c : id) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return false;
    }
    return true;
}

}  // namespace

std::string ParseControlPayload(const char* data, size_t size, ControlPayload& out) {
    out = ControlPayload{};
    if (!data || size == 0) return "empty payload; send \"close\", \"open\" or {\"action\":\"close\",\"id\":\"...\"}";
    if (size > kMaxControlPayload) return "payload longer than " + std::to_string(kMaxControlPayload) + " bytes";
    const std::string text(data, size);
    if (ActionOf(text, out.close)) return {};

    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    if (j.is_discarded()) return "payload is neither close, open nor JSON";
    if (j.is_string()) {
        if (ActionOf(j.get<std::string>(), out.close)) return {};
        return "unknown action; use close or open";
    }
    if (!j.is_object()) return "payload must be close, open or a JSON object";
    for (const auto& item : j.items()) {
        if (item.key() != "action" && item.key() != "id") return "unknown key in the control object";
    }
    const auto action = j.find("action");
    if (action == j.end() || !action->is_string()) return "the control object needs \"action\": \"close\" or \"open\"";
    if (!ActionOf(action->get<std::string>(), out.close)) return "unknown action; use close or open";
    if (const auto id = j.find("id"); id != j.end()) {
        if (!id->is_string()) return "\"id\" must be a text";
        const std::string& text = id->get_ref<const std::string&>();
        if (text.size() > kMaxControlId) return "\"id\" longer than " + std::to_string(kMaxControlId) + " bytes";
        if (!PrintableId(text)) return "\"id\" holds control characters";
        out.id = text;
    }
    return {};
}

int ControlPointOf(const std::string& item) {
    if (item.size() < 3 || item.size() > 4 || item.compare(0, 2, "YK") != 0) return 0;
    int n = 0;
    for (size_t i = 2; i < item.size(); ++i) {
        if (item[i] < '0' || item[i] > '9') return 0;
        n = n * 10 + (item[i] - '0');
    }
    if (item[2] == '0') return 0;
    return n >= 1 && n <= 64 ? n : 0;
}

}  // namespace vorlan_gateway
