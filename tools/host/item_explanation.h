#pragma once
// English for the driver's item rejections, which it gives in Chinese.

#include <string>

namespace vorlan_host {

// The explanation of a rejection text (as UTF-8); empty for a text not known.
std::string ExplainRejection(const std::string& driverText);

}  // namespace vorlan_host
