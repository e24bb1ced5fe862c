#include "component/register_catalogue.h"

namespace vorlan {

// name, minAddress, maxAddress, typeMask (the host's data-type bits), reserved.
// A register takes a data address only when minAddress < maxAddress.
const RegisterDef kRegisterCatalogue[kRegisterCount] = {
    {"Send", 0, 0, 2, 0},       {"Show", 0, 0, 2, 0},     {"YC", 1, 64, 128, 0},
    {"YX", 1, 512, 1, 0},       {"YM", 1, 20, 32, 0},     {"YK", 1, 64, 2, 0},
    {"Alarm", 1, 255, 1, 0},    {"Event", 1, 255, 1, 0},  {"DZone", 0, 0, 2, 0},
    {"CPU", 0, 0, 2, 0},        {"FG", 0, 0, 2, 0},       {"RtuType", 0, 0, 2, 0},
    {"BWYX", 1, 20000, 1, 0},   {"DZWR", 0, 0, 2, 0},     {"DZNow", 0, 0, 2, 0},
    {"RtuID", 0, 0, 2, 0},      {"LBStart", 0, 0, 32, 0}, {"LBID", 1, 4, 32, 0},
    {"LBTime", 1, 4, 256, 0},   {"LBCount", 0, 0, 2, 0},
};

}  // namespace vorlan
