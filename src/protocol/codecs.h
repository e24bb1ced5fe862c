#pragma once
// The number encodings inside frame data: BCD bytes and time stamps,
// one's-complement measurements, counters, packed-decimal and float settings.

#include <cstddef>
#include <cstdint>

#include "platform/calendar.h"
#include "model/byte_view.h"

namespace vorlan {

constexpr size_t kTimeStampSize = 9;

uint8_t ToBcd(uint32_t value);              // low 8 bits of value, 0..99
uint32_t FromBcd(uint8_t b);                // nibbles taken as digits, even above 9
float DecodeMeasurement(uint8_t lo, uint8_t hi);  // bit 15 is a one's-complement sign
uint32_t DecodeCounter(uint8_t lo, uint8_t hi);
// The inverse of DecodeMeasurement, for relay simulators: `value` is clamped
// to -32767..32767; 0 is sent as 00 00 (never as negative zero).
void EncodeMeasurement(int32_t value, uint8_t& lo, uint8_t& hi);

// 9 bytes: year%100, year/100, month, day, hour, minute, second, ms%100, ms/100.
bool WriteTimeStamp(ByteWriter& w, const SystemTime& t);
// Reads 9 bytes at `offset`; false when they are not all there.
bool ReadTimeStamp(ByteView v, size_t offset, SystemTime& t);

// Packed-decimal setting value of `count` bytes (1..5; longer values are read
// without overflow). `decimals` receives bits 4..6 of the last byte.
float DecodeSettingBcd(const uint8_t* bytes, size_t count, uint8_t& decimals);
// Three digits at most: writes out[0] (tens, units) and out[1] (sign,
// decimals, hundreds). Values out of range (|value| x 10^decimals of 1000
// or more, NaN, decimals above 7) give 00 00. Returns SettingFitsBcd: false
// when the bytes don't carry `value` exactly, so a caller never sends them.
// The sign bit follows the float's, so a -0 the relay sent goes back as -0.
bool EncodeSettingBcd(float value, uint8_t decimals, uint8_t out[2]);
// The one-byte value: one digit in the low nibble, the decimals in bits 4..6,
// the sign in bit 7 (0x15 is 0.5, 0x87 is -7), as DecodeSettingBcd reads
// it. Out of range gives 00. Returns SettingFitsBcd(value, decimals, 1).
bool EncodeSettingBcdByte(float value, uint8_t decimals, uint8_t& out);
// True when a value of `count` bytes (2: three digits, 1: one digit) with
// `decimals` decimals carries `value` exactly: the relay decodes the very
// float that was encoded. Another digit (12.5 with 2 decimals in two bytes,
// 12 in one), a value beyond +-999, more decimals than the slot holds
// (12.345 with 2), NaN and infinities don't fit; other counts never do.
bool SettingFitsBcd(float value, uint8_t decimals, size_t count = 2);
// The largest magnitude `count` bytes carry with `decimals` decimals:
// 999/10^d for two bytes, 9/10^d for one.
double LargestSettingBcd(uint8_t decimals, size_t count = 2);

// Little-endian IEEE-754 single, whatever the machine's byte order.
void PutFloat(float value, uint8_t out[4]);
float GetFloat(const uint8_t in[4]);

}  // namespace vorlan
