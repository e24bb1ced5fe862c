/*
 * A minimal host: loads the driver, registers one relay, polls it ten times
 * and prints its first four measurements (YC1 to YC4).
 *
 *   minimal_host PORT [RELAY [LIBRARY]]
 *
 * PORT is the serial port (ttyUSB0, COM1 or a path), RELAY the relay's bus
 * address (default 1). Without LIBRARY the driver is found through the
 * registration file, as a host normally finds it.
 */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vorlan/driver.h"

typedef int32_t (*GetClassObjectFn)(const VorlanGuid *, const VorlanGuid *, void **);

/* InprocServer= of the [Vorlan.RelayPro] section of the registration file. */
static int RegisteredLibrary(char *path, size_t size) {
    char file[4096], line[4096];
    const char *env = getenv("VORLAN_REGISTRY"), *xdg = getenv("XDG_CONFIG_HOME");
    if (env != NULL && env[0] != '\0') snprintf(file, sizeof file, "%s", env);
    else if (xdg != NULL && xdg[0] != '\0') snprintf(file, sizeof file, "%s/vorlan/registry.ini", xdg);
    else snprintf(file, sizeof file, "%s/.config/vorlan/registry.ini", getenv("HOME") ? getenv("HOME") : "");
    FILE *in = fopen(file, "r");
    int inSection = 0, found = 0;
    while (in != NULL && !found && fgets(line, sizeof line, in) != NULL) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '[') inSection = strcmp(line, "[" VORLAN_PROGID "]") == 0;
        else if (inSection && strncmp(line, "InprocServer=", 13) == 0)
            found = snprintf(path, size, "%s", line + 13) < (int)size;
    }
    if (in != NULL) fclose(in);
    return found;
}

int main(int argc, char **argv) {
    char library[4096];
    if (argc < 2 || argc > 4) return fprintf(stderr, "usage: %s PORT [RELAY [LIBRARY]]\n", argv[0]), 2;
    const char *relay = argc > 2 ? argv[2] : "1";
    if (argc > 3) snprintf(library, sizeof library, "%s", argv[3]);
    else if (!RegisteredLibrary(library, sizeof library))
        return fprintf(stderr, "the driver is not registered; give the library's path\n"), 3;

    /* 1. Load the library and create one component for the channel. */
    void *lib = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    GetClassObjectFn getClassObject = lib ? (GetClassObjectFn)dlsym(lib, "DllGetClassObject") : NULL;
    IVorlanClassFactory *factory = NULL;
    IDeviceDriver *driver = NULL;
    if (getClassObject == NULL ||
        getClassObject(&CLSID_VorlanRelayPro, &IID_IClassFactory, (void **)&factory) != VORLAN_S_OK ||
        factory->lpVtbl->CreateInstance(factory, NULL, &IID_IDeviceDriver, (void **)&driver) != VORLAN_S_OK) {
        fprintf(stderr, "cannot load the driver from %s\n", library);
        return 3;
    }
    factory->lpVtbl->Release(factory);
    const IDeviceDriverVtbl *d = driver->lpVtbl;

    /* 2. Register the relay (device index 0) and open the port. */
    int32_t address = 0;
    static ChannelConfig channel;
    snprintf(channel.portName, sizeof channel.portName, "%s", argv[1]);
    channel.baudRate = 9600;
    channel.byteSize = 8;
    channel.stopBits = 1;
    if (!d->AddDevice(driver, relay, &address)) {
        fprintf(stderr, "relay address %s refused\n", relay);
        d->Release(driver);
        return 4;
    }
    if (!d->OpenChannel(driver, 0, &channel)) {
        /* errno says what happened (ENOENT, EBUSY, ...); the driver says why. */
        const int error = errno;
        char why[256] = "";
        uint32_t (*lastError)(IDeviceDriver *, char *, uint32_t) =
            (uint32_t (*)(IDeviceDriver *, char *, uint32_t))dlsym(lib, "VorlanGetLastError");
        if (lastError != NULL) lastError(driver, why, sizeof why);
        fprintf(stderr, "port %s refused: %s (%s)\n", argv[1], why, strerror(error));
        d->Release(driver);
        return 4;
    }

    /* 3. Check YC1..YC4 and group them into one read packet. */
    static HostItem items[4];
    static HostItemNode nodes[4];
    static HostPacket yc, send;
    for (int i = 0; i < 4; ++i) {
        static ItemConfig config;
        static ItemRef ref;
        snprintf(config.registerText, sizeof config.registerText, "YC%d", i + 1);
        config.dataType = VORLAN_TYPE_FLOAT;
        if (d->CheckItem(driver, &config, &ref) != 0)  /* the reason: GetErrorText, in GBK */
            return fprintf(stderr, "%s rejected\n", config.registerText), 5;
        if (i == 0) {  /* the first item makes the packet */
            yc.registerIndex = ref.registerIndex;
            yc.firstAddress = yc.lastAddress = ref.dataAddress;
        } else if (!d->CanMerge(driver, &ref, VORLAN_DIRECTION_READ, &yc)) {
            return 5;
        }
        items[i].address = (uint16_t)ref.dataAddress;
        nodes[i].item = &items[i];
        nodes[i].prev = i > 0 ? &nodes[i - 1] : NULL;
        nodes[i].next = i < 3 ? &nodes[i + 1] : NULL;
    }
    yc.items.first = &nodes[0];
    yc.items.last = &nodes[3];
    yc.items.count = 4;
    send.registerIndex = VORLAN_REG_SEND;  /* no items: it only drives the line */

    /* 4. Poll: each Send packet is one request on the line; the YC packet
     * then reads what the answers left in the driver. */
    int answered = 0;
    for (int turn = 1; turn <= 10; ++turn) {
        const int ok = d->ReadPacket(driver, &send);
        answered += ok;
        d->ReadPacket(driver, &yc);
        printf("poll %2d %-9s", turn, ok ? "answered" : "no answer");
        for (int i = 0; i < 4; ++i) {
            float v;
            memcpy(&v, items[i].value, sizeof v);
            printf("  YC%d=%.3f%s", i + 1, v, items[i].quality == VORLAN_QUALITY_GOOD ? "" : "?");
        }
        printf("\n");
    }

    /* 5. Close the port and release the component. */
    d->CloseChannel(driver);
    d->Release(driver);
    return answered > 0 ? 0 : 1;
}
