/*
 * Vorlan relay driver: the host interface.
 *
 * A host loads libvorlan.so, asks DllGetClassObject for the class object of
 * "Vorlan.RelayPro", creates one component per serial channel and talks to it
 * through the IDeviceDriver and IDeviceDriverControl interface tables below.
 * Every interface is an object whose first word points to its table of
 * function pointers; every function takes the interface pointer first.
 *
 * The host records are laid out so that, with 4-byte pointers, every field sits
 * at the byte offset of the host's format; with 8-byte pointers the same
 * declarations give the natural layout.
 */
#ifndef VORLAN_DRIVER_H
#define VORLAN_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VORLAN_BUILDING_LIBRARY)
#define VORLAN_API __attribute__((visibility("default")))
#else
#define VORLAN_API
#endif

/* ---- Identifiers and result codes ---- */

typedef struct VorlanGuid {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} VorlanGuid;

#define VORLAN_S_OK ((int32_t)0)
#define VORLAN_S_FALSE ((int32_t)1)
#define VORLAN_E_NOINTERFACE ((int32_t)0x80004002u)
#define VORLAN_E_POINTER ((int32_t)0x80004003u)
#define VORLAN_CLASS_E_NOAGGREGATION ((int32_t)0x80040110u)
#define VORLAN_CLASS_E_CLASSNOTAVAILABLE ((int32_t)0x80040111u)
#define VORLAN_SELFREG_E_CLASS ((int32_t)0x80040201u)

#define VORLAN_PROGID "Vorlan.RelayPro"

/* {979199EF-343D-4033-AA52-636095E3D2CE} */
static const VorlanGuid CLSID_VorlanRelayPro = {
    0x979199EFu, 0x343D, 0x4033, {0xAA, 0x52, 0x63, 0x60, 0x95, 0xE3, 0xD2, 0xCE}};
/* {6287672E-1B58-4EC7-BE42-218A906F620D} */
static const VorlanGuid DIID_VorlanRelayPro = {
    0x6287672Eu, 0x1B58, 0x4EC7, {0xBE, 0x42, 0x21, 0x8A, 0x90, 0x6F, 0x62, 0x0D}};
/* {2B8824F8-6135-4874-B18A-F1CC0675BA8B} */
static const VorlanGuid IID_IDeviceDriver = {
    0x2B8824F8u, 0x6135, 0x4874, {0xB1, 0x8A, 0xF1, 0xCC, 0x06, 0x75, 0xBA, 0x8B}};
/* {D773DF2C-0E7C-460A-AB47-71456162C70E} */
static const VorlanGuid IID_IDeviceDriverControl = {
    0xD773DF2Cu, 0x0E7C, 0x460A, {0xAB, 0x47, 0x71, 0x45, 0x61, 0x62, 0xC7, 0x0E}};
static const VorlanGuid IID_IUnknown = {
    0x00000000u, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const VorlanGuid IID_IClassFactory = {
    0x00000001u, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const VorlanGuid IID_IDispatch = {
    0x00020400u, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/* ---- Host records ---- */

typedef struct RegisterDef {
    char name[8];
    int32_t minAddress;
    int32_t maxAddress;
    int32_t typeMask;
    int32_t reserved;
} RegisterDef;

typedef struct ChannelConfig {
    uint8_t reserved0[4];
    char portName[32];
    int32_t baudRate;
    uint8_t byteSize;
    uint8_t reserved1;
    int16_t stopBits;
    uint8_t parity;
    uint8_t reserved2;
    int16_t replyTimeout;
    uint8_t reserved3[8];
} ChannelConfig;

typedef struct ItemConfig {
    uint8_t reserved0[32];
    char registerText[128];
    int16_t dataType;
} ItemConfig;

typedef struct ItemRef {
    uint8_t reserved0[38];
    int16_t device;
    uint8_t reserved1[4];
    const RegisterDef *entry;
    int16_t registerIndex;
    uint8_t reserved2[6];
    int16_t dataAddress;
    int16_t dataType;
} ItemRef;

typedef struct FileTime {
    uint32_t lowDateTime;
    uint32_t highDateTime;
} FileTime;

typedef struct HostItem {
    uint8_t reserved0[2];
    uint16_t address;
    uint8_t reserved1[4];
    uint8_t value[8];
    int16_t quality;
    uint8_t reserved2[2];
    FileTime timestamp;
} HostItem;

typedef struct HostItemNode {
    struct HostItemNode *next;
    struct HostItemNode *prev;
    HostItem *item;
} HostItemNode;

typedef struct HostItemList {
    uint8_t reserved0[4];
    HostItemNode *first;
    HostItemNode *last;
    int32_t count;
} HostItemList;

typedef struct HostPacket {
    int16_t deviceIndex;
    int16_t device;
    uint8_t reserved0[12];
    int16_t registerIndex;
    uint8_t reserved1[6];
    int32_t firstAddress;
    int32_t lastAddress;
    int16_t direction;
    uint8_t reserved2[2];
    HostItemList items;
} HostPacket;

/* ---- Interfaces ---- */

typedef struct IDeviceDriver IDeviceDriver;
typedef struct IDeviceDriverControl IDeviceDriverControl;
typedef struct IVorlanClassFactory IVorlanClassFactory;
typedef struct IVorlanDispatch IVorlanDispatch;

typedef struct IDeviceDriverVtbl {
    int32_t (*QueryInterface)(IDeviceDriver *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IDeviceDriver *self);
    uint32_t (*Release)(IDeviceDriver *self);
    int32_t (*GetRegisterTable)(IDeviceDriver *self, intptr_t reserved,
                                const RegisterDef **table, int32_t *count);
    int32_t (*ProbeDevice)(IDeviceDriver *self, intptr_t reserved, int32_t address,
                           intptr_t reserved2);
    int16_t (*CheckItem)(IDeviceDriver *self, const ItemConfig *config, ItemRef *ref);
    int32_t (*ReservedA6)(IDeviceDriver *self, intptr_t a, intptr_t b, intptr_t c);
    /* OpenChannel and CloseChannel wait for a packet call running on another
     * thread (up to its exchange's length, 2.4 s for a setting read), so the
     * port never changes under an exchange. */
    int32_t (*OpenChannel)(IDeviceDriver *self, intptr_t reserved, const ChannelConfig *config);
    int32_t (*CloseChannel)(IDeviceDriver *self);
    int32_t (*ReservedA9)(IDeviceDriver *self, intptr_t a, intptr_t b, intptr_t c);
    int32_t (*CanMerge)(IDeviceDriver *self, const ItemRef *ref, int32_t direction,
                        HostPacket *packet);
    int32_t (*ReadPacket)(IDeviceDriver *self, HostPacket *packet);
    int32_t (*AddDevice)(IDeviceDriver *self, const char *addressText, int32_t *address);
    const char *(*GetErrorText)(IDeviceDriver *self);
} IDeviceDriverVtbl;

struct IDeviceDriver {
    const IDeviceDriverVtbl *lpVtbl;
};

typedef struct IDeviceDriverControlVtbl {
    int32_t (*QueryInterface)(IDeviceDriverControl *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IDeviceDriverControl *self);
    uint32_t (*Release)(IDeviceDriverControl *self);
    int32_t (*WritePacket)(IDeviceDriverControl *self, HostPacket *packet);
    int32_t (*ReservedB4)(IDeviceDriverControl *self, intptr_t a);
    int32_t (*ReservedB5)(IDeviceDriverControl *self, intptr_t a, intptr_t b, intptr_t c);
    int32_t (*ReservedB6)(IDeviceDriverControl *self, intptr_t a);
} IDeviceDriverControlVtbl;

struct IDeviceDriverControl {
    const IDeviceDriverControlVtbl *lpVtbl;
};

typedef struct IVorlanClassFactoryVtbl {
    int32_t (*QueryInterface)(IVorlanClassFactory *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IVorlanClassFactory *self);
    uint32_t (*Release)(IVorlanClassFactory *self);
    int32_t (*CreateInstance)(IVorlanClassFactory *self, void *outer, const VorlanGuid *iid,
                              void **out);
    int32_t (*LockServer)(IVorlanClassFactory *self, int32_t lock);
} IVorlanClassFactoryVtbl;

struct IVorlanClassFactory {
    const IVorlanClassFactoryVtbl *lpVtbl;
};

/* The component's dispatch part: it has no members. */
typedef struct IVorlanDispatchVtbl {
    int32_t (*QueryInterface)(IVorlanDispatch *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IVorlanDispatch *self);
    uint32_t (*Release)(IVorlanDispatch *self);
    int32_t (*GetTypeInfoCount)(IVorlanDispatch *self, uint32_t *count);
    int32_t (*GetTypeInfo)(IVorlanDispatch *self, uint32_t index, uint32_t locale, void **out);
    int32_t (*GetIDsOfNames)(IVorlanDispatch *self, const VorlanGuid *iid, void *names,
                             uint32_t count, uint32_t locale, int32_t *ids);
    int32_t (*Invoke)(IVorlanDispatch *self, int32_t member, const VorlanGuid *iid,
                      uint32_t locale, uint16_t flags, void *params, void *result,
                      void *exception, uint32_t *argError);
} IVorlanDispatchVtbl;

struct IVorlanDispatch {
    const IVorlanDispatchVtbl *lpVtbl;
};

/* ---- Library exports ---- */

VORLAN_API int32_t DllGetClassObject(const VorlanGuid *clsid, const VorlanGuid *iid, void **out);
VORLAN_API int32_t DllCanUnloadNow(void);
VORLAN_API int32_t DllRegisterServer(void);

/* What the line has done with one registered relay since the component was
 * created, counted by the packet calls (Send packets and probes). */
typedef struct VorlanRelayStats {
    int32_t address;              /* the relay's bus address */
    uint32_t requestsSent;        /* requests written to this relay */
    uint32_t answersTaken;        /* valid answers taken from it */
    uint32_t timeouts;            /* requests with no complete answer in time */
    uint32_t rejectedAnswers;     /* answers refused: bad CRC, wrong address, bad framing */
    uint32_t consecutiveFailures; /* failed exchanges since the last answer taken */
    FileTime lastAnswer;          /* UTC time of the last answer taken; 0 when never */
} VorlanRelayStats;

/* Fills `out` for the relay registered at `deviceIndex` (0 for the first
 * AddDevice). Returns 1, or 0 when no relay is registered there or an argument
 * is null. Any thread may call it at any time: it never waits for a packet
 * call, and each count is read as one value. */
VORLAN_API int32_t VorlanGetRelayStats(IDeviceDriver *driver, int32_t deviceIndex,
                                       VorlanRelayStats *out);

/* Copies the text of a recording-time atom handed out in an LBTime item, with
 * a terminating NUL, cut to fit `size`. Returns the text's length, or 0 for an
 * unknown atom. */
VORLAN_API uint32_t VorlanGetAtomName(uint16_t atom, char *buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VORLAN_DRIVER_H */
