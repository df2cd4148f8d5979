// Linux: the interface's MTU and hardware address from the kernel, and its
// IPv4 default route from the kernel's routing table. The friendly name is
// the interface name.
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/adapter_details.h"

namespace ondrix::platform
{

namespace
{

void addInterfaceFacts(const char *name, SystemFacts *facts)
{
    if (std::strlen(name) >= IFNAMSIZ)
        return;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFMTU, &ifr) == 0)
        facts->mtu = ifr.ifr_mtu;
    // Only an Ethernet-style address fits the field; loopback's is all zero.
    if (ioctl(fd, SIOCGIFHWADDR, &ifr) == 0 && ifr.ifr_hwaddr.sa_family == ARPHRD_ETHER) {
        facts->hasMac = true;
        std::memcpy(facts->mac, ifr.ifr_hwaddr.sa_data, 6);
    }
    close(fd);
}

// /proc/net/route: "Iface Destination Gateway Flags ..." with the addresses
// as the hex of their 32-bit value in memory order.
void addDefaultGateway(const char *name, SystemFacts *facts)
{
    FILE *routes = std::fopen("/proc/net/route", "re");
    if (!routes)
        return;
    char line[256];
    while (std::fgets(line, sizeof line, routes)) {
        char iface[IFNAMSIZ + 1];
        unsigned destination, gateway, flags, mask;
        if (std::sscanf(line, "%16s %x %x %x %*d %*d %*d %x", iface, &destination, &gateway, &flags, &mask) !=
            5)
            continue;
        const unsigned kUpGateway = 0x3; // RTF_UP | RTF_GATEWAY
        if (std::strcmp(iface, name) == 0 && destination == 0 && mask == 0 &&
            (flags & kUpGateway) == kUpGateway) {
            facts->hasGateway = true;
            std::memcpy(facts->gateway, &gateway, 4);
            break;
        }
    }
    std::fclose(routes);
}

} // namespace

SystemAdapters *openSystemAdapters() { return nullptr; }

void closeSystemAdapters(SystemAdapters *) {}

void systemFacts(SystemAdapters *, const pcap_if_t *dev, SystemFacts *facts)
{
    if (!dev->name)
        return;
    std::strncpy(facts->friendlyName, dev->name, sizeof facts->friendlyName - 1);
    addInterfaceFacts(dev->name, facts);
    addDefaultGateway(dev->name, facts);
}

} // namespace ondrix::platform
