/* SPDX-License-Identifier: Apache-2.0 */
/* The host records must sit at the host's byte offsets with 4-byte pointers.
 * Built with -m32; a wrong offset stops the compilation. */
#include <stddef.h>

#include "vorlan/driver.h"

#define AT(type, field, offset) \
    _Static_assert(offsetof(type, field) == (offset), #type "." #field " at " #offset)
#define SIZE(type, size) _Static_assert(sizeof(type) == (size), "size of " #type)

_Static_assert(sizeof(void *) == 4, "the layout check needs 4-byte pointers (-m32)");

SIZE(RegisterDef, 24);
AT(RegisterDef, name, 0);
AT(RegisterDef, minAddress, 8);
AT(RegisterDef, maxAddress, 12);
AT(RegisterDef, typeMask, 16);
AT(RegisterDef, reserved, 20);

SIZE(ChannelConfig, 56);
AT(ChannelConfig, portName, 4);
AT(ChannelConfig, baudRate, 36);
AT(ChannelConfig, byteSize, 40);
AT(ChannelConfig, stopBits, 42);
AT(ChannelConfig, parity, 44);
AT(ChannelConfig, replyTimeout, 46);

AT(ItemConfig, registerText, 32);
AT(ItemConfig, dataType, 160);

AT(ItemRef, device, 38);
AT(ItemRef, entry, 44);
AT(ItemRef, registerIndex, 48);
AT(ItemRef, dataAddress, 56);
AT(ItemRef, dataType, 58);

SIZE(FileTime, 8);
AT(HostItem, address, 2);
AT(HostItem, value, 8);
AT(HostItem, quality, 16);
AT(HostItem, timestamp, 20);

AT(HostItemNode, next, 0);
AT(HostItemNode, prev, 4);
AT(HostItemNode, item, 8);

AT(HostPacket, deviceIndex, 0);
AT(HostPacket, device, 2);
AT(HostPacket, registerIndex, 16);
AT(HostPacket, firstAddress, 24);
AT(HostPacket, lastAddress, 28);
AT(HostPacket, direction, 32);
AT(HostPacket, items, 36);
AT(HostPacket, items.first, 40);
AT(HostPacket, items.last, 44);
AT(HostPacket, items.count, 48);

/* The interface tables: the slot order the host calls by. */
AT(IDeviceDriverVtbl, QueryInterface, 0 * 4);
AT(IDeviceDriverVtbl, GetRegisterTable, 3 * 4);
AT(IDeviceDriverVtbl, CheckItem, 5 * 4);
AT(IDeviceDriverVtbl, OpenChannel, 7 * 4);
AT(IDeviceDriverVtbl, CanMerge, 10 * 4);
AT(IDeviceDriverVtbl, ReadPacket, 11 * 4);
AT(IDeviceDriverVtbl, AddDevice, 12 * 4);
AT(IDeviceDriverVtbl, GetErrorText, 13 * 4);
SIZE(IDeviceDriverVtbl, 14 * 4);
AT(IDeviceDriverControlVtbl, WritePacket, 3 * 4);
SIZE(IDeviceDriverControlVtbl, 7 * 4);

/* An empty translation unit is not ISO C. */
int vorlan_layout_checked;
