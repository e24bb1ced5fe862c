// SPDX-License-Identifier: Apache-2.0
#pragma once
// The driver's texts and the setting names are GBK bytes; terminals, JSON and
// the pictures want UTF-8.

#include <string>

namespace vorlan_host {

// Bytes that are not valid GBK are shown as '?'.
std::string GbkToUtf8(const std::string& gbk);
// Characters GBK can't hold become '?'.
std::string Utf8ToGbk(const std::string& utf8);
// Already UTF-8 (pure ASCII included)?
bool IsUtf8(const std::string& text);
// UTF-8 as it is, anything else read as GBK.
std::string ToUtf8(const std::string& text);

}  // namespace vorlan_host
