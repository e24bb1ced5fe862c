// SPDX-License-Identifier: Apache-2.0
// The process-wide atom table through which recording times reach the host.

#include "platform/atom_table.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vorlan/driver.h"

namespace {

using vorlan::AtomAdd;
using vorlan::AtomDelete;
using vorlan::AtomGetName;

uint16_t Add(const std::string& text) { return AtomAdd(text.data(), text.size()); }

TEST(AtomTable, SameTextSharesOneReferenceCountedAtom) {
    const uint16_t a = Add("atom-shared");
    const uint16_t b = Add("atom-shared");
    const uint16_t other = Add("atom-other");
    EXPECT_GE(a, 0xC000);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, other);
    AtomDelete(a);
    char buffer[32];
    EXPECT_EQ(AtomGetName(a, buffer, sizeof buffer), 11u);
    EXPECT_STREQ(buffer, "atom-shared");
    AtomDelete(b);
    EXPECT_EQ(AtomGetName(a, buffer, sizeof buffer), 0u);
    AtomDelete(a);  // one delete too many changes nothing
    EXPECT_EQ(AtomGetName(other, buffer, sizeof buffer), 10u);
    AtomDelete(other);
}

TEST(AtomTable, RefusesTextsItCannotHold) {
    EXPECT_EQ(AtomAdd("", 0), 0);
    EXPECT_EQ(AtomAdd(nullptr, 4), 0);
    EXPECT_EQ(Add(std::string(256, 'x')), 0);
    const uint16_t longest = Add(std::string(255, 'y'));
    EXPECT_NE(longest, 0);
    char buffer[300];
    EXPECT_EQ(AtomGetName(longest, buffer, sizeof buffer), 255u);
    EXPECT_EQ(std::string(buffer), std::string(255, 'y'));
    AtomDelete(longest);
}

TEST(AtomTable, NameIsCutToFitAndUnknownAtomsAreZero) {
    const uint16_t a = Add("2004-03-01 00:30:00");
    char small[5] = {'#', '#', '#', '#', '#'};
    EXPECT_EQ(VorlanGetAtomName(a, small, sizeof small), 19u);
    EXPECT_STREQ(small, "2004");
    EXPECT_EQ(VorlanGetAtomName(a, nullptr, 0), 19u);
    char one[1] = {'#'};
    VorlanGetAtomName(a, one, 1);
    EXPECT_EQ(one[0], '\0');
    AtomDelete(a);

    char buffer[8] = "unset";
    EXPECT_EQ(VorlanGetAtomName(0, buffer, sizeof buffer), 0u);
    EXPECT_EQ(VorlanGetAtomName(0xBFFF, buffer, sizeof buffer), 0u);
    EXPECT_EQ(VorlanGetAtomName(0xFFFF, buffer, sizeof buffer), 0u);
    EXPECT_STREQ(buffer, "unset");
    AtomDelete(0);  // harmless
    AtomDelete(0xFFFF);
}

TEST(AtomTable, ConcurrentAddsAndDeletesKeepCountsExact) {
    const uint16_t held = Add("atom-held");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string own = "atom-thread-" + std::to_string(t);
            for (int i = 0; i < 2000; ++i) {
                const uint16_t a = Add("atom-held");
                const uint16_t b = Add(own);
                char buffer[32];
                if (AtomGetName(b, buffer, sizeof buffer) != own.size()) std::abort();
                AtomDelete(b);
                AtomDelete(a);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    char buffer[32];
    EXPECT_EQ(AtomGetName(held, buffer, sizeof buffer), 9u);
    AtomDelete(held);
    EXPECT_EQ(AtomGetName(held, buffer, sizeof buffer), 0u);
}

TEST(AtomTable, FullTableReusesTheOldestReleasedAtomAndNeverHandsOutZeroWhileRoomIsLeft) {
    // Every LBTime item of 64 components of 32 relays fits at once.
    EXPECT_GE(vorlan::AtomCapacity(), 64u * 32u * 4u);
    std::vector<uint16_t> held;
    for (size_t i = 0; i <= vorlan::AtomCapacity(); ++i) {
        const uint16_t atom = Add("fill-" + std::to_string(i));
        if (atom == 0) break;
        held.push_back(atom);
    }
    // Only a table whose every slot holds a live text refuses.
    EXPECT_EQ(Add("one-too-many"), 0);
    ASSERT_GE(held.size(), 64u * 32u * 4u - 16u);

    // Released second, then first: the first released is reused first.
    AtomDelete(held[5]);
    AtomDelete(held[2]);
    const uint16_t reused = Add("after-5");
    EXPECT_EQ(reused, held[5]);
    char buffer[32];
    EXPECT_EQ(AtomGetName(reused, buffer, sizeof buffer), 7u);
    EXPECT_STREQ(buffer, "after-5");
    EXPECT_EQ(Add("after-2"), held[2]);
    EXPECT_EQ(Add("still-full"), 0);

    for (size_t i = 0; i < held.size(); ++i) AtomDelete(held[i]);
}

}  // namespace
