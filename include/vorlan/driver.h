/* SPDX-License-Identifier: Apache-2.0 */
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
 *
 * The contract in short (docs/host-guide.md tells it at length, and
 * examples/minimal_host.c is a host of about a hundred lines):
 *
 *   1. DllGetClassObject, CreateInstance: one component per serial channel.
 *   2. AddDevice once per relay; the order gives the device indexes 0, 1, ...
 *   3. OpenChannel with the channel's port and line settings.
 *   4. GetRegisterTable, CheckItem for each item, CanMerge to group items of
 *      one relay, register and direction into a HostPacket.
 *   5. The polling loop: a read packet of register Send drives exactly one
 *      request on the line and takes its answer into the driver's records;
 *      packets of the other registers copy those records into the items and
 *      never touch the line. Polling only advances while the host sends Send
 *      packets, so their rate is the line's request rate.
 *   6. Writes (WritePacket, direction 1) choose the next request of a relay;
 *      the next Send packets carry it.
 *   7. CloseChannel, then Release of every interface pointer.
 *
 * Threads: each component has one lock. Packet calls, ProbeDevice, AddDevice,
 * OpenChannel and CloseChannel take it, so they run one at a time per
 * component and may come from any thread; a call waits while another thread's
 * packet call runs (up to one exchange, 2.4 s for a setting read). CheckItem,
 * CanMerge, GetRegisterTable and GetErrorText take no lock: call them from the
 * thread that configures the component, before polling starts.
 * VorlanGetRelayStats and VorlanGetAtomName never wait. Components are
 * independent: one thread per channel is the usual design.
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

/* ---- Register catalogue ----
 *
 * GetRegisterTable hands out these 20 entries in this order; an item's and a
 * packet's registerIndex is the position. The order is part of the contract.
 * Per register: what an item holds (the value area's first bytes, in the
 * machine's byte order), the data-type bit CheckItem accepts, the data
 * addresses, and what a read (direction 0) and a write (direction 1) do.
 * "Stamped" items carry the quality that says how fresh their value is (see
 * VORLAN_QUALITY_GOOD below): good and stamped with the time of the packet
 * call (UTC) while the relay answers; waiting (value 0) for a point it never
 * reported; last known, stamped with the answer that carried the value, once
 * the relay has gone silent or the port is lost. The values are the driver's
 * record of the relay, as the last answers left it.
 */
typedef enum VorlanRegister {
    /* No address, byte. Read or write: drives one request to the relay the
     * driver serves next (not necessarily the packet's relay) and takes its
     * answer; the items are left untouched. Returns 0 when the exchange
     * failed. The polling loop is a sequence of Send packets. */
    VORLAN_REG_SEND = 0,
    /* No address, byte. Write 1 (VORLAN_SHOW_ON) to mirror this relay's
     * requests and answers to the monitor as hex lines, 0 to stop. Reads do
     * nothing. */
    VORLAN_REG_SHOW = 1,
    /* Measurements, addresses 1..64, float (32-bit IEEE). Stamped. A write
     * reads like a read and changes nothing. */
    VORLAN_REG_YC = 2,
    /* Status points, addresses 1..512, bit: a 32-bit long, exactly 0 or 1.
     * Stamped. Writes read. */
    VORLAN_REG_YX = 3,
    /* Counters, addresses 1..20, long (32-bit, the relay's unsigned count in
     * its bits). Stamped. Writes read. */
    VORLAN_REG_YM = 4,
    /* Remote control, points 1..64, byte. Write a VORLAN_YK_* command code to
     * the point; read the point's progress code (VORLAN_YK_ACTION_*), good
     * quality, no stamp; items of other points stay untouched. */
    VORLAN_REG_YK = 5,
    /* Addresses 1..255, bit. Nothing is delivered. */
    VORLAN_REG_ALARM = 6,
    /* Addresses 1..255, bit. Nothing is delivered. */
    VORLAN_REG_EVENT = 7,
    /* Setting zone, byte. Read: the zone last chosen (100 before any), no
     * stamp. Write a zone number: its settings are read from the relay into
     * the setting database; VORLAN_ZONE_NONE (100) does nothing. */
    VORLAN_REG_DZONE = 8,
    /* Byte. Nothing is delivered. */
    VORLAN_REG_CPU = 9,
    /* Signal reset, byte, write only. VORLAN_FG_RESET (80) asks for the
     * broadcast that resets the signals of every relay on the line; it goes
     * out when the driver next serves this relay, and the packet itself
     * carries the next request like a Send packet. 90 is acknowledged and
     * does nothing. Either is set back to 0 in the item. */
    VORLAN_REG_FG = 10,
    /* Relay type code, byte, from the relay's setting answers; no stamp. */
    VORLAN_REG_RTUTYPE = 11,
    /* Status changes with the relay's own time, addresses 1..20000, bit (a
     * long 0 or 1). Address p (1..10000) shows point p-1 going to 0, address
     * 10000+p point p-1 going to 1. Reads alternate: the first read gives 0 in
     * every item (no stamp), the next delivers queued changes as 1 stamped
     * with the change's time and 0 stamped now (UTC) for the rest. Writes do
     * nothing. The relay's time is read in the zone its clock keeps: UTC+8
     * unless the line settings' relay_time_zone names another (an offset or
     * a zone name); a time the zone skips takes the offset after the change,
     * a repeated one the offset before it, and a time no calendar holds is
     * stamped now. The driver sets the relays' clocks to UTC now in that zone
     * unless the line's time_sync is off (see docs/host-guide.md on relay
     * clocks). */
    VORLAN_REG_BWYX = 12,
    /* Setting write, long. Read: the setting state (VORLAN_SETTING_*), no
     * stamp. Write VORLAN_SETTING_WRITE (2): the edited settings of the
     * relay's table in the setting database are written to the relay. */
    VORLAN_REG_DZWR = 13,
    /* Zone switch, byte, write only: makes the written zone the relay's
     * active one and reads its settings back; VORLAN_ZONE_KEEP (255) does
     * nothing. */
    VORLAN_REG_DZNOW = 14,
    /* Byte. Nothing is delivered. */
    VORLAN_REG_RTUID = 15,
    /* Fault recordings, long. Write VORLAN_LB_FETCH_LIST (-1) to fetch the
     * relay's list of recordings (LBCount, LBID, LBTime), or a listed number
     * (LBID) to fetch that recording into COMTRADE files. Read: once fetched
     * files are written, VORLAN_LB_NOT_LISTED (-2), stamped; before, nothing. */
    VORLAN_REG_LBSTART = 16,
    /* Listed recording numbers, addresses 1..4, long, stamped; -2
     * (VORLAN_LB_NOT_LISTED) past the list's end. Read only. */
    VORLAN_REG_LBID = 17,
    /* Listed recording times, addresses 1..4, text: a 16-bit atom whose text
     * VorlanGetAtomName copies (GBK); 0 past the list's end. The atom stays
     * valid until the next LBTime read of the same address. Stamped; quality
     * VORLAN_QUALITY_BAD when a listed text found no atom. Read only. */
    VORLAN_REG_LBTIME = 18,
    /* Number of listed recordings 0..4, byte, stamped. Read only. */
    VORLAN_REG_LBCOUNT = 19,
    VORLAN_REG_COUNT = 20
} VorlanRegister;

/* The host data-type bits of ItemConfig.dataType and RegisterDef.typeMask:
 * CheckItem accepts an item whose bits share one with the register's mask. */
#define VORLAN_TYPE_BIT ((int16_t)1)
#define VORLAN_TYPE_BYTE ((int16_t)2)
#define VORLAN_TYPE_LONG ((int16_t)32)
#define VORLAN_TYPE_FLOAT ((int16_t)128)
#define VORLAN_TYPE_TEXT ((int16_t)256)

/* HostItem.quality as the driver writes it: OPC-style codes that say how
 * fresh a served value is.
 *
 *   code  name                          value served        timestamp
 *   0xC0  VORLAN_QUALITY_GOOD           the relay's current  the packet call
 *   0x20  VORLAN_QUALITY_WAITING        0 (never reported)   the packet call
 *   0x14  VORLAN_QUALITY_LAST_KNOWN     the last reported    the answer that
 *                                                            last carried it
 *   0x00  VORLAN_QUALITY_BAD            (LBTime without an atom)
 *
 * A point the relay has never reported since OpenChannel is WAITING whatever
 * the link does. Once the relay has failed VORLAN_STALE_AFTER_FAILURES
 * consecutive exchanges, or the port is lost, its reported points turn
 * LAST_KNOWN; the next answer makes them GOOD again. The line setting
 * `quality = legacy` serves every value GOOD, stamped now, as earlier versions
 * did. */
#define VORLAN_QUALITY_GOOD ((int16_t)0xC0)
#define VORLAN_QUALITY_WAITING ((int16_t)0x20)
#define VORLAN_QUALITY_LAST_KNOWN ((int16_t)0x14)
#define VORLAN_QUALITY_BAD ((int16_t)0)
#define VORLAN_STALE_AFTER_FAILURES 3

/* HostPacket.direction. */
#define VORLAN_DIRECTION_READ ((int16_t)0)
#define VORLAN_DIRECTION_WRITE ((int16_t)1)

/* Show: monitor trace of one relay on or off. */
#define VORLAN_SHOW_OFF 0
#define VORLAN_SHOW_ON 1

/* YK writes (the item's first value byte). Close and open select the point
 * and the relay executes once it confirms; cancel drops a pending selection
 * of the relay whatever the item's address. The "tracked" codes select like
 * close/open and also set the progress code the point reads back; the "mark"
 * codes only set that progress code (to 20/21) and send nothing. 0 is
 * skipped; other values do nothing. */
#define VORLAN_YK_CLOSE 204
#define VORLAN_YK_OPEN 170
#define VORLAN_YK_CANCEL 55
#define VORLAN_YK_MARK_OPEN 10
#define VORLAN_YK_MARK_CLOSE 11
#define VORLAN_YK_TRACKED_OPEN 30
#define VORLAN_YK_TRACKED_CLOSE 31

/* YK reads: the progress code of the point last named by a YK write. */
#define VORLAN_YK_ACTION_NONE 255           /* nothing asked yet */
#define VORLAN_YK_ACTION_MARKED_OPEN 20     /* after a write of 10 */
#define VORLAN_YK_ACTION_MARKED_CLOSE 21    /* after a write of 11 */
#define VORLAN_YK_ACTION_ASKED_OPEN 30      /* select asked, not confirmed */
#define VORLAN_YK_ACTION_ASKED_CLOSE 31
#define VORLAN_YK_ACTION_OPEN_CONFIRMED 40  /* the relay confirmed the select */
#define VORLAN_YK_ACTION_CLOSE_CONFIRMED 41

/* DZone and DZNow values that change nothing. */
#define VORLAN_ZONE_NONE 100
#define VORLAN_ZONE_KEEP 255

/* DZWR: the write value, and the setting states a read returns. */
#define VORLAN_SETTING_WRITE 2
#define VORLAN_SETTING_IDLE 255         /* nothing done yet */
#define VORLAN_SETTING_REQUESTED 0      /* a zone was chosen, its settings asked for */
#define VORLAN_SETTING_RECEIVED 1       /* settings received and stored */
#define VORLAN_SETTING_WRITING 2        /* a setting write was asked for */
#define VORLAN_SETTING_ACKNOWLEDGED 3   /* the relay acknowledged the write */
#define VORLAN_SETTING_SWITCHING 4      /* zone switched, its settings are read next */

/* FG writes. */
#define VORLAN_FG_RESET 80
#define VORLAN_FG_ACKNOWLEDGE 90

/* LBStart and LBID values. */
#define VORLAN_LB_FETCH_LIST (-1)
#define VORLAN_LB_NOT_LISTED (-2)

/* ---- Host records ---- */

/* One catalogue entry; GetRegisterTable hands out VORLAN_REG_COUNT of them,
 * constant data of the library. */
typedef struct RegisterDef {
    char name[8];       /* ASCII, NUL-padded */
    int32_t minAddress; /* the register takes data addresses only when */
    int32_t maxAddress; /* minAddress < maxAddress */
    int32_t typeMask;   /* VORLAN_TYPE_* bits the register accepts */
    int32_t reserved;
} RegisterDef;

/* The serial channel, for OpenChannel. */
typedef struct ChannelConfig {
    uint8_t reserved0[4];
    char portName[32];    /* NUL-terminated, at most 31 characters: "COM<n>"
                           * (/dev/ttyS<n-1>), a name under /dev such as
                           * "ttyUSB0", or an absolute path */
    int32_t baudRate;     /* VORLAN_MIN_BAUD..VORLAN_MAX_BAUD */
    uint8_t byteSize;     /* data bits, 5..8 */
    uint8_t reserved1;
    int16_t stopBits;     /* 2 = two stop bits, anything else one */
    uint8_t parity;       /* 0 none, 1 odd, 2 even, 3 mark, 4 space */
    uint8_t reserved2;
    int16_t replyTimeout; /* kept, not used: the exchange has fixed timing */
    uint8_t reserved3[8];
} ChannelConfig;

/* The baud rates OpenChannel accepts, and the characters of a port name. */
#define VORLAN_MIN_BAUD 300
#define VORLAN_MAX_BAUD 57600
#define VORLAN_PORT_NAME_CHARS 31

/* The device path OpenChannel opens for `portName` (at most 31 characters of
 * it are read): an absolute path as it is, "COM<n>" in any case with n from 1
 * as /dev/ttyS<n-1>, any other name under /dev. Writes it with a NUL into
 * `out` and returns its length, or returns 0 when it does not fit `size`. */
static inline uint32_t VorlanPortDevicePath(const char *portName, char *out, uint32_t size) {
    char name[VORLAN_PORT_NAME_CHARS + 1];
    uint32_t n = 0, i = 0, length = 0;
    unsigned long com = 0;
    const char *prefix = "/dev/";
    if (portName == 0 || out == 0 || size == 0) return 0;
    while (n < VORLAN_PORT_NAME_CHARS && portName[n] != '\0') { name[n] = portName[n]; ++n; }
    name[n] = '\0';
    if (n >= 4 && n <= 12 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
        (name[2] == 'M' || name[2] == 'm')) {
        for (i = 3; i < n && name[i] >= '0' && name[i] <= '9'; ++i) com = com * 10 + (unsigned long)(name[i] - '0');
        if (i < n) com = 0; /* not all digits: an ordinary name */
    }
    if (n > 0 && name[0] == '/') prefix = "";
    if (com > 0) {
        char digits[12];
        uint32_t d = 0;
        unsigned long v = com - 1;
        do { digits[d++] = (char)('0' + v % 10); v /= 10; } while (v > 0);
        prefix = "/dev/ttyS";
        for (i = 0; prefix[i] != '\0'; ++i) { if (length + 1 >= size) return 0; out[length++] = prefix[i]; }
        while (d > 0) { if (length + 1 >= size) return 0; out[length++] = digits[--d]; }
        out[length] = '\0';
        return length;
    }
    for (i = 0; prefix[i] != '\0'; ++i) { if (length + 1 >= size) return 0; out[length++] = prefix[i]; }
    for (i = 0; i < n; ++i) { if (length + 1 >= size) return 0; out[length++] = name[i]; }
    out[length] = '\0';
    return length;
}

/* The host's definition of one item, for CheckItem. */
typedef struct ItemConfig {
    uint8_t reserved0[32];
    char registerText[128]; /* register name and data address, e.g. "YC12" */
    int16_t dataType;       /* VORLAN_TYPE_* */
} ItemConfig;

/* An item as CheckItem parsed it; CanMerge reads it again. */
typedef struct ItemRef {
    uint8_t reserved0[38];
    int16_t device;            /* the host's device number (the host writes it) */
    uint8_t reserved1[4];
    const RegisterDef *entry;  /* the catalogue entry */
    int16_t registerIndex;     /* VorlanRegister */
    uint8_t reserved2[6];
    int16_t dataAddress;       /* 0 for registers without addresses */
    int16_t dataType;          /* copied from ItemConfig when accepted */
} ItemRef;

/* 100-nanosecond intervals since 1 January 1601, UTC. */
typedef struct FileTime {
    uint32_t lowDateTime;
    uint32_t highDateTime;
} FileTime;

/* One item of a packet; the driver writes value, quality and timestamp. */
typedef struct HostItem {
    uint8_t reserved0[2];
    uint16_t address;   /* the item's data address (ItemRef.dataAddress) */
    uint8_t reserved1[4];
    uint8_t value[8];   /* the register's value type in the first 1, 2 or 4
                         * bytes; the rest is left alone */
    int16_t quality;    /* VORLAN_QUALITY_* */
    uint8_t reserved2[2];
    FileTime timestamp; /* UTC; left alone by registers that don't stamp */
} HostItem;

typedef struct HostItemNode {
    struct HostItemNode *next;
    struct HostItemNode *prev;
    HostItem *item;
} HostItemNode;

/* The packet's items: walked from `first` along `next`, `count` steps. The
 * driver never adds, removes or frees nodes. */
typedef struct HostItemList {
    uint8_t reserved0[4];
    HostItemNode *first;
    HostItemNode *last;
    int32_t count;
} HostItemList;

/* Items of one relay, one register and one direction, moved by one packet
 * call. The host owns it; the driver only reads it and writes the items. */
typedef struct HostPacket {
    int16_t deviceIndex;   /* 0-based, in the order of AddDevice */
    int16_t device;        /* the host's device number, compared by CanMerge */
    uint8_t reserved0[12];
    int16_t registerIndex; /* VorlanRegister */
    uint8_t reserved1[6];
    int32_t firstAddress;  /* lowest and highest item address, */
    int32_t lastAddress;   /* widened by CanMerge */
    int16_t direction;     /* VORLAN_DIRECTION_READ or _WRITE; this decides,
                            * not the entry point (ReadPacket, WritePacket) */
    uint8_t reserved2[2];
    HostItemList items;
} HostPacket;

/* ---- Interfaces ---- */

typedef struct IDeviceDriver IDeviceDriver;
typedef struct IDeviceDriverControl IDeviceDriverControl;
typedef struct IVorlanClassFactory IVorlanClassFactory;
typedef struct IVorlanDispatch IVorlanDispatch;

/* The component's main interface. Calls that take the component's lock run
 * one at a time per component (see the top of this file). */
typedef struct IDeviceDriverVtbl {
    /* IID_IUnknown, IID_IDeviceDriver, IID_IDeviceDriverControl, IID_IDispatch
     * or DIID_VorlanRelayPro; all share one reference count. */
    int32_t (*QueryInterface)(IDeviceDriver *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IDeviceDriver *self);
    /* At zero the port is closed and the component destroyed. */
    uint32_t (*Release)(IDeviceDriver *self);
    /* Stores the catalogue's first entry and VORLAN_REG_COUNT; returns 1.
     * The entries stay valid while the library is loaded. */
    int32_t (*GetRegisterTable)(IDeviceDriver *self, intptr_t reserved,
                                const RegisterDef **table, int32_t *count);
    /* Sends the general poll to `address` (a registered relay) and returns 1
     * when it answered validly, 0 otherwise (also for an unregistered address,
     * without touching the line). Takes the lock; lasts one exchange. */
    int32_t (*ProbeDevice)(IDeviceDriver *self, intptr_t reserved, int32_t address,
                           intptr_t reserved2);
    /* Parses config->registerText against the catalogue and fills `ref`.
     * Returns 0 = accepted, 1 = rejected; GetErrorText then names the reason.
     * Configuration time, no lock. */
    int16_t (*CheckItem)(IDeviceDriver *self, const ItemConfig *config, ItemRef *ref);
    int32_t (*ReservedA6)(IDeviceDriver *self, intptr_t a, intptr_t b, intptr_t c);
    /* Opens and configures config->portName exclusively. Returns 1 = open,
     * 0 = refused (baud rate outside 300..57600, device missing, held by
     * another program, not a terminal, settings refused); a port already
     * open stays open then. OpenChannel and CloseChannel wait for a packet
     * call running on another thread (up to its exchange's length, 2.4 s for
     * a setting read), so the port never changes under an exchange. On 0,
     * errno and VorlanGetLastError say why (see the end of this file). */
    int32_t (*OpenChannel)(IDeviceDriver *self, intptr_t reserved, const ChannelConfig *config);
    /* Closes the port, if one is open; returns 1. */
    int32_t (*CloseChannel)(IDeviceDriver *self);
    int32_t (*ReservedA9)(IDeviceDriver *self, intptr_t a, intptr_t b, intptr_t c);
    /* Returns 1 when the checked item `ref` belongs in `packet` (same device,
     * register and direction; for a write also the same address), widening
     * the packet's address range; 0 otherwise. The host links the item into
     * the packet's list itself. Configuration time, no lock. */
    int32_t (*CanMerge)(IDeviceDriver *self, const ItemRef *ref, int32_t direction,
                        HostPacket *packet);
    /* The packet call: takes the lock, serves the packet's register (see
     * VorlanRegister), exchanges at most one request and answer on the line,
     * and returns 1 = success, 0 = failure (no valid answer in time, a write
     * refused, or a relay that has gone more than ten requests without an
     * answer). Any thread; lasts one exchange (0.4 s or more) when a request
     * goes out, microseconds for registers served from memory. */
    int32_t (*ReadPacket)(IDeviceDriver *self, HostPacket *packet);
    /* Registers the relay whose bus address is the decimal text (0..32).
     * An empty text is address 0. Returns 1 and stores the address, or 0 for
     * a bad text, an address already registered on this component, or a full
     * table (32 relays). Call before polling. */
    int32_t (*AddDevice)(IDeviceDriver *self, const char *addressText, int32_t *address);
    /* The reason for the last rejection as NUL-terminated GBK text (constant
     * data of the library), or null when there is none. */
    const char *(*GetErrorText)(IDeviceDriver *self);
} IDeviceDriverVtbl;

struct IDeviceDriver {
    const IDeviceDriverVtbl *lpVtbl;
};

typedef struct IDeviceDriverControlVtbl {
    int32_t (*QueryInterface)(IDeviceDriverControl *self, const VorlanGuid *iid, void **out);
    uint32_t (*AddRef)(IDeviceDriverControl *self);
    uint32_t (*Release)(IDeviceDriverControl *self);
    /* The same packet call as ReadPacket; the packet's direction decides. */
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

/* The class object of CLSID_VorlanRelayPro (IID_IClassFactory or
 * IID_IUnknown); its CreateInstance makes one component. Any thread. */
VORLAN_API int32_t DllGetClassObject(const VorlanGuid *clsid, const VorlanGuid *iid, void **out);
/* VORLAN_S_OK when no component lives and no LockServer lock is held. */
VORLAN_API int32_t DllCanUnloadNow(void);
/* Writes the [Vorlan.RelayPro] section of the registration file (CLSID= and
 * InprocServer= with this library's absolute path); VORLAN_S_OK, or
 * VORLAN_SELFREG_E_CLASS when the file could not be read or written. */
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
    /* Silent-relay back-off (line settings silent_backoff, silent_retry_max_s):
     * a relay that failed VORLAN_STALE_AFTER_FAILURES exchanges in a row is
     * left out of the rotation and retried at doubling intervals. */
    uint32_t inBackoff;           /* 1 while the relay is backed off, else 0 */
    uint32_t retryIntervalMs;     /* its current retry interval; 0 when not backed off */
    uint32_t nextRetryInMs;       /* time until its next retry is due; 0 when due or not backed off */
} VorlanRelayStats;

/* Fills `out` for the relay registered at `deviceIndex` (0 for the first
 * AddDevice). Returns 1, or 0 when no relay is registered there or an argument
 * is null. Any thread may call it at any time: it never waits for a packet
 * call, and each count is read as one value.
 * VorlanGetRelayStats fills the fields up to and including lastAnswer only,
 * the record earlier versions of this header declared, so a host built
 * against one is never written past its record; the fields after it keep
 * what the caller put there. VorlanGetRelayStats2 fills the whole record. */
VORLAN_API int32_t VorlanGetRelayStats(IDeviceDriver *driver, int32_t deviceIndex,
                                       VorlanRelayStats *out);
VORLAN_API int32_t VorlanGetRelayStats2(IDeviceDriver *driver, int32_t deviceIndex,
                                        VorlanRelayStats *out);

/* Copies the text of a recording-time atom handed out in an LBTime item, with
 * a terminating NUL, cut to fit `size`. Returns the text's length, or 0 for an
 * unknown atom. */
VORLAN_API uint32_t VorlanGetAtomName(uint16_t atom, char *buffer, uint32_t size);

/* ---- Why OpenChannel refused ----
 *
 * When OpenChannel returns 0 it leaves errno (of the calling thread) set to
 * what happened:
 *   ENOENT  the device does not exist;
 *   EBUSY   another program holds the port: a lock file in the lock
 *           directory (/run/lock, or $VORLAN_LOCK_DIR) naming a live process,
 *           an flock or the exclusive flag on the terminal; also a lock file
 *           that is not a regular file (a FIFO, a directory, a link), which
 *           counts as held and is never waited on, and a port this process
 *           has open already;
 *   EACCES  this user may not open the device (EPERM likewise);
 *   ENOTTY  the path is not a terminal (a regular file, a directory, a FIFO);
 *   EINVAL  bad settings: a baud rate outside VORLAN_MIN_BAUD..VORLAN_MAX_BAUD,
 *           a byte size or parity out of range, settings or RS-485 direction
 *           control the device refuses, or no record;
 *   others  as open(2) gave them (ENXIO, ENODEV, EIO for a vanished device).
 * errno is left alone when OpenChannel returns 1.
 *
 * VorlanGetLastError copies the reason for this component's last refused
 * OpenChannel as one English sentence naming the port and the cause
 * (for a live lock the holder's PID and process name, e.g. "The port
 * /dev/ttyUSB0 is in use by process 4242 (minicom), which holds the lock file
 * /run/lock/LCK..ttyUSB0."), with a terminating NUL, cut to fit `size`
 * (`buffer` may be null with `size` 0 to learn the length). Returns the
 * sentence's full length, or 0 when the last OpenChannel succeeded, none was
 * made, or `driver` is null (`buffer` then holds ""). Any thread, any time:
 * it never waits for a packet call. The same sentence goes to the monitor
 * trace once, as "open refused: <sentence>". */
VORLAN_API uint32_t VorlanGetLastError(IDeviceDriver *driver, char *buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* VORLAN_DRIVER_H */
