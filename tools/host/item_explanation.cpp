#include "item_explanation.h"

namespace vorlan_host {

namespace {

struct Explained {
    const char* driverText;
    const char* english;
};

// Most specific first: several texts begin alike.
const Explained kExplained[] = {
    {"寄存器数据地址范围超界", "the item's number is out of the register's range"},
    {"寄存器数据地址错误", "the number after the register name is missing or not a number"},
    {"寄存器名字错误", "no register of that name (see the register list: YC, YX, YM, YK, BWYX, ...)"},
    {"寄存器类型错误", "the register can't be used this way (read-only or write-only)"},
    {"设备地址错误", "the relay is not registered on this channel"},
    {"数据类型错误", "the data type does not suit the register (YC takes float, YX bool or byte, YM long, ...)"},
};

}  // namespace

std::string ExplainRejection(const std::string& driverText) {
    for (const Explained& e : kExplained) {
        if (driverText.find(e.driverText) != std::string::npos) return e.english;
    }
    return {};
}

}  // namespace vorlan_host
