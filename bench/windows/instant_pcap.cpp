// An instant pcap library for the Windows benchmark, built as wpcap.dll: every
// read hands back at once the same 60-byte frame and header, so that what a
// loop costs is the loop and what it calls, not the capture. It exports every
// call ONDRIX.dll imports. Opening, filters, the driver buffer and sending
// succeed and do nothing. The dump writer does what a buffered writer does
// per packet, minus the file: it copies the 16-byte record header and the
// bytes into a 1 MiB buffer and starts over at its beginning when the buffer
// is full, where a file writer would hand it to the system.
#include <winsock2.h>

#include <pcap.h>

#include <cstring>

#include "instant_pcap.h"

// The handle types are opaque to callers; here they are one static object each.
struct pcap {
    char errbuf[PCAP_ERRBUF_SIZE];
};
struct pcap_dumper {
    uint64_t records;
    uint64_t bytes;
    size_t used;
};

namespace
{

pcap g_handle = {""};
pcap_dumper g_dumper = {0, 0, 0};
unsigned char g_dumpBuffer[1 << 20];

// A UDP datagram in IPv4 in Ethernet, 60 bytes (the shortest frame).
const unsigned char g_frame[60] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01,
                                   0x08, 0x00, 0x45, 0x00, 0x00, 0x2e, 0x00, 0x01, 0x40, 0x00, 0x40, 0x11,
                                   0x00, 0x00, 10,   99,   0,    1,    10,   99,   0,    2,    0x30, 0x39,
                                   0x30, 0x39, 0x00, 0x1a, 0x00, 0x00, 'i',  'n',  's',  't',  'a',  'n',
                                   't',  ' ',  'p',  'a',  'c',  'k',  'e',  't',  '.',  '.',  '.',  0x7e};

pcap_pkthdr g_header = {{1700000000, 250000}, 60, 60}; // 2023-11-14 22:13:20.25 UTC
int32_t g_clockStep = 0;
uint64_t g_reads = 0;

pcap_if_t g_adapter = {nullptr, const_cast<char *>("\\Device\\NPF_{00000000-0000-0000-0000-000000000001}"),
                       const_cast<char *>("instant pcap stand-in"), nullptr, 0};

// The record a dump file holds before each packet: 32-bit seconds and microseconds.
struct FileRecordHeader {
    uint32_t seconds, microseconds, caplen, len;
};

void append(pcap_dumper *d, const void *bytes, size_t n)
{
    std::memcpy(g_dumpBuffer + d->used, bytes, n);
    d->used += n;
}

} // namespace

extern "C" {

int pcap_findalldevs(pcap_if_t **list, char *)
{
    *list = &g_adapter;
    return 0;
}

void pcap_freealldevs(pcap_if_t *) {}

pcap_t *pcap_open_live(const char *, int, int, int, char *) { return &g_handle; }

pcap_t *pcap_open_offline(const char *, char *) { return &g_handle; }

int pcap_setbuff(pcap_t *, int) { return 0; }

int pcap_compile(pcap_t *, bpf_program *program, const char *, int, bpf_u_int32)
{
    program->bf_len = 0;
    program->bf_insns = nullptr;
    return 0;
}

int pcap_setfilter(pcap_t *, bpf_program *) { return 0; }

void pcap_freecode(bpf_program *) {}

char *pcap_geterr(pcap_t *p) { return p->errbuf; }

int pcap_next_ex(pcap_t *, pcap_pkthdr **header, const u_char **data)
{
    g_header.ts.tv_sec += g_clockStep;
    ++g_reads;
    *header = &g_header;
    *data = g_frame;
    return 1;
}

pcap_dumper_t *pcap_dump_open(pcap_t *, const char *)
{
    // The file header a dump file begins with: magic, version 2.4, zone,
    // accuracy, snap length, Ethernet.
    const uint32_t fileHeader[6] = {0xa1b2c3d4u, 0x00040002u, 0, 0, 65535, 1};
    g_dumper = {0, 0, 0};
    append(&g_dumper, fileHeader, sizeof fileHeader);
    return &g_dumper;
}

void pcap_dump(u_char *user, const pcap_pkthdr *h, const u_char *bytes)
{
    auto *d = reinterpret_cast<pcap_dumper *>(user);
    FileRecordHeader r = {static_cast<uint32_t>(h->ts.tv_sec), static_cast<uint32_t>(h->ts.tv_usec),
                          h->caplen, h->len};
    if (d->used + sizeof r + h->caplen > sizeof g_dumpBuffer)
        d->used = 0; // a file writer would write the full buffer out here
    append(d, &r, sizeof r);
    append(d, bytes, h->caplen);
    ++d->records;
    d->bytes += sizeof r + h->caplen;
}

int pcap_dump_flush(pcap_dumper_t *) { return 0; }

void pcap_dump_close(pcap_dumper_t *) {}

int pcap_sendpacket(pcap_t *, const u_char *, int) { return 0; }

void pcap_close(pcap_t *) {}

void instant_pcap_clock_step(int32_t seconds) { g_clockStep = seconds; }

uint64_t instant_pcap_dumped_records(void) { return g_dumper.records; }

uint64_t instant_pcap_dumped_bytes(void) { return g_dumper.bytes; }

uint64_t instant_pcap_reads(void) { return g_reads; }

} // extern "C"
