// SPDX-License-Identifier: Apache-2.0
// The simulator in-process: reproducible faults, answers the driver can
// read, settings that survive a write, recordings in the block layout.

#include <gtest/gtest.h>

#include "answer_builder.h"
#include "fault_injector.h"
#include "hex.h"
#include "protocol/codecs.h"
#include "model/frame.h"
#include "sim_config.h"

#include <ctime>

using namespace vorlan_sim;
using vorlan_test::Hex;
using vorlan_test::MakeFrame;

namespace {

std::vector<uint8_t> Answer(RelayLine& line, const std::vector<uint8_t>& request) {
    return line.HandleRequest(vorlan::ByteView(request.data(), request.size()));
}

std::vector<std::vector<LineChunk>> ShapeMany(const FaultRates& rates, uint64_t seed, int answers) {
    FaultInjector f(rates, seed, {1, 2, 3});
    std::vector<std::vector<LineChunk>> out;
    const auto frame = MakeFrame(1, 0x06, {1, 0, 0x10, 0x27});
    for (int i = 0; i < answers; ++i) out.push_back(f.Shape(frame));
    return out;
}

bool Same(const std::vector<std::vector<LineChunk>>& a, const std::vector<std::vector<LineChunk>>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].size() != b[i].size()) return false;
        for (size_t k = 0; k < a[i].size(); ++k) {
            if (a[i][k].bytes != b[i][k].bytes || a[i][k].delayMs != b[i][k].delayMs) return false;
        }
    }
    return true;
}

}  // namespace

TEST(FaultInjector, SameSeedReplaysTheSameFaultsAndAnotherSeedDoesNot) {
    FaultRates rates;
    rates.drop = rates.badCrc = rates.wrongAddress = rates.split = rates.stray = rates.garbage = 0.1;
    rates.jitterMs = 30;
    EXPECT_TRUE(Same(ShapeMany(rates, 42, 500), ShapeMany(rates, 42, 500)));
    EXPECT_FALSE(Same(ShapeMany(rates, 42, 500), ShapeMany(rates, 43, 500)));
}

TEST(FaultInjector, RatesComeOutNearTheirValuesAndEachFaultDoesWhatItSays) {
    FaultRates rates;
    rates.drop = 0.05;
    rates.badCrc = 0.05;
    rates.wrongAddress = 0.02;
    rates.split = 0.02;
    rates.splitGapMs = 160;
    FaultInjector f(rates, 7, {1, 2, 3});
    const auto frame = MakeFrame(1, 0x06, {1, 0, 0x10, 0x27});
    const int n = 20000;
    int whole = 0;
    for (int i = 0; i < n; ++i) {
        const auto chunks = f.Shape(frame);
        if (chunks.empty()) continue;
        std::vector<uint8_t> joined;
        for (const auto& c : chunks) joined.insert(joined.end(), c.bytes.begin(), c.bytes.end());
        const bool valid = vorlan::CheckFrame(vorlan::ByteView(joined.data(), joined.size())) == 1;
        if (chunks.size() == 1 && joined == frame) ++whole;
        if (valid && joined[0] != 1) {
            EXPECT_TRUE(joined[0] == 2 || joined[0] == 3);  // another relay of the line
        }
        if (chunks.size() == 2) {
            EXPECT_EQ(chunks[1].delayMs - chunks[0].delayMs, 160);
        }
    }
    const FaultCounts& c = f.counts();
    EXPECT_EQ(c.answers, static_cast<uint64_t>(n));
    EXPECT_NEAR(c.dropped / double(n), 0.05, 0.01);
    EXPECT_NEAR(c.badCrc / double(n), 0.05 * 0.95, 0.01);
    EXPECT_NEAR(c.wrongAddress / double(n), 0.02 * 0.95, 0.006);
    EXPECT_NEAR(c.split / double(n), 0.02 * 0.95, 0.006);
    EXPECT_EQ(c.intact, static_cast<uint64_t>(whole));
}

TEST(FaultInjector, NoRatesMeansEveryAnswerGoesOutWholeAfterTheDelay) {
    FaultRates rates;
    rates.delayMs = 25;
    FaultInjector f(rates, 1, {1});
    const auto frame = MakeFrame(1, 0x04, {});
    for (int i = 0; i < 100; ++i) {
        const auto chunks = f.Shape(frame);
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_EQ(chunks[0].bytes, frame);
        EXPECT_EQ(chunks[0].delayMs, 25);
    }
    EXPECT_TRUE(f.Shape({}).empty());  // no answer, nothing to shape
}

TEST(RelayAnswers, PollsCarryDecodableMeasurementsInputsAndCounters) {
    SimConfig config;
    ParseRelayList("1,2", config.relays);
    for (auto& r : config.relays) r.changeRate = r.busyRate = 0;
    RelayLine line(config.relays, 3);
    bool sawNegative = false, sawInputs = false, sawCounters = false;
    for (int i = 0; i < 10; ++i) {
        const auto a = Answer(line, MakeFrame(1, 0x83, {}));
        ASSERT_EQ(vorlan::CheckFrame(vorlan::ByteView(a.data(), a.size())), 1);
        ASSERT_EQ(a[0], 1);
        if (a[1] != 0x06) continue;
        if (a[3] == 1) {
            for (size_t t = 4; t + 2 < a.size() - 2; t += 3) {
                const float v = vorlan::DecodeMeasurement(a[t + 1], a[t + 2]);
                EXPECT_EQ(static_cast<int32_t>(v), line.Find(1)->Measurement(a[t]));
                sawNegative |= v < 0;
            }
        }
        sawInputs |= a[3] == 2;
        sawCounters |= a[3] == 3;
    }
    EXPECT_TRUE(sawNegative && sawInputs && sawCounters);
    EXPECT_TRUE(Answer(line, MakeFrame(9, 0x83, {})).empty());   // not on this line
    EXPECT_TRUE(Answer(line, Hex("FF 80 01 00 30 6C")).empty());  // broadcast: nobody answers
    auto bad = MakeFrame(1, 0x83, {});
    bad.back() ^= 1;
    EXPECT_TRUE(Answer(line, bad).empty());
}

TEST(RelayAnswers, ControlNeedsItsSelectAndThenReportsTheInput) {
    SimConfig config;
    ParseRelayList("4", config.relays);
    config.relays[0].changeRate = config.relays[0].busyRate = 0;
    RelayLine line(config.relays, 1);
    EXPECT_EQ(Answer(line, MakeFrame(4, 0x9A, {0, 5, 0xCC})), MakeFrame(4, 0xCA, {0, 5, 0x55}));
    EXPECT_EQ(Answer(line, MakeFrame(4, 0x98, {0, 5, 0xCC})), MakeFrame(4, 0xC8, {0, 5, 0xCC}));
    EXPECT_EQ(Answer(line, MakeFrame(4, 0x9A, {0, 5, 0xCC})), MakeFrame(4, 0xCA, {0, 5, 0xCC}));
    RelayModel* relay = line.Find(4);
    EXPECT_TRUE(relay->Input(5));
    // The change follows as a time-stamped report on the next poll, unless the input was already on.
    const auto report = Answer(line, MakeFrame(4, 0x83, {}));
    if (report[1] == 0xB1) {
        ASSERT_EQ(report[2], 14);
        EXPECT_EQ(report[14], 0);              // group 0
        EXPECT_EQ(report[16] & 0x20, 0x20);    // point 5 now on
    }
}

TEST(RelayAnswers, CodedSettingsWrittenBackAreStoredAndIncompleteTablesRefused) {
    SimConfig config;
    ParseRelayList("1:21:coded", config.relays);
    config.relays[0].settings = 4;
    config.relays[0].byteSettings = 2;
    RelayLine line(config.relays, 1);
    const auto answer = Answer(line, MakeFrame(1, 0x85, {0, 2}));
    ASSERT_EQ(answer[1], 0xBD);
    EXPECT_EQ(answer[4], 21);
    // Four settings of two value bytes, then two of one.
    ASSERT_EQ(answer.size(), 6u + 4 * 4 + 2 * 3 + 2);
    EXPECT_EQ(answer[6 + 16], 4);      // code 4
    EXPECT_EQ(answer[6 + 17], 0x08);   // one value byte
    EXPECT_EQ(answer[6 + 18], 0x07);   // 7, no decimals
    // The driver's write: 00, zone, then each entry with its value re-encoded.
    std::vector<uint8_t> write = {0, 2};
    for (size_t at = 6; at + 2 <= answer.size() - 2;) {
        const size_t length = (answer[at + 1] >> 3) & 0x0F;
        write.insert(write.end(), {answer[at], static_cast<uint8_t>((answer[at + 1] & 0x7F) | 0x80)});
        if (at == 6) {
            uint8_t value[2];
            vorlan::EncodeSettingBcd(1.5f, 1, value);
            write.insert(write.end(), {value[0], value[1]});
        } else {
            write.insert(write.end(), answer.begin() + static_cast<long>(at) + 2,
                         answer.begin() + static_cast<long>(at + 2 + length));
        }
        at += 2 + length;
    }
    // Setting 0 has no decimals on this relay: a value with one decimal is refused whole.
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x8C, write))[1], 0x04);
    uint8_t value[2];
    vorlan::EncodeSettingBcd(15.0f, 0, value);
    write[4] = value[0];
    write[5] = value[1];
    write[2 + 16 + 2] = 0x84;  // code 4: -4
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x8C, write)), MakeFrame(1, 0x06, {}));
    const auto after = Answer(line, MakeFrame(1, 0x85, {0, 2}));
    EXPECT_EQ(after[8], value[0]);
    EXPECT_EQ(after[7] & 0x80, 0x80);  // switched off as written
    EXPECT_EQ(after[6 + 18], 0x84);

    // A one-digit setting sent in two bytes, or a second digit, is refused.
    std::vector<uint8_t> wide(write.begin(), write.begin() + 2 + 16);
    wide.insert(wide.end(), {4, 0x90, 0x04, 0x00});
    wide.insert(wide.end(), write.begin() + 2 + 16 + 3, write.end());
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x8C, wide))[1], 0x04);
    std::vector<uint8_t> tens = write;
    tens[2 + 16 + 2] = 0x0A;
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x8C, tens))[1], 0x04);

    write.resize(write.size() - 3);    // one setting missing
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x8C, write))[1], 0x04);
    EXPECT_EQ(Answer(line, MakeFrame(1, 0x85, {0, 9}))[1], 0x04);  // no such zone
}

TEST(RelayAnswers, RecordingsAreListedAndServedFiveSamplesAtATime) {
    SimConfig config;
    ParseRelayList("2", config.relays);
    config.relays[0].recordingSamples = 12;
    RelayLine line(config.relays, 1);
    const auto list = Answer(line, MakeFrame(2, 0x99, {}));
    ASSERT_EQ(list[1], 0xC9);
    ASSERT_EQ(list[2], 40);  // two entries of 20 bytes
    const uint32_t id = list[3] | (list[4] << 8);
    EXPECT_EQ(list[3 + 16], 12);
    const auto block = Answer(line, MakeFrame(2, 0x9B, {uint8_t(id), uint8_t(id >> 8), 0, 0, 10, 0, 5}));
    ASSERT_EQ(block[1], 0xCB);
    EXPECT_EQ(block[2], 3 * 40);  // samples 10, 11 and 12
    EXPECT_EQ(block[3], 10);
    EXPECT_EQ(block[3 + 80], 12);
    EXPECT_EQ(Answer(line, MakeFrame(2, 0x9B, {uint8_t(id), uint8_t(id >> 8), 0, 0, 13, 0, 5}))[1], 0x04);
    EXPECT_EQ(Answer(line, MakeFrame(2, 0x9B, {99, 0, 0, 0, 0, 0, 5}))[1], 0x04);
}

TEST(SimConfigFile, ReadsAWholeLineAndPointsAtMistakes) {
    SimConfig c;
    EXPECT_EQ(LoadSimConfigText(R"(seed = 9
[faults]
drop = 0.05
split_gap_ms = 120
[[relay]]
address = 3
type = 31
layout = "float"
[[relay]]
address = 4
)",
                                c),
              "");
    EXPECT_EQ(c.seed, 9u);
    EXPECT_DOUBLE_EQ(c.faults.drop, 0.05);
    ASSERT_EQ(c.relays.size(), 2u);
    EXPECT_EQ(c.relays[0].layout, SettingLayout::Float);
    EXPECT_EQ(ValidateSimConfig(c), "");

    SimConfig d;
    EXPECT_EQ(LoadSimConfigText("[faults]\ndorp = 0.1\n", d), "line 2: unknown key 'dorp' in [faults]");
    EXPECT_EQ(LoadSimConfigText("[faults]\ndrop = 1.5\n", d), "line 2: 'drop' must lie between 0 and 1");
    EXPECT_EQ(LoadSimConfigText("[[relay]]\naddress = 40\n", d), "line 1: relay address 40 is above 32");
    SimConfig twice;
    ParseRelayList("1,1", twice.relays);
    EXPECT_EQ(ValidateSimConfig(twice), "relay 1: address used twice");
}

// A relay's clock keeps its own zone (UTC+8 unless configured), whatever the
// computer's, until a time synchronisation sets it.
TEST(RelayClock, KeepsItsZoneUntilSetAndThenTheTimeItWasSet) {
    SimConfig config;
    ParseRelayList("1,2", config.relays);
    config.relays[1].clockZone = vorlan::RelayZone::Fixed(-5 * 3600);
    RelayLine line(config.relays, 1);
    const time_t now = time(nullptr);
    auto zoneSeconds = [](const vorlan::SystemTime& t) {
        uint64_t fileTime = 0;
        EXPECT_TRUE(vorlan::RelayZone::Fixed(0).FileTimeOf(t, fileTime));
        return static_cast<int64_t>(fileTime / 10'000'000) - 11'644'473'600;
    };
    EXPECT_NEAR(zoneSeconds(line.Find(1)->Now()), now + 8 * 3600, 2);
    EXPECT_NEAR(zoneSeconds(line.Find(2)->Now()), now - 5 * 3600, 2);

    // Set to 2030-01-02 03:04:05 in its zone, it reads that back.
    vorlan::SystemTime set{};
    set.year = 2030, set.month = 1, set.day = 2, set.hour = 3, set.minute = 4, set.second = 5;
    line.Find(2)->SetClock(set);
    const vorlan::SystemTime back = line.Find(2)->Now();
    EXPECT_EQ(back.year, 2030);
    EXPECT_EQ(back.day, 2);
    EXPECT_EQ(back.hour, 3);
    EXPECT_NEAR(back.minute * 60 + back.second, 4 * 60 + 5, 2);
}
