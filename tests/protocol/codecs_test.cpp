// The wire encodings, from the relay protocol's reference vectors and the
// edges where a value no longer fits.

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

#include "hex.h"
#include "protocol/codecs.h"

using namespace vorlan;
using vorlan_test::Hex;
using vorlan_test::ToHex;

namespace {

std::string Encoded(float value, uint8_t decimals) {
    uint8_t out[2] = {0xEE, 0xEE};
    EncodeSettingBcd(value, decimals, out);
    return ToHex(out, 2);
}

float Decoded(const std::string& hex, uint8_t& decimals) {
    const std::vector<uint8_t> b = Hex(hex);
    return DecodeSettingBcd(b.data(), b.size(), decimals);
}

}  // namespace

TEST(Codecs, BcdBytes) {
    EXPECT_EQ(ToBcd(59), 0x59);
    EXPECT_EQ(ToBcd(7), 0x07);
    EXPECT_EQ(ToBcd(0x100 + 42), 0x42);  // only the low eight bits count
    EXPECT_EQ(FromBcd(0x59), 59u);
    EXPECT_EQ(FromBcd(0xFF), 165u);  // nibbles above 9 are taken as digits
}

TEST(Codecs, TimeStampBothWays) {
    SystemTime t{2003, 7, 2, 15, 8, 30, 5, 250};
    uint8_t buf[16] = {};
    ByteWriter w(buf, sizeof buf);
    ASSERT_TRUE(WriteTimeStamp(w, t));
    EXPECT_EQ(ToHex(buf, w.size()), "03 20 07 15 08 30 05 50 02");

    SystemTime back;
    ASSERT_TRUE(ReadTimeStamp(ByteView(buf, 9), 0, back));
    EXPECT_EQ(back.year, 2003);
    EXPECT_EQ(back.month, 7);
    EXPECT_EQ(back.day, 15);
    EXPECT_EQ(back.hour, 8);
    EXPECT_EQ(back.minute, 30);
    EXPECT_EQ(back.second, 5);
    EXPECT_EQ(back.milliseconds, 250);

    EXPECT_FALSE(ReadTimeStamp(ByteView(buf, 9), 1, back));  // one byte short
    uint8_t small[8] = {};
    ByteWriter tooSmall(small, sizeof small);
    EXPECT_FALSE(WriteTimeStamp(tooSmall, t));
    EXPECT_EQ(tooSmall.size(), 0u);  // nothing half-written
}

TEST(Codecs, MeasurementsAndCounters) {
    EXPECT_EQ(DecodeMeasurement(0x10, 0x27), 10000.0f);
    EXPECT_EQ(DecodeMeasurement(0xFE, 0xFF), -1.0f);
    EXPECT_EQ(DecodeMeasurement(0x00, 0x80), -32767.0f);
    const float negativeZero = DecodeMeasurement(0xFF, 0xFF);
    EXPECT_EQ(negativeZero, 0.0f);
    EXPECT_TRUE(std::signbit(negativeZero));
    EXPECT_EQ(DecodeCounter(0x34, 0x12), 4660u);
    EXPECT_EQ(DecodeCounter(0xFF, 0xFF), 65535u);

    for (int32_t v : {0, 1, -1, 10000, -32767, 32767, -12345}) {
        uint8_t lo = 0, hi = 0;
        EncodeMeasurement(v, lo, hi);
        EXPECT_EQ(DecodeMeasurement(lo, hi), static_cast<float>(v)) << v;
    }
    uint8_t lo = 0, hi = 0;
    EncodeMeasurement(-1, lo, hi);
    EXPECT_EQ(lo, 0xFE);
    EXPECT_EQ(hi, 0xFF);
    EncodeMeasurement(100000, lo, hi);
    EXPECT_EQ(DecodeMeasurement(lo, hi), 32767.0f);
    EncodeMeasurement(INT32_MIN, lo, hi);
    EXPECT_EQ(DecodeMeasurement(lo, hi), -32767.0f);
}

TEST(Codecs, DecodeSettingBcd) {
    uint8_t d = 9;
    EXPECT_FLOAT_EQ(Decoded("50 12", d), 25.0f);
    EXPECT_EQ(d, 1);
    EXPECT_FLOAT_EQ(Decoded("50 92", d), -25.0f);
    EXPECT_EQ(d, 1);
    EXPECT_FLOAT_EQ(Decoded("07", d), 7.0f);
    EXPECT_EQ(d, 0);
    EXPECT_FLOAT_EQ(Decoded("34 12 25", d), 512.34f);
    EXPECT_EQ(d, 2);
    EXPECT_FLOAT_EQ(Decoded("99 99 99 99 09", d), 999999999.0f);  // nine digits, exact sum
}

TEST(Codecs, DecodeSettingBcdLongValuesStayFinite) {
    uint8_t d = 0;
    EXPECT_FLOAT_EQ(Decoded("99 99 99 99 99 09", d), 99999999999.0f);
    std::vector<uint8_t> huge(40, 0x99);
    huge.back() = 0x09;
    EXPECT_EQ(DecodeSettingBcd(huge.data(), huge.size(), d), FLT_MAX);
    huge.back() = 0x89;
    EXPECT_EQ(DecodeSettingBcd(huge.data(), huge.size(), d), -FLT_MAX);
    std::vector<uint8_t> zeros(255, 0x00);
    const float zero = DecodeSettingBcd(zeros.data(), zeros.size(), d);
    EXPECT_EQ(zero, 0.0f);  // never NaN
    EXPECT_EQ(DecodeSettingBcd(nullptr, 0, d), 0.0f);
}

TEST(Codecs, EncodeSettingBcd) {
    EXPECT_EQ(Encoded(25.0f, 1), "50 12");
    EXPECT_EQ(Encoded(-1.5f, 1), "15 90");
    EXPECT_EQ(Encoded(0.0f, 2), "00 20");
    EXPECT_EQ(Encoded(999.0f, 0), "99 09");
    EXPECT_EQ(Encoded(0.07f, 2), "07 20");
    // Out of range or needing a fourth digit: 00 00, no sign or decimals.
    EXPECT_EQ(Encoded(1000.0f, 0), "00 00");
    EXPECT_EQ(Encoded(-1000.0f, 0), "00 00");
    EXPECT_EQ(Encoded(99.95f, 2), "00 00");
    EXPECT_EQ(Encoded(999.0f, 1), "00 00");
    EXPECT_EQ(Encoded(-500.0f, 7), "00 00");
    EXPECT_EQ(Encoded(NAN, 0), "00 00");
    EXPECT_EQ(Encoded(1.0f, 8), "00 00");  // no room for eight decimals
}

// A value goes to the relay only when three digits carry it exactly to the
// slot's decimals; the encoder says so, and the bytes decode to it again.
TEST(Codecs, SettingBcdFitsOnlyWhatItCarriesExactly) {
    struct Case {
        float value;
        uint8_t decimals;
        bool fits;
    };
    const Case cases[] = {
        {25.0f, 1, true},   {-1.5f, 1, true},    {0.0f, 2, true},    {-0.0f, 0, true},
        {999.0f, 0, true},  {-999.0f, 0, true},  {9.99f, 2, true},   {0.07f, 2, true},
        {0.001f, 3, true},  {512.34f, 2, false}, {12.5f, 2, false},  {99.95f, 2, false},
        {1000.0f, 0, false}, {-1000.0f, 0, false}, {999.5f, 0, false}, {2.345f, 2, false},
        {0.5f, 0, false},   {1e9f, 0, false},    {NAN, 0, false},    {INFINITY, 1, false},
        {-INFINITY, 1, false}, {1.0f, 8, false},
    };
    for (const Case& c : cases) {
        uint8_t out[2] = {0xEE, 0xEE};
        EXPECT_EQ(SettingFitsBcd(c.value, c.decimals), c.fits) << c.value << " d=" << int(c.decimals);
        EXPECT_EQ(EncodeSettingBcd(c.value, c.decimals, out), c.fits) << c.value;
        if (!c.fits) continue;
        uint8_t back = 99;
        EXPECT_EQ(DecodeSettingBcd(out, 2, back), c.value) << c.value;
        EXPECT_EQ(back, c.decimals);
    }
    // Every value the relay can send with two bytes fits again on the way back.
    for (uint8_t d = 0; d <= 7; ++d) {
        for (uint32_t m = 0; m <= 999; ++m) {
            const uint8_t bytes[2] = {ToBcd(m % 100), static_cast<uint8_t>((d << 4) | (m / 100))};
            uint8_t decimals = 0;
            const float v = DecodeSettingBcd(bytes, 2, decimals);
            ASSERT_TRUE(SettingFitsBcd(v, d)) << m << " d=" << int(d);
            ASSERT_TRUE(SettingFitsBcd(-v, d)) << m << " d=" << int(d);
        }
    }
    EXPECT_DOUBLE_EQ(LargestSettingBcd(0), 999.0);
    EXPECT_DOUBLE_EQ(LargestSettingBcd(2), 9.99);
}

// A value read from a relay goes back in the very bytes it came in, for one
// byte and two; -0 keeps its sign bit.
TEST(Codecs, SettingBcdReadValuesGoBackByteForByte) {
    for (uint32_t b = 0; b <= 0xFF; ++b) {
        if ((b & 0x0F) > 9) continue;  // not a digit: never sent back as it is
        const uint8_t in = static_cast<uint8_t>(b);
        uint8_t decimals = 0;
        const float v = DecodeSettingBcd(&in, 1, decimals);
        uint8_t out = 0xEE;
        ASSERT_TRUE(EncodeSettingBcdByte(v, decimals, out)) << std::hex << b;
        ASSERT_EQ(out, in) << std::hex << b;
    }
    uint8_t d = 0;
    EXPECT_EQ(Decoded("15", d), 0.5f);
    EXPECT_EQ(Decoded("87", d), -7.0f);
    const std::vector<uint8_t> negativeZero = Hex("00 80");
    const float z = DecodeSettingBcd(negativeZero.data(), 2, d);
    EXPECT_EQ(Encoded(z, d), "00 80");
    EXPECT_EQ(Encoded(0.0f, 0), "00 00");
}

TEST(Codecs, OneByteSettingBcdCarriesOneDigit) {
    uint8_t out = 0xEE;
    EXPECT_TRUE(EncodeSettingBcdByte(9.0f, 0, out));
    EXPECT_EQ(out, 0x09);
    EXPECT_TRUE(EncodeSettingBcdByte(-0.3f, 1, out));
    EXPECT_EQ(out, 0x93);
    // Another digit, beyond any range: 00 and false.
    for (float v : {10.0f, -12.0f, 1000.0f, NAN, INFINITY}) {
        out = 0xEE;
        EXPECT_FALSE(EncodeSettingBcdByte(v, 0, out)) << v;
        EXPECT_EQ(out, 0x00) << v;
        EXPECT_FALSE(SettingFitsBcd(v, 0, 1)) << v;
    }
    // A decimal more than the slot has: false.
    EXPECT_FALSE(EncodeSettingBcdByte(7.9f, 0, out));
    EXPECT_FALSE(EncodeSettingBcdByte(0.55f, 1, out));
    EXPECT_FALSE(SettingFitsBcd(1.0f, 0, 3));  // only one and two bytes are written
    EXPECT_DOUBLE_EQ(LargestSettingBcd(0, 1), 9.0);
    EXPECT_DOUBLE_EQ(LargestSettingBcd(1, 1), 0.9);
}

TEST(Codecs, SettingBcdRoundTrip) {
    for (float v : {25.0f, -1.5f, 0.5f, 123.0f, -99.9f, 9.99f, 0.0f}) {
        for (uint8_t d = 0; d <= 2; ++d) {
            const double scaled = std::fabs(v) * std::pow(10.0, d);
            if (scaled >= 1000) continue;
            uint8_t out[2];
            EncodeSettingBcd(v, d, out);
            uint8_t back = 99;
            const float decoded = DecodeSettingBcd(out, 2, back);
            EXPECT_EQ(back, d);
            const double expected = std::trunc(scaled + 0.01) / std::pow(10.0, d);
            EXPECT_NEAR(std::fabs(decoded), expected, 1e-4) << v << " d=" << int(d);
        }
    }
}

TEST(Codecs, Floats) {
    uint8_t out[4];
    PutFloat(1.0f, out);
    EXPECT_EQ(ToHex(out, 4), "00 00 80 3F");
    PutFloat(12.5f, out);
    EXPECT_EQ(ToHex(out, 4), "00 00 48 41");
    EXPECT_EQ(GetFloat(out), 12.5f);
}
