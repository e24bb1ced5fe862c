// SPDX-License-Identifier: Apache-2.0
#include "component/register_catalogue.h"

namespace vorlan {

// name, minAddress, maxAddress, typeMask (the host's data-type bits), reserved.
// A register takes a data address only when minAddress < maxAddress.
extern constexpr RegisterDef kRegisterCatalogue[VORLAN_REG_COUNT] = {
    {"Send", 0, 0, VORLAN_TYPE_BYTE, 0},     {"Show", 0, 0, VORLAN_TYPE_BYTE, 0},
    {"YC", 1, 64, VORLAN_TYPE_FLOAT, 0},     {"YX", 1, 512, VORLAN_TYPE_BIT, 0},
    {"YM", 1, 20, VORLAN_TYPE_LONG, 0},      {"YK", 1, 64, VORLAN_TYPE_BYTE, 0},
    {"Alarm", 1, 255, VORLAN_TYPE_BIT, 0},   {"Event", 1, 255, VORLAN_TYPE_BIT, 0},
    {"DZone", 0, 0, VORLAN_TYPE_BYTE, 0},    {"CPU", 0, 0, VORLAN_TYPE_BYTE, 0},
    {"FG", 0, 0, VORLAN_TYPE_BYTE, 0},       {"RtuType", 0, 0, VORLAN_TYPE_BYTE, 0},
    {"BWYX", 1, 20000, VORLAN_TYPE_BIT, 0},  {"DZWR", 0, 0, VORLAN_TYPE_BYTE, 0},
    {"DZNow", 0, 0, VORLAN_TYPE_BYTE, 0},    {"RtuID", 0, 0, VORLAN_TYPE_BYTE, 0},
    {"LBStart", 0, 0, VORLAN_TYPE_LONG, 0},  {"LBID", 1, 4, VORLAN_TYPE_LONG, 0},
    {"LBTime", 1, 4, VORLAN_TYPE_TEXT, 0},   {"LBCount", 0, 0, VORLAN_TYPE_BYTE, 0},
};

namespace {

// The entry at `index` carries `name`: the public register constants and the
// table can't drift apart.
constexpr bool At(VorlanRegister index, const char* name) {
    const char* entry = kRegisterCatalogue[index].name;
    for (int i = 0; i < 8; ++i) {
        if (entry[i] != name[i]) return false;
        if (name[i] == '\0') return true;
    }
    return name[8] == '\0';
}

static_assert(At(VORLAN_REG_SEND, "Send"));
static_assert(At(VORLAN_REG_SHOW, "Show"));
static_assert(At(VORLAN_REG_YC, "YC"));
static_assert(At(VORLAN_REG_YX, "YX"));
static_assert(At(VORLAN_REG_YM, "YM"));
static_assert(At(VORLAN_REG_YK, "YK"));
static_assert(At(VORLAN_REG_ALARM, "Alarm"));
static_assert(At(VORLAN_REG_EVENT, "Event"));
static_assert(At(VORLAN_REG_DZONE, "DZone"));
static_assert(At(VORLAN_REG_CPU, "CPU"));
static_assert(At(VORLAN_REG_FG, "FG"));
static_assert(At(VORLAN_REG_RTUTYPE, "RtuType"));
static_assert(At(VORLAN_REG_BWYX, "BWYX"));
static_assert(At(VORLAN_REG_DZWR, "DZWR"));
static_assert(At(VORLAN_REG_DZNOW, "DZNow"));
static_assert(At(VORLAN_REG_RTUID, "RtuID"));
static_assert(At(VORLAN_REG_LBSTART, "LBStart"));
static_assert(At(VORLAN_REG_LBID, "LBID"));
static_assert(At(VORLAN_REG_LBTIME, "LBTime"));
static_assert(At(VORLAN_REG_LBCOUNT, "LBCount"));

}  // namespace

}  // namespace vorlan
