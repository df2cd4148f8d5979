/* ondrix-capture list: the adapters, with what the system knows of each. */
#include <stdio.h>

#include "ondrix-capture.h"

/* "Ethernet: connected, 192.168.1.20/24 via 192.168.1.1, fe80::1/64, MAC 00-11-22-33-44-55, MTU 1500" */
static void print_details(int32_t index)
{
    AdapterDetailsRecord d;
    const uint8_t *m = d.mac;
    if (oxGetAdapterDetails(index, &d) != 0)
        return;
    printf("    %s: %s%s%s", d.friendlyName[0] ? d.friendlyName : "(no name)",
           d.flags & AdapterConnected ? "connected" : "not connected",
           d.flags & AdapterLoopback ? ", loopback" : "", d.flags & AdapterWireless ? ", wireless" : "");
    if (d.ipv4Address[0])
        printf(", %s/%d", d.ipv4Address, d.ipv4PrefixLength);
    if (d.ipv4Gateway[0])
        printf(" via %s", d.ipv4Gateway);
    if (d.ipv6Address[0])
        printf(", %s/%d", d.ipv6Address, d.ipv6PrefixLength);
    if (m[0] | m[1] | m[2] | m[3] | m[4] | m[5])
        printf(", MAC %02X-%02X-%02X-%02X-%02X-%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    if (d.mtu > 0)
        printf(", MTU %d", d.mtu);
    printf("\n");
}

int cmd_list(void)
{
    int32_t n = OndrixInit(), i;
    if (n < 0)
        return fail("OndrixInit");
    printf("%d adapter(s)\n", n);
    for (i = 0; i < n; ++i) {
        AdapterInfoRecord info;
        if (oxGetAdapterInfo(i, &info) != 0)
            return fail("oxGetAdapterInfo");
        printf("%2d  %s\n    %s\n", i, info.name,
               info.description[0] ? info.description : "(no description)");
        print_details(i);
    }
    OndrixTerminate();
    return 0;
}
