// SPDX-License-Identifier: Apache-2.0
#pragma once
// English for the driver's item rejections, which it gives in Chinese, and
// the list of a station's rejected items, a run of addresses to a line.

#include <string>
#include <vector>

namespace vorlan_host {

// The explanation of a rejection text (as UTF-8); empty for a text not known.
std::string ExplainRejection(const std::string& driverText);

// Rejected items in the order they were checked. Consecutive addresses of one
// register, given on one line of the station file for one relay and rejected
// for the same reason, make one entry: "YM21-YM40" instead of twenty lines.
class RejectionList {
public:
    // `where` names the place ("line 12, feeder 1"), `text` the register text
    // ("YM21"), `reason` the driver's reason; `allowed` what the register takes
    // ("YM takes 1..20"), empty when that is no help.
    void Add(const std::string& where, const std::string& text, const std::string& reason,
             const std::string& allowed);
    size_t items() const { return items_; }
    // One indented line per entry, at most `maxLines`, then how many more.
    std::string Text(size_t maxLines) const;

private:
    struct Entry {
        std::string where, name, reason, allowed;
        long first = 0, last = 0;
        bool numbered = false;
    };
    std::vector<Entry> entries_;
    size_t items_ = 0;
};

}  // namespace vorlan_host
