// SPDX-License-Identifier: Apache-2.0
// The registration file's text: our section replaced, everything else kept.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "component/registration.h"

namespace {

using vorlan::ReplaceSection;

const std::string kEntry = "[Vorlan.RelayPro]\nCLSID={X}\nInprocServer=/lib/libvorlan.so\n";

TEST(RegistrationTest, SectionIsAppendedOrReplacedInPlace) {
    EXPECT_EQ(ReplaceSection("", "Vorlan.RelayPro", kEntry), kEntry);
    // A last line without its newline gets one before the new section.
    EXPECT_EQ(ReplaceSection("[A]\nk=v", "Vorlan.RelayPro", kEntry), "[A]\nk=v\n" + kEntry);
    // In place, between other sections; the old keys go.
    EXPECT_EQ(ReplaceSection("[A]\nk=v\n[Vorlan.RelayPro]\nCLSID={old}\nOther=1\n[B]\nx=y\n",
                             "Vorlan.RelayPro", kEntry),
              "[A]\nk=v\n" + kEntry + "[B]\nx=y\n");
}

TEST(RegistrationTest, NamesCompareWithoutCaseAndDuplicatesCollapse) {
    const std::string text =
        "; comment\r\n[ vorlan.relaypro ]\r\nCLSID={1}\r\n[Keep]\r\na=b\r\n"
        "[VORLAN.RELAYPRO]\nInprocServer=/old\n";
    EXPECT_EQ(ReplaceSection(text, "Vorlan.RelayPro", kEntry),
              "; comment\r\n" + kEntry + "[Keep]\r\na=b\r\n");
    // Keys that only look like our section stay.
    EXPECT_EQ(ReplaceSection("[Vorlan.RelayProX]\nk=v\n", "Vorlan.RelayPro", kEntry),
              "[Vorlan.RelayProX]\nk=v\n" + kEntry);
}

TEST(RegistrationTest, FilePathFollowsTheEnvironment) {
    setenv("VORLAN_REGISTRY", "/tmp/explicit.ini", 1);
    EXPECT_EQ(vorlan::RegistrationFilePath(), "/tmp/explicit.ini");
    unsetenv("VORLAN_REGISTRY");
    setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(vorlan::RegistrationFilePath(), "/tmp/xdg/vorlan/registry.ini");
    // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", "/tmp/home", 1);
    EXPECT_EQ(vorlan::RegistrationFilePath(), "/tmp/home/.config/vorlan/registry.ini");
    unsetenv("XDG_CONFIG_HOME");
    if (home != nullptr) setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
