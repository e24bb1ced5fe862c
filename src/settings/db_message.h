// SPDX-License-Identifier: Apache-2.0
#pragma once
// The one message the driver writes itself: the setting database could not be
// connected. There is no desktop to show a box on, so it goes to standard
// error as one line.

namespace vorlan {

// "连接定值数据库出错" in UTF-8.
constexpr char kSettingDbFailureText[] =
    "\xe8\xbf\x9e\xe6\x8e\xa5\xe5\xae\x9a\xe5\x80\xbc\xe6\x95\xb0\xe6\x8d\xae\xe5\xba\x93\xe5\x87\xba"
    "\xe9\x94\x99";

// Writes the text and a newline to standard error in one write, only when that
// can't block the caller (a full pipe drops the line).
void ReportSettingDbFailure();

}  // namespace vorlan
