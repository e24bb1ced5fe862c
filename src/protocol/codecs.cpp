#include "protocol/codecs.h"

#include <cfloat>
#include <cmath>
#include <cstring>

namespace vorlan {

namespace {

constexpr double kPowersOfTen[] = {1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6, 1e7};
constexpr uint8_t kMaxSettingDecimals = 7;  // bits 4..6 of the last byte
constexpr uint32_t kSettingBcdLimit = 1000;  // three digits

}  // namespace

uint8_t ToBcd(uint32_t value) {
    const uint32_t v = value & 0xFFu;
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

uint32_t FromBcd(uint8_t b) { return (b >> 4) * 10u + (b & 0x0Fu); }

float DecodeMeasurement(uint8_t lo, uint8_t hi) {
    if (hi < 0x80) return static_cast<float>(hi * 256 + lo);
    const uint32_t w = (static_cast<uint32_t>(hi & 0x7F) * 256 + lo) ^ 0x7FFFu;
    return -static_cast<float>(w);  // FF FF gives negative zero, as the relay means it
}

uint32_t DecodeCounter(uint8_t lo, uint8_t hi) { return static_cast<uint32_t>(hi) * 256 + lo; }

void EncodeMeasurement(int32_t value, uint8_t& lo, uint8_t& hi) {
    if (value > 32767) value = 32767;
    if (value < -32767) value = -32767;
    uint32_t word = static_cast<uint32_t>(value);
    if (value < 0) word = 0x8000u | (static_cast<uint32_t>(-value) ^ 0x7FFFu);
    lo = static_cast<uint8_t>(word);
    hi = static_cast<uint8_t>(word >> 8);
}

bool WriteTimeStamp(ByteWriter& w, const SystemTime& t) {
    const uint32_t year = static_cast<uint32_t>(t.year);
    const uint32_t ms = static_cast<uint32_t>(t.milliseconds);
    const uint8_t stamp[kTimeStampSize] = {
        ToBcd(year % 100),
        ToBcd(year / 100),
        ToBcd(static_cast<uint32_t>(t.month)),
        ToBcd(static_cast<uint32_t>(t.day)),
        ToBcd(static_cast<uint32_t>(t.hour)),
        ToBcd(static_cast<uint32_t>(t.minute)),
        ToBcd(static_cast<uint32_t>(t.second)),
        ToBcd(ms % 100),
        ToBcd(ms / 100),
    };
    return w.PutBytes(stamp, sizeof stamp);  // all nine or none
}

bool ReadTimeStamp(ByteView v, size_t offset, SystemTime& t) {
    if (!v.Has(offset, kTimeStampSize)) return false;
    const uint8_t* b = v.data() + offset;
    t.year = static_cast<int32_t>(FromBcd(b[1]) * 100 + FromBcd(b[0]));
    t.month = static_cast<int32_t>(FromBcd(b[2]));
    t.dayOfWeek = 0;  // not sent
    t.day = static_cast<int32_t>(FromBcd(b[3]));
    t.hour = static_cast<int32_t>(FromBcd(b[4]));
    t.minute = static_cast<int32_t>(FromBcd(b[5]));
    t.second = static_cast<int32_t>(FromBcd(b[6]));
    t.milliseconds = static_cast<int32_t>(FromBcd(b[8]) * 100 + FromBcd(b[7]));
    return true;
}

float DecodeSettingBcd(const uint8_t* bytes, size_t count, uint8_t& decimals) {
    decimals = 0;
    if (bytes == nullptr || count == 0) return 0.0f;
    const uint8_t last = bytes[count - 1];
    decimals = static_cast<uint8_t>((last >> 4) & 0x07);
    // Most significant digit first, in double precision: exact for the nine
    // digits of five bytes, and a long value only grows towards infinity.
    double sum = last & 0x0F;
    for (size_t i = count - 1; i > 0; --i) sum = sum * 100.0 + FromBcd(bytes[i - 1]);
    double value = sum / kPowersOfTen[decimals];
    if (value > static_cast<double>(FLT_MAX)) value = static_cast<double>(FLT_MAX);
    if (last & 0x80) value = -value;
    return static_cast<float>(value);
}

namespace {

// Digits a packed-decimal value of `count` bytes holds: two per byte but the
// last, which has one beside the decimals and the sign.
uint32_t SettingBcdLimit(size_t count) { return count == 1 ? 10 : kSettingBcdLimit; }

// The bytes of an encoded setting value of `count` bytes (1 or 2), fitting
// or not. The sign is taken from the sign bit, so -0 read from a relay goes
// back as it came.
void PackSettingBcd(float value, uint8_t decimals, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = 0;
    const double v = value;
    if (!(v >= -999.0 && v <= 999.0) || decimals > kMaxSettingDecimals) return;
    const double scaled = std::fabs(v) * kPowersOfTen[decimals] + 0.01;
    if (scaled >= SettingBcdLimit(count)) return;  // needs another digit: treated as out of range
    const uint32_t m = static_cast<uint32_t>(scaled);
    uint8_t& last = out[count - 1];
    if (count == 1) {
        last = static_cast<uint8_t>(m);
    } else {
        out[0] = ToBcd(m % 100);
        last = static_cast<uint8_t>(m / 100);
    }
    if (std::signbit(v)) last |= 0x80;
    last |= static_cast<uint8_t>(decimals << 4);
}

bool Carries(const uint8_t* bytes, size_t count, float value, uint8_t decimals) {
    uint8_t decodedDecimals = 0;
    const float decoded = DecodeSettingBcd(bytes, count, decodedDecimals);
    // Compared as floats: -0 and 0 are the same setting.
    return decodedDecimals == decimals && decoded == value;
}

}  // namespace

bool SettingFitsBcd(float value, uint8_t decimals, size_t count) {
    if (count != 1 && count != 2) return false;
    if (!std::isfinite(value) || decimals > kMaxSettingDecimals) return false;
    uint8_t bytes[2];
    PackSettingBcd(value, decimals, bytes, count);
    return Carries(bytes, count, value, decimals);
}

double LargestSettingBcd(uint8_t decimals, size_t count) {
    if (decimals > kMaxSettingDecimals || (count != 1 && count != 2)) return 0.0;
    return (SettingBcdLimit(count) - 1) / kPowersOfTen[decimals];
}

bool EncodeSettingBcd(float value, uint8_t decimals, uint8_t out[2]) {
    PackSettingBcd(value, decimals, out, 2);
    return SettingFitsBcd(value, decimals, 2);
}

bool EncodeSettingBcdByte(float value, uint8_t decimals, uint8_t& out) {
    PackSettingBcd(value, decimals, &out, 1);
    return SettingFitsBcd(value, decimals, 1);
}

void PutFloat(float value, uint8_t out[4]) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(bits >> (8 * i));
}

float GetFloat(const uint8_t in[4]) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = (bits << 8) | in[i];
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace vorlan
