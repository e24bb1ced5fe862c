// SPDX-License-Identifier: Apache-2.0
#pragma once
// Registration of "Vorlan.RelayPro" in the registration file, an INI file in
// which each component has a section named by its programmatic identifier.

#include <string>

namespace vorlan {

// $VORLAN_REGISTRY, else $XDG_CONFIG_HOME/vorlan/registry.ini, else
// ~/.config/vorlan/registry.ini; empty when no home can be found.
std::string RegistrationFilePath();

// `text` with every section named `section` (compared without case) removed
// and `entry` (a whole section, header included) in place of the first, or
// appended. All other lines are kept as they are.
std::string ReplaceSection(const std::string& text, const std::string& section,
                           const std::string& entry);

// Writes the section with CLSID= and InprocServer= (this library's absolute
// path). The file is replaced whole or not at all; false when it could not be
// read or written.
bool RegisterRelayPro();

}  // namespace vorlan
