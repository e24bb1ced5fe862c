// SPDX-License-Identifier: Apache-2.0
// What the host tool tells about its line from the outcome of Send packets:
// each change once, the port's loss ahead of mere silence.

#include <gtest/gtest.h>

#include "line_watch.h"

using vorlan_host::LineWatch;

TEST(LineWatch, SilenceLossAndReturnAreEachToldOnce) {
    const std::string port = "/dev/ttyS1";
    LineWatch silent;
    EXPECT_EQ(silent.Answered(port), "");  // a well line says nothing
    EXPECT_EQ(silent.Failed(true, port), "");
    EXPECT_EQ(silent.Failed(true, port), "");
    EXPECT_EQ(silent.Failed(true, port), "no answers: 3 packets in a row failed on /dev/ttyS1");
    EXPECT_EQ(silent.Failed(true, port), "");
    EXPECT_EQ(silent.Answered(port), "line answers again");
    EXPECT_EQ(silent.Answered(port), "");
    EXPECT_EQ(silent.Failed(true, port), "");  // the count starts again after an answer

    LineWatch lost;
    EXPECT_EQ(lost.Failed(false, port).rfind("line lost: /dev/ttyS1 has gone", 0), 0u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(lost.Failed(true, port), "");  // a lost line is not also silent
    EXPECT_EQ(lost.Answered(port), "line back: /dev/ttyS1 answers again");
}
