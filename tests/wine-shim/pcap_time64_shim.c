/*
 * Preload library for 32-bit Wine processes. It mends Wine, not ONDRIX.
 *
 * Debian's i386 Wine 8.0 builds its unix-side wpcap with a 64-bit time_t,
 * while the i386 libpcap it calls uses a 32-bit one. The two disagree on the
 * layout of struct pcap_pkthdr, so packet headers come back corrupted and
 * dumped records are written wrong. This library stands between them and
 * translates the header for pcap_next_ex and pcap_dump.
 *
 * Build: gcc -m32 -shared -fPIC -o libpcap_time64_shim.so pcap_time64_shim.c -ldl
 * Use:   LD_PRELOAD=/path/libpcap_time64_shim.so wine program.exe
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

typedef unsigned char u_char;
typedef struct pcap pcap_t;

struct hdr32 { /* what i386 libpcap uses */
    int32_t tv_sec, tv_usec;
    uint32_t caplen, len;
};

struct hdr64 { /* what Wine's unix side expects */
    int64_t tv_sec, tv_usec;
    uint32_t caplen, len;
};

static void *libpcap(void)
{
    static void *handle;
    if (!handle)
        handle = dlopen("libpcap.so.0.8", RTLD_NOW | RTLD_LOCAL);
    return handle;
}

static void *real(const char *name)
{
    void *h = libpcap();
    return h ? dlsym(h, name) : NULL;
}

int pcap_next_ex(pcap_t *p, struct hdr64 **header, const u_char **data)
{
    /* One header per process is enough: ONDRIX reads one capture at a time
       and a header is only valid until the next read anyway. */
    static struct hdr64 wide;
    static int (*next)(pcap_t *, struct hdr32 **, const u_char **);
    struct hdr32 *narrow = NULL;
    int r;
    if (!next && !(next = (int (*)(pcap_t *, struct hdr32 **, const u_char **))real("pcap_next_ex")))
        return -1;
    r = next(p, &narrow, data);
    if (r == 1 && narrow) {
        wide.tv_sec = (uint32_t)narrow->tv_sec;
        wide.tv_usec = narrow->tv_usec;
        wide.caplen = narrow->caplen;
        wide.len = narrow->len;
        *header = &wide;
    }
    return r;
}

void pcap_dump(u_char *user, const struct hdr64 *header, const u_char *data)
{
    static void (*dump)(u_char *, const struct hdr32 *, const u_char *);
    struct hdr32 narrow;
    if (!dump && !(dump = (void (*)(u_char *, const struct hdr32 *, const u_char *))real("pcap_dump")))
        return;
    narrow.tv_sec = (int32_t)header->tv_sec;
    narrow.tv_usec = (int32_t)header->tv_usec;
    narrow.caplen = header->caplen;
    narrow.len = header->len;
    dump(user, &narrow, data);
}
