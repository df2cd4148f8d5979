// A scriptable stand-in for the pcap library: the functions ONDRIX calls,
// driven by the fake_* controls. Every call is logged.
#define FAKE_PCAP_BUILD
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#endif
#include <pcap.h>

#include <chrono>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "fake_pcap.h"

using Clock = std::chrono::steady_clock;

struct pcap {
    bool offline = false;
    bool nonblocking = false;
    int timeoutMs = 0; // as the driver was given it
    std::string error;
    pcap_pkthdr header{};
    std::vector<u_char> data;
};

struct pcap_dumper {
    FILE *file = nullptr;
};

namespace
{

struct Address {
    int family;
    bool hasMask;
    unsigned char mask[4];
    bool isIp = false; // then the address and a full netmask of prefixLength bits
    unsigned char bytes[16] = {};
    int prefixLength = 0;
};

struct Adapter {
    std::string name;
    bool hasDescription;
    std::string description;
    std::vector<Address> addresses;
    uint32_t flags = 0;
};

struct Call {
    std::string fn;
    std::vector<int64_t> ints;
    std::string text;
    bool hasText = false;
};

struct Packet {
    int result; // 1 for a packet
    pcap_pkthdr header;
    std::vector<u_char> data;
    Clock::time_point arrival; // the clock's epoch: already there
};

struct Fake {
    std::vector<Adapter> adapters;
    std::map<std::string, std::set<int>> failures; // fn -> call numbers, 0 = all
    std::map<std::string, int> returns;
    std::string error = "fake pcap error";
    std::deque<Packet> packets;
    std::vector<Call> calls;
    std::map<std::string, int> counts;
    std::set<pcap_t *> handles;
    std::set<pcap_dumper_t *> dumpers;
    std::set<pcap_if_t *> lists;
    std::vector<pcap_if_t *> freedAdapters; // kept until reset, see pcap_freealldevs
    int programs = 0;
    std::vector<std::vector<u_char>> dumped, sent;
    int delayMs = 0;
    int wake[2] = {-1, -1}; // the pipe behind pcap_get_selectable_fd
    int readsHungUp = -1;   // reads since the pipe's write end was closed
    pcap_stat stats{};
    int linkType = 1; // Ethernet
};

Fake &fake()
{
    static Fake *f = new Fake; // never destroyed: handles may outlive static destructors
    return *f;
}

// Logs the call and tells whether it is scripted to fail.
bool record(const char *fn, std::vector<int64_t> ints = {}, const char *text = nullptr)
{
    Fake &f = fake();
    Call c{fn, std::move(ints), text ? text : "", text != nullptr};
    f.calls.push_back(std::move(c));
    int n = ++f.counts[fn];
    auto it = f.failures.find(fn);
    return it != f.failures.end() && (it->second.count(0) || it->second.count(n));
}

int scriptedReturn(const char *fn, int otherwise)
{
    auto it = fake().returns.find(fn);
    return it == fake().returns.end() ? otherwise : it->second;
}

void writeError(char *errbuf)
{
    if (errbuf)
        std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "%s", fake().error.c_str());
}

char *copyText(const std::string &s)
{
    char *p = new char[s.size() + 1];
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

pcap_t *newHandle(bool offline)
{
    pcap_t *p = new pcap;
    p->offline = offline;
    fake().handles.insert(p);
    return p;
}

int64_t ptr(const void *p) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(p)); }

bool arrived()
{
    const Fake &f = fake();
    return !f.packets.empty() && f.packets.front().arrival <= Clock::now();
}

// A blocking live read waits as Npcap's driver does: a few small packets
// never fill its buffer, so it hands over what has come only when the time-out
// it was given passes; for 0 that is never (6 s here, to keep tests bounded).
bool driverRead(const pcap_t *p)
{
    if (!p->nonblocking && p->timeoutMs >= 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(p->timeoutMs ? p->timeoutMs : 6000));
    return arrived();
}

void closeWake()
{
#ifndef _WIN32
    for (int &fd : fake().wake)
        if (fd >= 0)
            close(fd), fd = -1;
#endif
}

// What a freed adapter is called: an adapter opened by this name was reached
// through a list the library had already released.
const char kFreedAdapterName[] = "<adapter of a freed list>";

} // namespace

namespace
{

// The address and netmask fields of sockaddr_in or sockaddr_in6.
void ipFields(sockaddr *addr, sockaddr *mask, const Address &ad)
{
    const bool v4 = ad.family == AF_INET;
    const size_t at = v4 ? offsetof(sockaddr_in, sin_addr) : offsetof(sockaddr_in6, sin6_addr);
    const int len = v4 ? 4 : 16;
    std::memcpy(reinterpret_cast<char *>(addr) + at, ad.bytes, static_cast<size_t>(len));
    unsigned char *m = reinterpret_cast<unsigned char *>(mask) + at;
    for (int bit = 0; bit < ad.prefixLength && bit < len * 8; ++bit)
        m[bit / 8] = static_cast<unsigned char>(m[bit / 8] | (0x80 >> (bit % 8)));
}

} // namespace

extern "C" {

int pcap_findalldevs(pcap_if_t **list, char *errbuf)
{
    if (record("pcap_findalldevs")) {
        writeError(errbuf);
        return -1;
    }
    pcap_if_t *head = nullptr, **tail = &head;
    for (const Adapter &a : fake().adapters) {
        auto *dev = new pcap_if_t{};
        dev->name = copyText(a.name);
        dev->description = a.hasDescription ? copyText(a.description) : nullptr;
        dev->flags = a.flags;
        pcap_addr_t **at = &dev->addresses;
        for (const Address &ad : a.addresses) {
            auto *entry = new pcap_addr_t{};
            entry->addr = reinterpret_cast<sockaddr *>(new sockaddr_storage{});
            entry->addr->sa_family = static_cast<decltype(entry->addr->sa_family)>(ad.family);
            if (ad.isIp) {
                entry->netmask = reinterpret_cast<sockaddr *>(new sockaddr_storage{});
                entry->netmask->sa_family = entry->addr->sa_family;
                ipFields(entry->addr, entry->netmask, ad);
            } else if (ad.hasMask) {
                auto *mask = new sockaddr_storage{};
                mask->ss_family = static_cast<decltype(mask->ss_family)>(ad.family);
                std::memcpy(reinterpret_cast<char *>(mask) + 4, ad.mask, 4);
                entry->netmask = reinterpret_cast<sockaddr *>(mask);
            }
            *at = entry;
            at = &entry->next;
        }
        *tail = dev;
        tail = &dev->next;
    }
    *list = head;
    if (head)
        fake().lists.insert(head);
    return 0;
}

void pcap_freealldevs(pcap_if_t *list)
{
    record("pcap_freealldevs", {ptr(list)});
    fake().lists.erase(list);
    while (list) {
        pcap_if_t *next = list->next;
        delete[] list->name;
        delete[] list->description;
        for (pcap_addr_t *a = list->addresses; a;) {
            pcap_addr_t *n = a->next;
            delete reinterpret_cast<sockaddr_storage *>(a->addr);
            delete reinterpret_cast<sockaddr_storage *>(a->netmask);
            delete a;
            a = n;
        }
        // The element itself is kept, poisoned, until reset: a stale pointer
        // into the list then opens an adapter tests can recognise, where
        // freed memory would give whatever happens to be there.
        list->name = const_cast<char *>(kFreedAdapterName);
        list->description = nullptr;
        list->addresses = nullptr;
        fake().freedAdapters.push_back(list);
        list = next;
    }
}

pcap_t *pcap_open_live(const char *name, int snaplen, int promisc, int timeout, char *errbuf)
{
    if (record("pcap_open_live", {snaplen, promisc, timeout}, name)) {
        writeError(errbuf);
        return nullptr;
    }
    pcap_t *p = newHandle(false);
    p->timeoutMs = timeout;
    return p;
}

pcap_t *pcap_create(const char *name, char *errbuf)
{
    if (record("pcap_create", {}, name)) {
        writeError(errbuf);
        return nullptr;
    }
    return newHandle(false);
}

int pcap_set_snaplen(pcap_t *, int v) { return record("pcap_set_snaplen", {v}) ? -1 : 0; }
int pcap_set_promisc(pcap_t *, int v) { return record("pcap_set_promisc", {v}) ? -1 : 0; }
int pcap_set_timeout(pcap_t *p, int v)
{
    p->timeoutMs = v;
    return record("pcap_set_timeout", {v}) ? -1 : 0;
}

int pcap_set_buffer_size(pcap_t *, int v)
{
    return record("pcap_set_buffer_size", {v}) ? -1 : scriptedReturn("pcap_set_buffer_size", 0);
}

int pcap_activate(pcap_t *p)
{
    if (record("pcap_activate")) {
        p->error = fake().error;
        return PCAP_ERROR;
    }
    return 0;
}

int pcap_setnonblock(pcap_t *p, int v, char *errbuf)
{
    if (record("pcap_setnonblock", {v})) {
        writeError(errbuf);
        return -1;
    }
    p->nonblocking = v != 0;
    return 0;
}

int pcap_get_selectable_fd(pcap_t *)
{
    record("pcap_get_selectable_fd");
    return fake().wake[0]; // -1 unless fake_selectable: then nothing wakes a poll
}

pcap_t *pcap_open_offline(const char *name, char *errbuf)
{
    if (record("pcap_open_offline", {}, name)) {
        writeError(errbuf);
        return nullptr;
    }
    return newHandle(true);
}

int pcap_setbuff(pcap_t *, int dim)
{
    return record("pcap_setbuff", {dim}) ? -1 : scriptedReturn("pcap_setbuff", 0);
}

int pcap_compile(pcap_t *p, bpf_program *program, const char *text, int optimize, bpf_u_int32 netmask)
{
    if (record("pcap_compile", {optimize, static_cast<int64_t>(netmask)}, text)) {
        p->error = fake().error;
        return -1;
    }
    program->bf_len = 1;
    program->bf_insns = new bpf_insn[1]{};
    ++fake().programs;
    return 0;
}

int pcap_setfilter(pcap_t *p, bpf_program *)
{
    if (record("pcap_setfilter")) {
        p->error = fake().error;
        return -1;
    }
    return 0;
}

void pcap_freecode(bpf_program *program)
{
    record("pcap_freecode");
    if (program->bf_insns) {
        delete[] program->bf_insns;
        --fake().programs;
    }
    program->bf_insns = nullptr;
    program->bf_len = 0;
}

char *pcap_geterr(pcap_t *p)
{
    record("pcap_geterr");
    return const_cast<char *>(p->error.c_str());
}

int pcap_next_ex(pcap_t *p, pcap_pkthdr **header, const u_char **data)
{
    Fake &f = fake();
    if (record("pcap_next_ex")) {
        p->error = f.error;
        return -1;
    }
#ifndef _WIN32
    char woken;
    if (f.wake[0] >= 0)
        (void)!read(f.wake[0], &woken, 1);
#endif
    // A reader that spins on a hung-up descriptor is stopped, with a failure.
    if (f.readsHungUp >= 0 && ++f.readsHungUp > 100)
        return -1;
    if (!p->offline && !arrived() && !driverRead(p))
        return 0;
    if (f.packets.empty())
        return p->offline ? -2 : 0;
    Packet pk = std::move(f.packets.front());
    f.packets.pop_front();
    if (pk.result == -1)
        p->error = f.error;
    if (pk.result != 1)
        return pk.result;
    p->header = pk.header;
    p->data = std::move(pk.data);
    *header = &p->header;
    *data = p->data.data();
    return 1;
}

pcap_dumper_t *pcap_dump_open(pcap_t *p, const char *name)
{
    if (record("pcap_dump_open", {}, name)) {
        p->error = fake().error;
        return nullptr;
    }
    auto *d = new pcap_dumper;
#ifndef _WIN32
    d->file = std::fopen("/dev/null", "wb");
#endif
    fake().dumpers.insert(d);
    return d;
}

FILE *pcap_dump_file(pcap_dumper_t *d)
{
    record("pcap_dump_file");
    return d->file;
}

void pcap_dump(u_char *user, const pcap_pkthdr *h, const u_char *data)
{
    record("pcap_dump", {ptr(user), h->caplen});
    fake().dumped.emplace_back(data, data + h->caplen);
}

int pcap_dump_flush(pcap_dumper_t *)
{
    return record("pcap_dump_flush") ? -1 : scriptedReturn("pcap_dump_flush", 0);
}

void pcap_dump_close(pcap_dumper_t *d)
{
    record("pcap_dump_close", {ptr(d)});
    if (fake().dumpers.erase(d)) {
        if (d->file)
            std::fclose(d->file);
        delete d;
    }
}

int pcap_sendpacket(pcap_t *, const u_char *data, int size)
{
    if (record("pcap_sendpacket", {size}))
        return -1;
    fake().sent.emplace_back(data, data + (size > 0 ? size : 0));
    return scriptedReturn("pcap_sendpacket", 0);
}

int pcap_datalink(pcap_t *)
{
    record("pcap_datalink");
    return fake().linkType;
}

int pcap_stats(pcap_t *p, pcap_stat *ps)
{
    if (record("pcap_stats") || p->offline) {
        p->error = p->offline ? "Statistics aren't available from savefiles" : fake().error;
        return -1;
    }
    *ps = fake().stats;
    return 0;
}

void pcap_close(pcap_t *p)
{
    record("pcap_close", {ptr(p)});
    if (fake().handles.erase(p))
        delete p;
}

// ---- controls ----

void fake_reset(void)
{
    Fake &f = fake();
    f.adapters.clear();
    f.failures.clear();
    f.returns.clear();
    f.error = "fake pcap error";
    f.packets.clear();
    f.calls.clear();
    f.counts.clear();
    f.dumped.clear();
    f.sent.clear();
    for (pcap_if_t *dev : f.freedAdapters)
        delete dev;
    f.freedAdapters.clear();
    f.delayMs = 0;
    closeWake();
    f.readsHungUp = -1;
    f.stats = pcap_stat{};
    f.linkType = 1;
}

int fake_add_adapter(const char *name, const char *description)
{
    Fake &f = fake();
    f.adapters.push_back({name, description != nullptr, description ? description : "", {}});
    return static_cast<int>(f.adapters.size()) - 1;
}

void fake_add_address(int adapter, int family, const unsigned char *mask4to7)
{
    Address a{family, mask4to7 != nullptr, {}};
    if (mask4to7)
        std::memcpy(a.mask, mask4to7, 4);
    fake().adapters.at(static_cast<size_t>(adapter)).addresses.push_back(a);
}

void fake_add_ip(int adapter, int version, const unsigned char *bytes, int prefixLength)
{
    Address a{version == 4 ? AF_INET : AF_INET6, false, {}};
    a.isIp = true;
    std::memcpy(a.bytes, bytes, version == 4 ? 4 : 16);
    a.prefixLength = prefixLength;
    fake().adapters.at(static_cast<size_t>(adapter)).addresses.push_back(a);
}

void fake_set_flags(int adapter, uint32_t flags)
{
    fake().adapters.at(static_cast<size_t>(adapter)).flags = flags;
}

void fake_fail(const char *fn, int nth) { fake().failures[fn].insert(nth); }

void fake_set_return(const char *fn, int value) { fake().returns[fn] = value; }

void fake_set_error(const char *text) { fake().error = text; }
void fake_set_linktype(int linkType) { fake().linkType = linkType; }

void fake_push_packet(const unsigned char *data, uint32_t caplen, uint32_t len, uint32_t sec, uint32_t usec)
{
    Packet p{1, {}, std::vector<u_char>(data, data + caplen)};
    p.header.caplen = caplen;
    p.header.len = len;
    p.header.ts.tv_sec = static_cast<decltype(p.header.ts.tv_sec)>(sec);
    p.header.ts.tv_usec = static_cast<decltype(p.header.ts.tv_usec)>(usec);
    p.arrival =
        fake().delayMs ? Clock::now() + std::chrono::milliseconds(fake().delayMs) : Clock::time_point{};
    fake().delayMs = 0;
    fake().packets.push_back(std::move(p));
}

void fake_push_result(int result) { fake().packets.push_back(Packet{result, {}, {}, {}}); }

void fake_delay_next(int ms) { fake().delayMs = ms; }

void fake_selectable(void)
{
#ifndef _WIN32
    closeWake();
    if (pipe(fake().wake) == 0)
        fcntl(fake().wake[0], F_SETFL, O_NONBLOCK);
#endif
}

void fake_wake(void)
{
#ifndef _WIN32
    if (fake().wake[1] >= 0)
        (void)!write(fake().wake[1], "", 1);
#endif
}

void fake_hang_up(void)
{
#ifndef _WIN32
    close(fake().wake[1]);
    fake().wake[1] = -1;
    fake().readsHungUp = 0;
#endif
}

void fake_set_stats(uint32_t received, uint32_t dropped, uint32_t interfaceDropped)
{
    fake().stats = pcap_stat{received, dropped, interfaceDropped};
}

int fake_calls(const char *fn)
{
    auto it = fake().counts.find(fn);
    return it == fake().counts.end() ? 0 : it->second;
}

static const Call *lastCall(const char *fn)
{
    const auto &calls = fake().calls;
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->fn == fn)
            return &*it;
    return nullptr;
}

int64_t fake_arg(const char *fn, int k)
{
    const Call *c = lastCall(fn);
    if (!c || k < 0 || static_cast<size_t>(k) >= c->ints.size())
        return 0;
    return c->ints[static_cast<size_t>(k)];
}

int fake_str_arg(const char *fn, char *buf, int size)
{
    const Call *c = lastCall(fn);
    if (!c || !c->hasText)
        return -1;
    if (size > 0)
        std::snprintf(buf, static_cast<size_t>(size), "%s", c->text.c_str());
    return static_cast<int>(c->text.size());
}

int fake_call_log(char *buf, int size)
{
    std::string log;
    for (const Call &c : fake().calls) {
        if (!log.empty())
            log += ',';
        log += c.fn;
    }
    if (size > 0)
        std::snprintf(buf, static_cast<size_t>(size), "%s", log.c_str());
    return static_cast<int>(log.size());
}

int fake_open_handles(void) { return static_cast<int>(fake().handles.size()); }
int fake_open_dumpers(void) { return static_cast<int>(fake().dumpers.size()); }
int fake_open_lists(void) { return static_cast<int>(fake().lists.size()); }
int fake_open_programs(void) { return fake().programs; }

static int copyOut(const std::vector<std::vector<u_char>> &v, int i, unsigned char *buf, int size)
{
    if (i < 0 || static_cast<size_t>(i) >= v.size())
        return -1;
    const auto &p = v[static_cast<size_t>(i)];
    if (buf && size > 0)
        std::memcpy(buf, p.data(),
                    p.size() < static_cast<size_t>(size) ? p.size() : static_cast<size_t>(size));
    return static_cast<int>(p.size());
}

int fake_dumped(int i, unsigned char *buf, int size) { return copyOut(fake().dumped, i, buf, size); }
int fake_sent(int i, unsigned char *buf, int size) { return copyOut(fake().sent, i, buf, size); }

} // extern "C"
