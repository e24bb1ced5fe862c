// SPDX-License-Identifier: Apache-2.0
#include "item_explanation.h"

namespace vorlan_host {

namespace {

struct Explained {
    const char* driverText;
    const char* english;
};

// Most specific first: several texts begin alike.
const Explained kExplained[] = {
    {"寄存器数据地址范围超界", "the item's number is out of the register's range"},
    {"寄存器数据地址错误", "the number after the register name is missing or not a number"},
    {"寄存器名字错误", "no register of that name (see the register list: YC, YX, YM, YK, BWYX, ...)"},
    {"寄存器类型错误", "the register can't be used this way (read-only or write-only)"},
    {"设备地址错误", "the relay is not registered on this channel"},
    {"数据类型错误", "the data type does not suit the register (YC takes float, YX bool or byte, YM long, ...)"},
};

}  // namespace

std::string ExplainRejection(const std::string& driverText) {
    for (const Explained& e : kExplained) {
        if (driverText.find(e.driverText) != std::string::npos) return e.english;
    }
    return {};
}

}  // namespace vorlan_host

namespace vorlan_host {

namespace {

// "YM21" to "YM" and 21; a text without a number ending it stays whole.
bool SplitNumber(const std::string& text, std::string& name, long& number) {
    size_t i = text.size();
    while (i > 0 && text[i - 1] >= '0' && text[i - 1] <= '9') --i;
    if (i == text.size() || text.size() - i > 9) return false;
    name = text.substr(0, i);
    number = std::stol(text.substr(i));
    return true;
}

}  // namespace

void RejectionList::Add(const std::string& where, const std::string& text, const std::string& reason,
                        const std::string& allowed) {
    ++items_;
    Entry e;
    e.where = where;
    e.reason = reason;
    e.allowed = allowed;
    e.numbered = SplitNumber(text, e.name, e.first);
    if (!e.numbered) e.name = text;
    e.last = e.first;
    if (!entries_.empty()) {
        Entry& last = entries_.back();
        if (e.numbered && last.numbered && last.where == e.where && last.name == e.name && last.reason == e.reason &&
            last.allowed == e.allowed && e.first == last.last + 1) {
            last.last = e.first;
            return;
        }
    }
    entries_.push_back(e);
}

std::string RejectionList::Text(size_t maxLines) const {
    std::string text;
    for (size_t i = 0; i < entries_.size() && i < maxLines; ++i) {
        const Entry& e = entries_[i];
        std::string item = e.name;
        if (e.numbered) {
            item += std::to_string(e.first);
            if (e.last != e.first) item += "-" + e.name + std::to_string(e.last);
        }
        text += "\n  " + e.where + ": '" + item + "': " + e.reason + (e.allowed.empty() ? "" : "; " + e.allowed);
    }
    if (entries_.size() > maxLines) {
        size_t rest = 0;
        for (size_t i = maxLines; i < entries_.size(); ++i) rest += static_cast<size_t>(entries_[i].last - entries_[i].first + 1);
        text += "\n  ... and " + std::to_string(rest) + " more item(s)";
    }
    return text;
}

}  // namespace vorlan_host
