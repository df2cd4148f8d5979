// Windows: the system's adapter list (GetAdaptersAddresses), matched to a
// pcap adapter by the GUID in its name (\Device\NPF_{GUID} and "{GUID}").
// iphlpapi.dll is loaded at run time from the system folder only: a static
// import would be looked for beside ONDRIX.dll first, and would add to the
// DLLs ONDRIX.dll needs at load.
#include "frame/pcap_api.h" // winsock2.h first: iphlpapi.h needs its types

#include <iphlpapi.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "platform/adapter_details.h"
#include "platform/platform.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace ondrix::platform
{

struct SystemAdapters {
    IP_ADAPTER_ADDRESSES_LH *first;
};

namespace
{

using GetAdaptersAddressesFn = ULONG(WINAPI *)(ULONG, ULONG, PVOID, IP_ADAPTER_ADDRESSES_LH *, PULONG);

// The search flags exist where AddDllDirectory does (Windows 8, or 7 with its
// update); elsewhere the full path alone keeps the search out of other folders.
HMODULE loadIphlpapi()
{
    wchar_t path[MAX_PATH + 16];
    const UINT len = GetSystemDirectoryW(path, MAX_PATH);
    if (len == 0 || len >= MAX_PATH)
        return nullptr;
    std::wcscpy(path + len, L"\\iphlpapi.dll");
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const bool searchFlags = kernel && GetProcAddress(kernel, "AddDllDirectory");
    return LoadLibraryExW(path, nullptr, searchFlags ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0);
}

IP_ADAPTER_ADDRESSES_LH *queryAdapters(GetAdaptersAddressesFn query)
{
    const ULONG flags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                        GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 16 * 1024;
    // The list can grow between the sizing call and the next: a few tries.
    for (int attempt = 0; attempt < 4; ++attempt) {
        auto *buffer = static_cast<IP_ADAPTER_ADDRESSES_LH *>(std::malloc(size));
        if (!buffer)
            return nullptr;
        const ULONG r = query(AF_UNSPEC, flags, nullptr, buffer, &size);
        if (r == ERROR_SUCCESS)
            return buffer;
        std::free(buffer);
        if (r != ERROR_BUFFER_OVERFLOW)
            return nullptr;
    }
    return nullptr;
}

// "{...}" at the end of a pcap name, or null.
const char *guidOf(const char *pcapName)
{
    const char *open = pcapName ? std::strrchr(pcapName, '{') : nullptr;
    return open && std::strchr(open, '}') ? open : nullptr;
}

const IP_ADAPTER_ADDRESSES_LH *findByGuid(const SystemAdapters *list, const char *guid)
{
    for (const IP_ADAPTER_ADDRESSES_LH *a = list ? list->first : nullptr; a; a = a->Next)
        if (a->AdapterName && _stricmp(a->AdapterName, guid) == 0)
            return a;
    return nullptr;
}

// Older systems hand out shorter records: a field is read only when the
// record's own length covers it.
#define ONDRIX_HAS_FIELD(record, field)                                                                      \
    ((record)->Length >= offsetof(std::remove_pointer_t<decltype(record)>, field) + sizeof((record)->field))

void addUnicastAddresses(const IP_ADAPTER_ADDRESSES_LH *a, SystemFacts *facts)
{
    facts->addressesKnown = true;
    for (const IP_ADAPTER_UNICAST_ADDRESS_LH *u = a->FirstUnicastAddress;
         u && facts->addressCount < SystemFacts::kMaxAddresses; u = u->Next) {
        if (!u->Address.lpSockaddr)
            continue;
        facts->addresses[facts->addressCount] = u->Address.lpSockaddr;
        facts->prefixLengths[facts->addressCount++] =
            ONDRIX_HAS_FIELD(u, OnLinkPrefixLength) ? u->OnLinkPrefixLength : -1;
    }
}

void addGateway(const IP_ADAPTER_ADDRESSES_LH *a, SystemFacts *facts)
{
    if (!ONDRIX_HAS_FIELD(a, FirstGatewayAddress))
        return;
    for (const IP_ADAPTER_GATEWAY_ADDRESS_LH *g = a->FirstGatewayAddress; g; g = g->Next) {
        const sockaddr *s = g->Address.lpSockaddr;
        if (s && s->sa_family == AF_INET) {
            facts->hasGateway = true;
            std::memcpy(facts->gateway, &reinterpret_cast<const sockaddr_in *>(s)->sin_addr, 4);
            return;
        }
    }
}

void addKnownAdapter(const IP_ADAPTER_ADDRESSES_LH *a, const pcap_if_t *dev, SystemFacts *facts)
{
    facts->flagsKnown = true;
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK)
        facts->flags |= AdapterLoopback;
    if (a->IfType == IF_TYPE_IEEE80211)
        facts->flags |= AdapterWireless;
    // Either list saying the link is down is believed: Wine reports an
    // interface without carrier as up, while pcap sees it disconnected.
    if (a->OperStatus == IfOperStatusUp &&
        (dev->flags & PCAP_IF_CONNECTION_STATUS) != PCAP_IF_CONNECTION_STATUS_DISCONNECTED)
        facts->flags |= AdapterConnected;
    // Loopback reports an MTU of 0xFFFFFFFF: no real limit, so unknown.
    facts->mtu = a->Mtu <= 0x7FFFFFFF ? static_cast<int32_t>(a->Mtu) : -1;
    if (a->PhysicalAddressLength == 6) {
        facts->hasMac = true;
        std::memcpy(facts->mac, a->PhysicalAddress, 6);
    }
    // A name the ANSI code page can't hold in the field stays empty.
    if (!a->FriendlyName || !toAnsi(a->FriendlyName, facts->friendlyName, sizeof facts->friendlyName))
        std::memset(facts->friendlyName, 0, sizeof facts->friendlyName);
    addUnicastAddresses(a, facts);
    addGateway(a, facts);
}

} // namespace

SystemAdapters *openSystemAdapters()
{
    const HMODULE iphlpapi = loadIphlpapi();
    if (!iphlpapi)
        return nullptr;
    auto query = reinterpret_cast<GetAdaptersAddressesFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(iphlpapi, "GetAdaptersAddresses")));
    IP_ADAPTER_ADDRESSES_LH *first = query ? queryAdapters(query) : nullptr;
    FreeLibrary(iphlpapi);
    if (!first)
        return nullptr;
    auto *list = static_cast<SystemAdapters *>(std::malloc(sizeof(SystemAdapters)));
    if (list)
        list->first = first;
    else
        std::free(first);
    return list;
}

void closeSystemAdapters(SystemAdapters *list)
{
    if (!list)
        return;
    std::free(list->first);
    std::free(list);
}

void systemFacts(SystemAdapters *list, const pcap_if_t *dev, SystemFacts *facts)
{
    const char *guid = guidOf(dev->name);
    if (const IP_ADAPTER_ADDRESSES_LH *a = guid ? findByGuid(list, guid) : nullptr) {
        addKnownAdapter(a, dev, facts);
        return;
    }
    // Npcap's loopback adapter has no entry of its own; it always carries traffic.
    const char *name = dev->name ? dev->name : "";
    const size_t len = std::strlen(name);
    if (len >= 12 && _stricmp(name + len - 12, "NPF_Loopback") == 0)
        facts->flags |= AdapterLoopback | AdapterConnected;
}

} // namespace ondrix::platform
