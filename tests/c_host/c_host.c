/*
 * A host written in C: loads the built library with dlopen and uses only its
 * exports and interface tables, as a supervisory-control host would.
 * Usage: c_host [path of libvorlan.so]
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "vorlan/driver.h"

static int failures = 0;

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                      \
        }                                                                    \
    } while (0)

typedef int32_t (*GetClassObjectFn)(const VorlanGuid *, const VorlanGuid *, void **);
typedef int32_t (*NoArgFn)(void);

static GetClassObjectFn getClassObject;
static NoArgFn canUnloadNow;
static NoArgFn registerServer;

static void *Symbol(void *library, const char *name) {
    void *p = dlsym(library, name);
    if (p == NULL) {
        fprintf(stderr, "missing export %s\n", name);
        exit(2);
    }
    return p;
}

static IVorlanClassFactory *ClassObject(void) {
    void *out = NULL;
    CHECK(getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, &out) == VORLAN_S_OK);
    return (IVorlanClassFactory *)out;
}

static IDeviceDriver *NewDriver(void) {
    IVorlanClassFactory *factory = ClassObject();
    void *out = NULL;
    CHECK(factory->lpVtbl->CreateInstance(factory, NULL, &IID_IDeviceDriver, &out) == VORLAN_S_OK);
    factory->lpVtbl->Release(factory);
    return (IDeviceDriver *)out;
}

/* ---- Entry points, class object, interfaces and reference counts ---- */

static void TestClassObject(void) {
    static const VorlanGuid other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    void *out = &out;
    CHECK(getClassObject(&other, &IID_IClassFactory, &out) == VORLAN_CLASS_E_CLASSNOTAVAILABLE);
    CHECK(out == NULL);
    CHECK(getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, NULL) == VORLAN_E_POINTER);
    out = &out;
    CHECK(getClassObject(&CLSID_VorlanRelayPro, &IID_IDeviceDriver, &out) == VORLAN_E_NOINTERFACE);
    CHECK(out == NULL);
    CHECK(getClassObject(&CLSID_VorlanRelayPro, &IID_IUnknown, &out) == VORLAN_S_OK);
    CHECK(out != NULL);
    ((IVorlanClassFactory *)out)->lpVtbl->Release((IVorlanClassFactory *)out);

    IVorlanClassFactory *factory = ClassObject();
    /* An outer object is refused. */
    out = &out;
    CHECK(factory->lpVtbl->CreateInstance(factory, &out, &IID_IDeviceDriver, &out) ==
          VORLAN_CLASS_E_NOAGGREGATION);
    CHECK(out == NULL);
    /* An unknown interface leaves no component behind. */
    out = &out;
    CHECK(factory->lpVtbl->CreateInstance(factory, NULL, &other, &out) == VORLAN_E_NOINTERFACE);
    CHECK(out == NULL);
    CHECK(canUnloadNow() == VORLAN_S_OK);

    /* LockServer keeps the library loaded, an unmatched unlock changes nothing. */
    CHECK(factory->lpVtbl->LockServer(factory, 1) == VORLAN_S_OK);
    CHECK(canUnloadNow() == VORLAN_S_FALSE);
    CHECK(factory->lpVtbl->LockServer(factory, 0) == VORLAN_S_OK);
    CHECK(canUnloadNow() == VORLAN_S_OK);
    CHECK(factory->lpVtbl->LockServer(factory, 0) == VORLAN_S_OK);
    CHECK(factory->lpVtbl->LockServer(factory, 1) == VORLAN_S_OK);
    CHECK(canUnloadNow() == VORLAN_S_FALSE);
    factory->lpVtbl->LockServer(factory, 0);
    CHECK(canUnloadNow() == VORLAN_S_OK);
    factory->lpVtbl->Release(factory);
}

static void TestInterfacesShareOneCount(void) {
    static const VorlanGuid unknown = {0x12345678u, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    IDeviceDriver *driver = NewDriver();
    CHECK(driver != NULL);
    if (driver == NULL) return;
    CHECK(canUnloadNow() == VORLAN_S_FALSE);

    void *control = NULL, *dispatch = NULL, *automation = NULL, *identity = NULL, *again = NULL;
    CHECK(driver->lpVtbl->QueryInterface(driver, &IID_IDeviceDriverControl, &control) == 0);
    CHECK(driver->lpVtbl->QueryInterface(driver, &DIID_VorlanRelayPro, &dispatch) == 0);
    CHECK(driver->lpVtbl->QueryInterface(driver, &IID_IDispatch, &automation) == 0);
    CHECK(driver->lpVtbl->QueryInterface(driver, &IID_IUnknown, &identity) == 0);
    CHECK(driver->lpVtbl->QueryInterface(driver, &IID_IDeviceDriver, &again) == 0);
    CHECK(control != NULL && dispatch != NULL && identity != NULL);
    CHECK(dispatch == automation);
    CHECK(again == (void *)driver);
    void *none = &none;
    CHECK(driver->lpVtbl->QueryInterface(driver, &unknown, &none) == VORLAN_E_NOINTERFACE);
    CHECK(none == NULL);
    CHECK(driver->lpVtbl->QueryInterface(driver, &IID_IClassFactory, &none) ==
          VORLAN_E_NOINTERFACE);
    CHECK(driver->lpVtbl->QueryInterface(driver, NULL, &none) == VORLAN_E_POINTER);

    IDeviceDriverControl *ctl = (IDeviceDriverControl *)control;
    IVorlanDispatch *disp = (IVorlanDispatch *)dispatch;
    /* The same identity from every interface. */
    void *identity2 = NULL;
    CHECK(ctl->lpVtbl->QueryInterface(ctl, &IID_IUnknown, &identity2) == 0);
    CHECK(identity2 == identity);
    void *back = NULL;
    CHECK(disp->lpVtbl->QueryInterface(disp, &IID_IDeviceDriverControl, &back) == 0);
    CHECK(back == control);

    /* One count: the creation's reference and seven successful lookups. */
    CHECK(driver->lpVtbl->AddRef(driver) == 9);
    CHECK(ctl->lpVtbl->AddRef(ctl) == 10);
    CHECK(disp->lpVtbl->Release(disp) == 9);

    /* The dispatch part has no members. */
    uint32_t typeInfos = 7;
    CHECK(disp->lpVtbl->GetTypeInfoCount(disp, &typeInfos) == VORLAN_S_OK);
    CHECK(typeInfos == 0);
    void *info = &info;
    CHECK(disp->lpVtbl->GetTypeInfo(disp, 0, 0, &info) < 0);
    CHECK(info == NULL);
    int32_t ids[2] = {5, 5};
    CHECK(disp->lpVtbl->GetIDsOfNames(disp, &IID_IUnknown, NULL, 2, 0, ids) < 0);
    CHECK(ids[0] == -1 && ids[1] == -1);
    CHECK(disp->lpVtbl->Invoke(disp, 1, &IID_IUnknown, 0, 1, NULL, NULL, NULL, NULL) < 0);

    /* Reserved slots answer 1. */
    CHECK(driver->lpVtbl->ReservedA6(driver, 1, 2, 3) == 1);
    CHECK(driver->lpVtbl->ReservedA9(driver, 1, 2, 3) == 1);
    CHECK(ctl->lpVtbl->ReservedB4(ctl, 1) == 1);
    CHECK(ctl->lpVtbl->ReservedB5(ctl, 1, 2, 3) == 1);
    CHECK(ctl->lpVtbl->ReservedB6(ctl, 1) == 1);

    uint32_t left = 9;
    for (int i = 0; i < 8; ++i) left = driver->lpVtbl->Release(driver);
    CHECK(left == 1);
    CHECK(canUnloadNow() == VORLAN_S_FALSE);
    CHECK(ctl->lpVtbl->Release(ctl) == 0);
    CHECK(canUnloadNow() == VORLAN_S_OK);
}

/* ---- Register catalogue ---- */

static void TestRegisterTable(void) {
    static const struct {
        const char *name;
        int32_t min, max, mask;
    } expected[20] = {
        {"Send", 0, 0, 2},    {"Show", 0, 0, 2},      {"YC", 1, 64, 128},   {"YX", 1, 512, 1},
        {"YM", 1, 20, 32},    {"YK", 1, 64, 2},       {"Alarm", 1, 255, 1}, {"Event", 1, 255, 1},
        {"DZone", 0, 0, 2},   {"CPU", 0, 0, 2},       {"FG", 0, 0, 2},      {"RtuType", 0, 0, 2},
        {"BWYX", 1, 20000, 1}, {"DZWR", 0, 0, 2},     {"DZNow", 0, 0, 2},   {"RtuID", 0, 0, 2},
        {"LBStart", 0, 0, 32}, {"LBID", 1, 4, 32},    {"LBTime", 1, 4, 256}, {"LBCount", 0, 0, 2},
    };
    IDeviceDriver *driver = NewDriver();
    const RegisterDef *table = NULL;
    int32_t count = 0;
    CHECK(driver->lpVtbl->GetRegisterTable(driver, 0, &table, &count) == 1);
    CHECK(count == 20);
    CHECK(table != NULL);
    for (int i = 0; table != NULL && i < 20; ++i) {
        char name[8] = {0};
        memcpy(name, expected[i].name, strlen(expected[i].name));
        CHECK(memcmp(table[i].name, name, 8) == 0); /* NUL-padded */
        CHECK(table[i].minAddress == expected[i].min);
        CHECK(table[i].maxAddress == expected[i].max);
        CHECK(table[i].typeMask == expected[i].mask);
        CHECK(table[i].reserved == 0);
    }
    /* One copy for every component. */
    IDeviceDriver *second = NewDriver();
    const RegisterDef *table2 = NULL;
    second->lpVtbl->GetRegisterTable(second, 0, &table2, &count);
    CHECK(table2 == table);
    second->lpVtbl->Release(second);
    driver->lpVtbl->Release(driver);
}

/* ---- Item checks and error texts ---- */

static void Gbk(const char *utf8, char *out, size_t size) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == (iconv_t)-1) {
        fprintf(stderr, "iconv has no GBK\n");
        exit(2);
    }
    char *in = (char *)utf8;
    size_t inLeft = strlen(utf8), outLeft = size - 1;
    char *o = out;
    CHECK(iconv(cd, &in, &inLeft, &o, &outLeft) != (size_t)-1);
    *o = '\0';
    iconv_close(cd);
}

static const char *const kTexts[6] = {
    "寄存器名字错误!", "设备地址错误!", "寄存器类型错误!",
    "寄存器数据地址错误!", "数据类型错误!", "寄存器数据地址范围超界!",
};

static void CheckErrorText(IDeviceDriver *driver, int index) {
    char expected[128];
    Gbk(kTexts[index], expected, sizeof expected);
    const char *text = driver->lpVtbl->GetErrorText(driver);
    CHECK(text != NULL);
    if (text != NULL) CHECK(strcmp(text, expected) == 0);
}

static int16_t Check(IDeviceDriver *driver, const char *text, int16_t dataType, ItemRef *ref) {
    ItemConfig config;
    memset(&config, 0, sizeof config);
    strncpy(config.registerText, text, sizeof config.registerText - 1);
    config.dataType = dataType;
    return driver->lpVtbl->CheckItem(driver, &config, ref);
}

static void TestCheckItem(void) {
    static const struct {
        const char *text;
        int16_t dataType;
        int16_t registerIndex; /* -1: rejected */
        int16_t dataAddress;
        int error;
    } cases[] = {
        {"  YC12  ", 128, 2, 12, -1},
        {"YC", 128, -1, 0, 5},
        {"YC65", 128, -1, 0, 5},
        {"YCA", 128, -1, 0, 0},
        {"YC1A", 128, -1, 0, 0},
        {"YC1 2", 128, -1, 0, 0},
        {"yc12", 128, -1, 0, 0},
        {"Send", 2, 0, 0, -1},
        {"Send7", 2, 0, 0, -1},
        {"SendX", 2, 0, 0, -1},
        {"BWYX20000", 1, 12, 20000, -1},
        {"BWYX20001", 1, -1, 0, 5},
        {"LBTime3", 256, 18, 3, -1},
        {"LBTime3", 1, -1, 0, 4},
        {"YC0000000012", 128, -1, 0, 5}, /* ten digits */
        {"YC000000012", 128, 2, 12, -1}, /* nine digits */
        {"YC4294967308", 128, -1, 0, 5},
        {"", 2, -1, 0, 0},
        {"        ", 2, -1, 0, 0},
        {"Unknown1", 2, -1, 0, 0},
        {"YM20", 32 | 1, 4, 20, -1},
        {"RtuType", -1, 11, 0, -1}, /* sign-extended: every bit */
    };
    IDeviceDriver *driver = NewDriver();
    CHECK(driver->lpVtbl->GetErrorText(driver) == NULL);
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        ItemRef ref;
        memset(&ref, 0xEE, sizeof ref);
        ref.dataType = 0x1234;
        const int16_t result = Check(driver, cases[i].text, cases[i].dataType, &ref);
        if (cases[i].registerIndex >= 0) {
            if (result != 0) fprintf(stderr, "case '%s' rejected\n", cases[i].text);
            CHECK(result == 0);
            CHECK(ref.registerIndex == cases[i].registerIndex);
            CHECK(ref.dataAddress == cases[i].dataAddress);
            CHECK(ref.dataType == cases[i].dataType);
            const RegisterDef *table = NULL;
            int32_t count = 0;
            driver->lpVtbl->GetRegisterTable(driver, 0, &table, &count);
            CHECK(ref.entry == &table[cases[i].registerIndex]);
        } else {
            if (result != 1) fprintf(stderr, "case '%s' accepted\n", cases[i].text);
            CHECK(result == 1);
            CHECK(ref.dataType == 0x1234); /* kept on rejection */
            CheckErrorText(driver, cases[i].error);
        }
    }

    /* A successful check leaves the last error in place. */
    ItemRef ref;
    memset(&ref, 0, sizeof ref);
    CHECK(Check(driver, "YC65", 128, &ref) == 1);
    CHECK(Check(driver, "YC64", 128, &ref) == 0);
    CheckErrorText(driver, 5);

    /* A register text that fills its 128 bytes without a NUL is read no further. */
    ItemConfig full;
    memset(&full, 0, sizeof full);
    memcpy(full.registerText, "YC", 2);
    memset(full.registerText + 2, '1', sizeof full.registerText - 2);
    full.dataType = 128;
    CHECK(driver->lpVtbl->CheckItem(driver, &full, &ref) == 1);
    CheckErrorText(driver, 5);
    memset(full.registerText, ' ', sizeof full.registerText);
    CHECK(driver->lpVtbl->CheckItem(driver, &full, &ref) == 1);
    CheckErrorText(driver, 0);

    driver->lpVtbl->Release(driver);
}

/* ---- Relays and packet grouping ---- */

static void TestAddDevice(void) {
    IDeviceDriver *driver = NewDriver();
    int32_t address = -5;
    CHECK(driver->lpVtbl->AddDevice(driver, "33", &address) == 0);
    CHECK(driver->lpVtbl->AddDevice(driver, "3a", &address) == 0);
    CHECK(driver->lpVtbl->AddDevice(driver, "-1", &address) == 0);
    CHECK(driver->lpVtbl->AddDevice(driver, "99999999999999999999", &address) == 0);
    CHECK(address == -5);
    CHECK(driver->lpVtbl->AddDevice(driver, "32", &address) == 1);
    CHECK(address == 32);
    CHECK(driver->lpVtbl->AddDevice(driver, "", &address) == 1);
    CHECK(address == 0);
    for (int i = 2; i < 32; ++i) {
        char text[4];
        snprintf(text, sizeof text, "%d", i);
        CHECK(driver->lpVtbl->AddDevice(driver, text, &address) == 1);
    }
    /* The table is full: refused, nothing changed. */
    address = -5;
    CHECK(driver->lpVtbl->AddDevice(driver, "7", &address) == 0);
    CHECK(address == -5);
    driver->lpVtbl->Release(driver);
}

static void TestCanMerge(void) {
    IDeviceDriver *driver = NewDriver();
    ItemRef ref;
    memset(&ref, 0, sizeof ref);
    ref.device = 3;
    CHECK(Check(driver, "YC12", 128, &ref) == 0);

    HostPacket packet;
    memset(&packet, 0, sizeof packet);
    packet.device = 3;
    packet.registerIndex = VORLAN_REG_YC;
    packet.firstAddress = 5;
    packet.lastAddress = 9;
    packet.direction = 0;
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 0, &packet) == 1);
    CHECK(packet.firstAddress == 5 && packet.lastAddress == 12);
    CHECK(Check(driver, "YC2", 128, &ref) == 0);
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 0, &packet) == 1);
    CHECK(packet.firstAddress == 2 && packet.lastAddress == 12);
    CHECK(Check(driver, "YC7", 128, &ref) == 0);
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 0, &packet) == 1);
    CHECK(packet.firstAddress == 2 && packet.lastAddress == 12);

    /* Another register, device or direction: not merged, packet unchanged. */
    CHECK(Check(driver, "YX12", 1, &ref) == 0);
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 0, &packet) == 0);
    CHECK(Check(driver, "YC20", 128, &ref) == 0);
    ref.device = 4;
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 0, &packet) == 0);
    ref.device = 3;
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 1, &packet) == 0);
    CHECK(packet.firstAddress == 2 && packet.lastAddress == 12);

    /* A write packet holds one address and is never widened. */
    packet.direction = 1;
    packet.firstAddress = packet.lastAddress = 20;
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 1, &packet) == 1);
    CHECK(Check(driver, "YC21", 128, &ref) == 0);
    CHECK(driver->lpVtbl->CanMerge(driver, &ref, 1, &packet) == 0);
    CHECK(packet.firstAddress == 20 && packet.lastAddress == 20);
    driver->lpVtbl->Release(driver);
}

/* ---- Packets ---- */

typedef struct {
    HostPacket packet;
    HostItemNode nodes[4];
    HostItem items[4];
} Packet;

static void MakePacket(Packet *p, int16_t deviceIndex, int16_t registerIndex, int16_t direction,
                       const uint16_t *addresses, int count) {
    memset(p, 0, sizeof *p);
    p->packet.deviceIndex = deviceIndex;
    p->packet.registerIndex = registerIndex;
    p->packet.direction = direction;
    for (int i = 0; i < count; ++i) {
        memset(&p->items[i], 0xA5, sizeof p->items[i]);
        p->items[i].address = addresses[i];
        p->nodes[i].item = &p->items[i];
        p->nodes[i].next = i + 1 < count ? &p->nodes[i + 1] : NULL;
        p->nodes[i].prev = i > 0 ? &p->nodes[i - 1] : NULL;
    }
    p->packet.items.first = count > 0 ? &p->nodes[0] : NULL;
    p->packet.items.last = count > 0 ? &p->nodes[count - 1] : NULL;
    p->packet.items.count = count;
}

static int ItemsUntouched(const Packet *p, int count) {
    for (int i = 0; i < count; ++i) {
        const unsigned char *bytes = p->items[i].value;
        for (int b = 0; b < 8; ++b)
            if (bytes[b] != 0xA5) return 0;
        if (p->items[i].quality != (int16_t)0xA5A5) return 0;
        if (p->items[i].timestamp.lowDateTime != 0xA5A5A5A5u) return 0;
    }
    return 1;
}

static void TestPackets(void) {
    static const uint16_t addresses[2] = {1, 64};
    IDeviceDriver *driver = NewDriver();
    void *out = NULL;
    driver->lpVtbl->QueryInterface(driver, &IID_IDeviceDriverControl, &out);
    IDeviceDriverControl *control = (IDeviceDriverControl *)out;
    int32_t address = 0;
    CHECK(driver->lpVtbl->AddDevice(driver, "1", &address) == 1);

    Packet p;
    /* A relay outside the table fails, in either entry point. */
    MakePacket(&p, 32, 2, 0, addresses, 2);
    CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 0);
    CHECK(control->lpVtbl->WritePacket(control, &p.packet) == 0);
    CHECK(ItemsUntouched(&p, 2));
    MakePacket(&p, -1, 2, 0, addresses, 2);
    CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 0);
    CHECK(ItemsUntouched(&p, 2));
    CHECK(driver->lpVtbl->ReadPacket(driver, NULL) == 0);

    /* Alarm, Event, CPU and RtuID deliver nothing and succeed. */
    static const int16_t silent[4] = {6, 7, 9, 15};
    for (int i = 0; i < 4; ++i) {
        MakePacket(&p, 0, silent[i], 0, addresses, 2);
        CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 1);
        CHECK(control->lpVtbl->WritePacket(control, &p.packet) == 1);
        CHECK(ItemsUntouched(&p, 2));
    }
    /* A register index outside the catalogue leaves the items alone. */
    MakePacket(&p, 0, 20, 0, addresses, 2);
    CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 1);
    CHECK(ItemsUntouched(&p, 2));

    /* Registers served from memory, read and write alike: nothing reported
     * yet, so the values wait for data. */
    for (int16_t direction = 0; direction < 2; ++direction) {
        MakePacket(&p, 0, 2, direction, addresses, 2); /* YC 1 and 64 */
        CHECK(direction == 0 ? driver->lpVtbl->ReadPacket(driver, &p.packet) == 1
                             : control->lpVtbl->WritePacket(control, &p.packet) == 1);
        for (int i = 0; i < 2; ++i) {
            float value = 1.0f;
            memcpy(&value, p.items[i].value, sizeof value);
            CHECK(value == 0.0f);
            CHECK(p.items[i].value[4] == 0xA5); /* only the first four bytes */
            CHECK(p.items[i].quality == VORLAN_QUALITY_WAITING);
            /* A FILETIME after 2020-01-01. */
            const uint64_t stamp = ((uint64_t)p.items[i].timestamp.highDateTime << 32) |
                                   p.items[i].timestamp.lowDateTime;
            CHECK(stamp > 132223104000000000ull);
        }
    }
    MakePacket(&p, 0, 13, 0, addresses, 1); /* DZWR: the setting state, 255 at start */
    CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 1);
    int32_t state = 0;
    memcpy(&state, p.items[0].value, sizeof state);
    CHECK(state == 255 && p.items[0].quality == 192);
    MakePacket(&p, 0, 8, 0, addresses, 1); /* DZone: zone 100 at start */
    CHECK(driver->lpVtbl->ReadPacket(driver, &p.packet) == 1);
    CHECK(p.items[0].value[0] == 100 && p.items[0].value[1] == 0xA5);

    control->lpVtbl->Release(control);
    driver->lpVtbl->Release(driver);
}

/* ---- The serial port through the component ---- */

static void TestChannel(void) {
    IDeviceDriver *driver = NewDriver();
    ChannelConfig config;
    memset(&config, 0, sizeof config);
    strcpy(config.portName, "/dev/vorlan-no-such-port");
    config.baudRate = 9600;
    config.byteSize = 8;
    config.stopBits = 1;
    config.replyTimeout = 500;
    CHECK(driver->lpVtbl->OpenChannel(driver, 0, &config) == 0);
    CHECK(driver->lpVtbl->OpenChannel(driver, 0, NULL) == 0);
    CHECK(driver->lpVtbl->CloseChannel(driver) == 1);
    CHECK(driver->lpVtbl->CloseChannel(driver) == 1);

    /* A real pseudo-terminal: releasing the component closes the port. */
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    CHECK(master >= 0);
    if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
        const char *slave = ptsname(master);
        CHECK(slave != NULL && strlen(slave) < sizeof config.portName);
        if (slave != NULL) strcpy(config.portName, slave);
        CHECK(driver->lpVtbl->OpenChannel(driver, 0, &config) == 1);
        struct pollfd pfd = {master, POLLIN, 0};
        CHECK(poll(&pfd, 1, 0) >= 0 && (pfd.revents & POLLHUP) == 0);
        CHECK(driver->lpVtbl->Release(driver) == 0);
        driver = NULL;
        pfd.revents = 0;
        CHECK(poll(&pfd, 1, 0) == 1 && (pfd.revents & POLLHUP) != 0);
    }
    if (master >= 0) close(master);
    if (driver != NULL) driver->lpVtbl->Release(driver);
}

/* ---- Registration ---- */

static char *ReadFile(const char *path) {
    FILE *f = fopen(path, "rb");
    if (f == NULL) return NULL;
    static char text[8192];
    size_t n = fread(text, 1, sizeof text - 1, f);
    text[n] = '\0';
    fclose(f);
    return text;
}

static void WriteFile(const char *path, const char *text) {
    FILE *f = fopen(path, "wb");
    CHECK(f != NULL);
    if (f == NULL) return;
    fputs(text, f);
    fclose(f);
}

static void TestRegistration(const char *libraryPath) {
    char dir[] = "/tmp/vorlan-c-host-XXXXXX";
    CHECK(mkdtemp(dir) != NULL);
    char libraryReal[PATH_MAX];
    CHECK(realpath(libraryPath, libraryReal) != NULL);
    /* The library registers itself under its SONAME link (libvorlan.so.0),
     * which an upgrade keeps, not under its versioned file. */
    char *version = strstr(libraryReal, ".so.");
    if (version != NULL && strchr(version + 4, '.') != NULL) *strchr(version + 4, '.') = '\0';
    char expected[PATH_MAX + 64];
    snprintf(expected, sizeof expected, "InprocServer=%s\n", libraryReal);

    /* An existing file: other sections kept, the old entry replaced. */
    char path[PATH_MAX];
    snprintf(path, sizeof path, "%s/registry.ini", dir);
    WriteFile(path,
              "[Other.Component]\nCLSID={00000000-0000-0000-0000-000000000001}\n\n"
              "[vorlan.relaypro]\nCLSID={old}\nInprocServer=/old/libvorlan.so\n"
              "[Last.One]\nKey=Value");
    setenv("VORLAN_REGISTRY", path, 1);
    CHECK(registerServer() == VORLAN_S_OK);
    const char *text = ReadFile(path);
    CHECK(text != NULL);
    if (text != NULL) {
        CHECK(strstr(text, "[Other.Component]\nCLSID={00000000-0000-0000-0000-000000000001}\n") ==
              text);
        CHECK(strstr(text, "[Last.One]\nKey=Value") != NULL);
        CHECK(strstr(text, "[Vorlan.RelayPro]\nCLSID={979199EF-343D-4033-AA52-636095E3D2CE}\n") !=
              NULL);
        CHECK(strstr(text, expected) != NULL);
        CHECK(strstr(text, "/old/") == NULL);
        CHECK(strstr(text, "{old}") == NULL);
    }
    /* Registering again gives the same file. */
    char first[8192];
    snprintf(first, sizeof first, "%s", text != NULL ? text : "");
    CHECK(registerServer() == VORLAN_S_OK);
    text = ReadFile(path);
    CHECK(text != NULL && strcmp(text, first) == 0);

    /* No VORLAN_REGISTRY: under $XDG_CONFIG_HOME, directories created. */
    unsetenv("VORLAN_REGISTRY");
    char xdg[PATH_MAX];
    snprintf(xdg, sizeof xdg, "%s/xdg", dir);
    setenv("XDG_CONFIG_HOME", xdg, 1);
    CHECK(registerServer() == VORLAN_S_OK);
    snprintf(path, sizeof path, "%s/xdg/vorlan/registry.ini", dir);
    text = ReadFile(path);
    CHECK(text != NULL && strstr(text, expected) != NULL);

    /* Neither: under ~/.config. */
    unsetenv("XDG_CONFIG_HOME");
    char home[PATH_MAX];
    snprintf(home, sizeof home, "%s/home", dir);
    CHECK(mkdir(home, 0700) == 0);
    const char *oldHome = getenv("HOME");
    char savedHome[PATH_MAX] = "";
    if (oldHome != NULL) snprintf(savedHome, sizeof savedHome, "%s", oldHome);
    setenv("HOME", home, 1);
    CHECK(registerServer() == VORLAN_S_OK);
    snprintf(path, sizeof path, "%s/home/.config/vorlan/registry.ini", dir);
    text = ReadFile(path);
    CHECK(text != NULL && strstr(text, "[Vorlan.RelayPro]\n") == text);
    if (oldHome != NULL) setenv("HOME", savedHome, 1);

    /* A file that can't be written is reported. */
    char blocker[PATH_MAX];
    snprintf(blocker, sizeof blocker, "%s/plain-file", dir);
    WriteFile(blocker, "x");
    snprintf(path, sizeof path, "%s/plain-file/registry.ini", dir);
    setenv("VORLAN_REGISTRY", path, 1);
    CHECK(registerServer() == VORLAN_SELFREG_E_CLASS);
    /* A directory in the file's place: refused, nothing lost. */
    snprintf(path, sizeof path, "%s/xdg", dir);
    setenv("VORLAN_REGISTRY", path, 1);
    CHECK(registerServer() == VORLAN_SELFREG_E_CLASS);
    unsetenv("VORLAN_REGISTRY");

    char command[PATH_MAX + 16];
    snprintf(command, sizeof command, "rm -rf '%s'", dir);
    CHECK(system(command) == 0);
}

int main(int argc, char **argv) {
    const char *libraryPath = argc > 1 ? argv[1] : VORLAN_LIBRARY_PATH;
    void *library = dlopen(libraryPath, RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "dlopen %s: %s\n", libraryPath, dlerror());
        return 2;
    }
    void *entry = Symbol(library, "DllGetClassObject");
    memcpy(&getClassObject, &entry, sizeof entry);
    entry = Symbol(library, "DllCanUnloadNow");
    memcpy(&canUnloadNow, &entry, sizeof entry);
    entry = Symbol(library, "DllRegisterServer");
    memcpy(&registerServer, &entry, sizeof entry);
    Symbol(library, "VorlanGetAtomName");
    /* Nothing but the entry points is exported. */
    CHECK(dlsym(library, "_ZN6vorlan8RelayPro6CreateEv") == NULL);

    CHECK(canUnloadNow() == VORLAN_S_OK);
    TestClassObject();
    TestInterfacesShareOneCount();
    TestRegisterTable();
    TestCheckItem();
    TestAddDevice();
    TestCanMerge();
    TestPackets();
    TestChannel();
    TestRegistration(libraryPath);
    CHECK(canUnloadNow() == VORLAN_S_OK);

    /* Under AddressSanitizer the library stays loaded, so the leak report at
     * exit can still name the ODBC driver frames the suppressions match. */
#if !defined(__SANITIZE_ADDRESS__)
    dlclose(library);
#else
    (void)library;
#endif
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    printf("c_host: all checks passed\n");
    return 0;
}
