// An instant pcap library for the Windows benchmark, built as wpcap.dll: every
// read hands back at once the same 60-byte frame and header (as many as the
// benchmark asks for, then the end of a file), so that what a loop costs is
// the loop and what it calls, not the capture. Its C functions are its
// exports (with no list given, the linker exports them all): every call
// ONDRIX.dll imports, and the controls. Opening, filters, the driver buffer
// and sending succeed and do nothing. The dump writer does what a buffered writer does per
// packet, minus the file: it copies the 16-byte record header and the bytes
// into a 1 MiB buffer and starts over when the buffer is full, where a file
// writer would hand it to the system.
#include <winsock2.h>

#include <pcap.h>

#include <cstring>

#include "instant_pcap.h"

// The handle types are opaque to callers; here they are one static object each.
struct pcap {
    char errbuf[PCAP_ERRBUF_SIZE];
};
struct pcap_dumper {
    uint64_t records, bytes;
    size_t used;
};

namespace
{
pcap g_handle = {""};
pcap_dumper g_dumper = {0, 0, 0};
unsigned char g_dumpBuffer[1 << 20];

// A UDP datagram in IPv4 in Ethernet, 60 bytes (the shortest frame).
const unsigned char g_frame[] =
    "\x02\0\0\0\0\x02\x02\0\0\0\0\x01\x08\0\x45\0\0\x2e\0\x01\x40\0\x40\x11\0\0\x0a\x63\0\x01"
    "\x0a\x63\0\x02\x30\x39\x30\x39\0\x1a\0\0instant packet...\x7e";

pcap_pkthdr g_header = {{1700000000, 250000}, 60, 60}; // 2023-11-14 22:13:20.25 UTC
int32_t g_clockStep = 0;
uint64_t g_left = UINT64_MAX; // reads before the end

pcap_if_t g_adapter = {nullptr, const_cast<char *>("\\Device\\NPF_{00000000-0000-0000-0000-000000000001}"),
                       const_cast<char *>("instant pcap stand-in"), nullptr, 0};

void append(pcap_dumper *d, const void *bytes, size_t n)
{
    std::memcpy(g_dumpBuffer + d->used, bytes, n);
    d->used += n;
}

} // namespace

extern "C" {

int pcap_findalldevs(pcap_if_t **list, char *) { return *list = &g_adapter, 0; }
void pcap_freealldevs(pcap_if_t *) {}
pcap_t *pcap_open_live(const char *, int, int, int, char *) { return &g_handle; }
pcap_t *pcap_open_offline(const char *, char *) { return &g_handle; }
int pcap_setbuff(pcap_t *, int) { return 0; }
int pcap_compile(pcap_t *, bpf_program *program, const char *, int, bpf_u_int32)
{
    return *program = {0, nullptr}, 0;
}
int pcap_setfilter(pcap_t *, bpf_program *) { return 0; }
void pcap_freecode(bpf_program *) {}
char *pcap_geterr(pcap_t *p) { return p->errbuf; }
int pcap_sendpacket(pcap_t *, const u_char *, int) { return 0; }
void pcap_close(pcap_t *) {}
int pcap_stats(pcap_t *, pcap_stat *ps) { return *ps = pcap_stat{}, 0; }
int pcap_datalink(pcap_t *) { return DLT_EN10MB; }

int pcap_next_ex(pcap_t *, pcap_pkthdr **header, const u_char **data)
{
    if (g_left == 0)
        return PCAP_ERROR_BREAK; // what a saved file's end returns
    --g_left;
    g_header.ts.tv_sec += g_clockStep;
    *header = &g_header;
    *data = g_frame;
    return 1;
}

pcap_dumper_t *pcap_dump_open(pcap_t *, const char *)
{
    // A dump file's header: magic, version 2.4, zone, accuracy, snap length, Ethernet.
    const uint32_t fileHeader[6] = {0xa1b2c3d4u, 0x00040002u, 0, 0, 65535, 1};
    g_dumper = {0, 0, 0};
    append(&g_dumper, fileHeader, sizeof fileHeader);
    return &g_dumper;
}

void pcap_dump(u_char *user, const pcap_pkthdr *h, const u_char *bytes)
{
    auto *d = reinterpret_cast<pcap_dumper *>(user);
    // The record header: 32-bit seconds and microseconds, then the lengths.
    const uint32_t record[4] = {uint32_t(h->ts.tv_sec), uint32_t(h->ts.tv_usec), h->caplen, h->len};
    if (d->used + sizeof record + h->caplen > sizeof g_dumpBuffer)
        d->used = 0; // a file writer would write the full buffer out here
    append(d, record, sizeof record);
    append(d, bytes, h->caplen);
    ++d->records;
    d->bytes += sizeof record + h->caplen;
}

int pcap_dump_flush(pcap_dumper_t *) { return 0; }
void pcap_dump_close(pcap_dumper_t *) {}

void instant_pcap_clock_step(int32_t seconds) { g_clockStep = seconds; }
void instant_pcap_packets(uint64_t n) { g_left = n; }
uint64_t instant_pcap_dumped_records(void) { return g_dumper.records; }
uint64_t instant_pcap_dumped_bytes(void) { return g_dumper.bytes; }

} // extern "C"
