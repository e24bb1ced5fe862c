// SPDX-License-Identifier: Apache-2.0
#pragma once
// The station file (TOML): how to load the driver, the channel, the relays
// by address and the items of each relay as register texts with data types.

#include <cstdint>
#include <string>
#include <vector>

namespace vorlan_host {

// The host's data-type bits, as the register catalogue uses them.
constexpr int16_t kTypeBool = 1;
constexpr int16_t kTypeByte = 2;
constexpr int16_t kTypeLong = 32;
constexpr int16_t kTypeFloat = 128;
constexpr int16_t kTypeText = 256;

struct ItemSpec {
    std::string text;       // one register text, e.g. "YC5"
    int16_t dataType = 0;
    int line = 0;           // where the station file gave it
};

struct RelaySpec {
    int address = 0;
    std::string name;
    std::vector<ItemSpec> items;
    int line = 0;
};

struct ChannelSpec {
    std::string port;
    int baud = 9600;
    int byteSize = 8;
    int parity = 0;         // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int stopBits = 1;
    int replyTimeoutMs = 3000;
};

struct Station {
    std::string name;
    std::string progid = "Vorlan.RelayPro";
    std::string library;    // load this library instead of looking up progid
    ChannelSpec channel;
    std::vector<RelaySpec> relays;
    std::vector<std::string> warnings;  // taken, but likely a mistake ("line N: ...")
};

// Whether serial ports and relays commonly use this rate (300, 600, ... 57600).
bool IsStandardBaud(int baud);

// What to check when nothing on the line answered: the port's settings
// against the relays', the wiring and the addresses.
std::string NoAnswerHint(const ChannelSpec& channel);

// Empty text on success, else "file: line N: what".
std::string LoadStation(const std::string& path, Station& station);
std::string LoadStationText(const std::string& text, Station& station);

// "YC1-YC16" or "YC1-16" to YC1..YC16; a text without a range stays one.
// Empty text on success.
std::string ExpandItemRange(const std::string& text, std::vector<std::string>& out);

// The data type a register takes when the station file names none.
int16_t DefaultDataType(const std::string& registerText);
// "bool", "byte", "long", "float", "text" or a number; -1 when unknown.
int DataTypeByName(const std::string& name);

}  // namespace vorlan_host
