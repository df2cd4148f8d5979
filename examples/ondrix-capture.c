/*
 * ondrix-capture: a small capture host built on the ONDRIX exports only,
 * driving them the way a VB program does (variants, byte-array variables,
 * header records, ANSI error strings).
 *
 *   ondrix-capture list
 *   ondrix-capture capture (-i INDEX | --adapter TEXT | -r FILE) [-f FILTER] [-c COUNT]
 *                  [-t MS] [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe] [-w OUT] [-s SNAPLEN] [-P]
 *                  [--rotate-size BYTES] [--rotate-seconds S] [--files N]
 *   ondrix-capture send (-i INDEX | --adapter TEXT) [-n TIMES] HEXFRAME
 *
 * --adapter takes what the user knows of an adapter: the name the system
 * shows ("Ethernet", "Wi-Fi"), its description or pcap name, an IP address
 * or the MAC address.
 *
 * On Windows the exports are delay-loaded (mingw: an import library made with
 * dlltool -y; MSVC: /DELAYLOAD:ONDRIX.dll and delayimp.lib). The program then
 * starts without ONDRIX.dll or the pcap library, and OndrixLoad finds both,
 * Npcap in its own folder too, before the first call, or says what is missing.
 * The delay-load helper then takes the module OndrixLoad loaded.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ondrix.h"
#ifdef _WIN32
#include <delayimp.h>
#endif

/* ---- host values, as a VB program would have them ---- */

static BSTR make_bstr(const char *text)
{
#ifdef _WIN32
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
    BSTR s = SysAllocStringLen(NULL, (UINT)(n > 0 ? n - 1 : 0));
    if (s && n > 0)
        MultiByteToWideChar(CP_ACP, 0, text, -1, s, n);
    return s;
#else
    size_t n = strlen(text), i;
    OLECHAR *wide = (OLECHAR *)malloc((n + 1) * sizeof(OLECHAR));
    BSTR s;
    if (!wide)
        return NULL;
    for (i = 0; i < n; ++i)
        wide[i] = (unsigned char)text[i];
    s = SysAllocStringLen(wide, (uint32_t)n);
    free(wide);
    return s;
#endif
}

static SAFEARRAY *make_array(uint32_t count)
{
#ifdef _WIN32
    return SafeArrayCreateVector(VT_UI1, 0, count);
#else
    SAFEARRAY *sa = (SAFEARRAY *)calloc(1, sizeof(SAFEARRAY));
    if (!sa)
        return NULL;
    sa->cDims = 1;
    sa->cbElements = 1;
    sa->pvData = calloc(count ? count : 1, 1);
    sa->rgsabound[0].cElements = count;
    return sa;
#endif
}

/* Gives the array its own memory back before freeing it: after an aliasing
   delivery it points into the capture library's buffer. */
static void free_array(SAFEARRAY *sa, void *own, uint32_t count)
{
    if (!sa)
        return;
    sa->pvData = own;
    sa->rgsabound[0].cElements = count;
#ifdef _WIN32
    SafeArrayDestroy(sa);
#else
    free(sa->pvData);
    free(sa);
#endif
}

static int fail(const char *what)
{
    BSTR e = oxGetErrorDescription();
    fprintf(stderr, "%s failed: %.*s\n", what, e ? (int)SysStringByteLen(e) : 0, e ? (const char *)e : "");
    SysFreeString(e);
    return 1;
}

static int set_int(int32_t code, int32_t value)
{
    VARIANT v;
    memset(&v, 0, sizeof v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return oxSetParam(code, &v);
}

static int set_text(int32_t code, const char *text)
{
    VARIANT v;
    int r;
    memset(&v, 0, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = make_bstr(text);
    r = oxSetParam(code, &v);
    SysFreeString(V_BSTR(&v));
    return r;
}

/* ---- the one-line summary, from oxDecodePacket's record ---- */

static void print_endpoint(const PacketSummaryRecord *r, const char *address, int32_t port)
{
    if (port < 0)
        printf("%s", address);
    else
        printf(r->ipVersion == 6 ? "[%s]:%d" : "%s:%d", address, (int)port);
}

static void print_summary(const PacketSummaryRecord *r)
{
    static const char *const flags[] = {"FIN", "SYN", "RST", "PSH", "ACK", "URG", "ECE", "CWR"};
    int i;
    if (r->ipVersion == 0) {
        if (r->etherType >= 0)
            printf(" ethertype 0x%04x", (unsigned)r->etherType);
        else
            printf(" link type %d", (int)r->linkType);
        return;
    }
    printf(" IPv%d ", (int)r->ipVersion);
    print_endpoint(r, r->sourceAddress, r->sourcePort);
    printf(" > ");
    print_endpoint(r, r->destinationAddress, r->destinationPort);
    if (r->protocol == 6 || r->protocol == 17)
        printf(" %s", r->protocol == 6 ? "TCP" : "UDP");
    else if (r->protocol == 1 || r->protocol == 58)
        printf(" %s type %d code %d", r->protocol == 1 ? "ICMP" : "ICMPv6", (int)r->icmpType,
               (int)r->icmpCode);
    else
        printf(" proto %d", (int)r->protocol);
    for (i = 0; i < 8 && r->tcpFlags > 0; ++i)
        if (r->tcpFlags & (1 << i))
            printf(" %s", flags[i]);
}

/* ---- commands ---- */

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

static int cmd_list(void)
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

struct options {
    int index;
    const char *adapter, *file, *filter, *out, *mode;
    long count, max_timeouts, times;
    int32_t timeout, snaplen;
    int32_t rotate_size, rotate_seconds, files; /* disk mode: OUT_00001.ext, ... */
    int no_promisc;
    const char *hex;
};

static int usage(void)
{
    fprintf(stderr,
            "usage: ondrix-capture list\n"
            "       ondrix-capture capture (-i INDEX | --adapter TEXT | -r FILE) [-f FILTER]\n"
            "                      [-c COUNT] [-t MS] [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe]\n"
            "                      [-w OUT] [-s SNAPLEN] [-P] [--rotate-size BYTES]\n"
            "                      [--rotate-seconds S] [--files N]\n"
            "       ondrix-capture send (-i INDEX | --adapter TEXT) [-n TIMES] HEXFRAME\n"
            "--adapter TEXT: the adapter's name (\"Ethernet\"), description, pcap name,\n"
            "                IP address or MAC address\n");
    return 2;
}

/* By index, or by what oxFindAdapter takes when text is given. */
static int select_adapter(int index, const char *text)
{
    int32_t n = OndrixInit();
    if (n < 0)
        return fail("OndrixInit");
    if (text && (index = oxFindAdapter(text)) < 0)
        return fail("oxFindAdapter");
    if (oxSetCurrentAdapter(index) != 0)
        return fail("oxSetCurrentAdapter");
    return 0;
}

/* Which export a capture calls: oxCapture in the chosen mode, or one of the
   two that ignore it. */
enum reader { READ_CAPTURE, READ_MEM, READ_MEMSAFE };

/* -m NAME into a delivery mode and the export that reads; 0 when unknown. */
static int parse_mode(const char *name, int *mode, enum reader *reader)
{
    *mode = ModeCopy;
    *reader = READ_CAPTURE;
    if (strcmp(name, "alias") == 0)
        *mode = ModeAlias;
    else if (strcmp(name, "disk") == 0)
        *mode = ModeDisk;
    else if (strcmp(name, "mem") == 0)
        *reader = READ_MEM;
    else if (strcmp(name, "memsafe") == 0)
        *reader = READ_MEMSAFE;
    else if (strcmp(name, "copy") != 0)
        return 0;
    return 1;
}

/* The source, adapter and settings of a capture; 0, or the exit status. */
static int apply_settings(const struct options *o, int mode)
{
    if (o->file) {
        set_int(ParamCaptureSource, SourceFile);
        set_text(ParamDumpFileName, o->file);
    } else {
        set_int(ParamCaptureSource, SourceLive);
        if (select_adapter(o->index, o->adapter))
            return 1;
        if (o->out)
            set_text(ParamDumpFileName, o->out);
    }
    set_int(ParamCaptureMode, mode);
    if (o->snaplen && set_int(ParamSnapLength, o->snaplen) != 0) {
        fprintf(stderr, "snap length must be 1 to 65536\n");
        return 2;
    }
    if (o->no_promisc)
        set_int(ParamPromiscuous, 0);
    /* 0 turns rotation off; the three are always set, so none is left from before. */
    if (set_int(ParamDumpFileSize, o->rotate_size) != 0 ||
        set_int(ParamDumpFileSeconds, o->rotate_seconds) != 0 || set_int(ParamDumpFileCount, o->files) != 0) {
        fprintf(stderr, "--rotate-size, --rotate-seconds and --files take 0 or more\n");
        return 2;
    }
    if (o->filter && set_text(ParamFilter, o->filter) != 0) {
        fprintf(stderr, "filter too long\n");
        return 2;
    }
    return 0;
}

/* One line a packet: time and lengths, then what the library decodes of it. */
static void print_packet(long number, enum reader reader, const PacketHeaderRecord *h)
{
    PacketSummaryRecord summary;
    if (reader == READ_MEMSAFE) /* no header: the length isn't reported */
        printf("packet %ld (copied, length not reported)", number);
    else
        printf("%02d:%02d:%02d.%06d %5d/%-5d", h->hour, h->minute, h->second, h->microseconds,
               h->capturedLength, h->wireLength);
    /* The library decodes the packet it delivered, in every mode. */
    if (oxDecodePacket(&summary) == 0)
        print_summary(&summary);
    printf("\n");
}

/* Reads until the count, the time-outs or the end; 0, or 1 when a live
   read failed. */
static int capture_loop(const struct options *o, SAFEARRAY **sa, enum reader reader, long *packets,
                        long *bytes, long *timeouts)
{
    PacketHeaderRecord h;
    while (o->count <= 0 || *packets < o->count) {
        int r;
        if (reader == READ_MEM)
            r = oxCaptureMem(sa, &h);
        else if (reader == READ_MEMSAFE)
            r = oxCaptureMemSafe(sa);
        else
            r = oxCapture(sa, &h);
        if (r < 0) /* the end of the file, or a failure that says why */
            return o->file ? 0 : fail("capture");
        if (r == 0) {
            if (++*timeouts >= o->max_timeouts && o->max_timeouts > 0)
                return 0;
            continue;
        }
        ++*packets;
        if (reader != READ_MEMSAFE)
            *bytes += h.capturedLength;
        print_packet(*packets, reader, &h);
    }
    return 0;
}

static int cmd_capture(const struct options *o)
{
    const uint32_t room = 65536 + 1;
    SAFEARRAY *sa;
    void *own;
    CaptureStatsRecord stats;
    long packets = 0, timeouts = 0, bytes = 0;
    int mode, status;
    enum reader reader;

    if (!parse_mode(o->mode, &mode, &reader))
        return usage();
    if (mode == ModeDisk && !o->out) {
        fprintf(stderr, "disk mode needs -w OUT\n");
        return 2;
    }
    if ((status = apply_settings(o, mode)) != 0)
        return status;
    sa = make_array(room);
    if (!sa) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    own = sa->pvData;
    if (oxBegin(o->timeout) != 0) {
        free_array(sa, own, room);
        return fail("oxBegin");
    }
    status = capture_loop(o, &sa, reader, &packets, &bytes, &timeouts);
    /* The capture library's own counts; a saved file has none. */
    if (!o->file && oxGetStats(&stats) == 0)
        printf("pcap: %lu received, %lu dropped, %lu dropped by the interface\n",
               (unsigned long)(uint32_t)stats.received, (unsigned long)(uint32_t)stats.dropped,
               (unsigned long)(uint32_t)stats.interfaceDropped);
    if (oxEnd() != 0)
        status = fail("oxEnd");
    free_array(sa, own, room);
    OndrixTerminate();
    printf("%ld packets, %ld bytes, %ld time-outs\n", packets, bytes, timeouts);
    return status;
}

static int cmd_send(const struct options *o)
{
    size_t len = strlen(o->hex), i, n = 0;
    SAFEARRAY *sa;
    unsigned char *bytes;
    long t;
    int status = 0;

    if (len == 0 || len % 2) {
        fprintf(stderr, "the frame needs an even number of hex digits\n");
        return 2;
    }
    sa = make_array((uint32_t)(len / 2));
    if (!sa)
        return 1;
    bytes = (unsigned char *)sa->pvData;
    for (i = 0; i < len; i += 2) {
        char pair[3] = {o->hex[i], o->hex[i + 1], 0};
        if (!isxdigit((unsigned char)pair[0]) || !isxdigit((unsigned char)pair[1])) {
            fprintf(stderr, "not a hex frame: %s\n", o->hex);
            free_array(sa, bytes, (uint32_t)(len / 2));
            return 2;
        }
        bytes[n++] = (unsigned char)strtoul(pair, NULL, 16);
    }
    set_int(ParamCaptureSource, SourceLive);
    set_int(ParamCaptureMode, ModeAlias);
    if (select_adapter(o->index, o->adapter)) {
        status = 1;
    } else if (oxBegin(100) != 0) {
        status = fail("oxBegin");
    } else {
        for (t = 0; t < o->times && status == 0; ++t)
            if (oxSendPacket(&sa) != 0)
                status = fail("oxSendPacket");
        if (status == 0)
            printf("sent %ld frame(s) of %lu bytes\n", o->times, (unsigned long)n);
        oxEnd();
    }
    free_array(sa, bytes, (uint32_t)(len / 2));
    OndrixTerminate();
    return status;
}

#ifdef _WIN32
static HMODULE ondrix;

/* Asked before the delay-load helper would load ONDRIX.dll by bare name, a
   search that reaches the current folder and PATH: it gets the module
   OndrixLoad loaded, which load_library makes sure of before any call. */
static FARPROC WINAPI delay_hook(unsigned note, PDelayLoadInfo info)
{
    if (note == dliNotePreLoadLibrary && lstrcmpiA(info->szDll, "ONDRIX.dll") == 0)
        return (FARPROC)(void *)ondrix;
    return NULL;
}
/* Visual Studio's delayimp.h declares the hook const, mingw's does not. */
#ifdef _MSC_VER
const
#endif
    PfnDliHook __pfnDliNotifyHook2 = delay_hook;
#endif

/* Loads ONDRIX.dll from the program's folder; on Linux the library is linked. */
static int load_library(void)
{
#ifdef _WIN32
    char why[512];
    ondrix = OndrixLoad(NULL, why, sizeof why);
    if (!ondrix) {
        fprintf(stderr, "%s\n", why);
        return 1;
    }
#endif
    return 0;
}

int main(int argc, char **argv)
{
    struct options o;
    int i;
    memset(&o, 0, sizeof o);
    o.index = -1;
    o.mode = "copy";
    o.timeout = 1000;
    o.times = 1;
    if (argc < 2)
        return usage();
    for (i = 2; i < argc; ++i) {
        const char *a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (a[0] == '-' && a[1] && !a[2] && strchr("irfcmwtTsn", a[1]) && !v)
            return usage();
        if (strcmp(a, "--adapter") == 0 && !v)
            return usage();
        if (strcmp(a, "-i") == 0)
            o.index = atoi(argv[++i]);
        else if (strcmp(a, "--adapter") == 0)
            o.adapter = argv[++i];
        else if (strcmp(a, "-r") == 0)
            o.file = argv[++i];
        else if (strcmp(a, "-f") == 0)
            o.filter = argv[++i];
        else if (strcmp(a, "-c") == 0)
            o.count = atol(argv[++i]);
        else if (strcmp(a, "-m") == 0)
            o.mode = argv[++i];
        else if (strcmp(a, "-w") == 0)
            o.out = argv[++i];
        else if (strcmp(a, "-t") == 0)
            o.timeout = atoi(argv[++i]);
        else if (strcmp(a, "-T") == 0)
            o.max_timeouts = atol(argv[++i]);
        else if (strcmp(a, "-s") == 0)
            o.snaplen = atoi(argv[++i]);
        else if (strcmp(a, "-n") == 0)
            o.times = atol(argv[++i]);
        else if (strcmp(a, "-P") == 0)
            o.no_promisc = 1;
        else if (strcmp(a, "--rotate-size") == 0 && v)
            o.rotate_size = atoi(argv[++i]);
        else if (strcmp(a, "--rotate-seconds") == 0 && v)
            o.rotate_seconds = atoi(argv[++i]);
        else if (strcmp(a, "--files") == 0 && v)
            o.files = atoi(argv[++i]);
        else if (a[0] != '-' && !o.hex)
            o.hex = a;
        else
            return usage();
    }
    if (strcmp(argv[1], "list") == 0 && argc == 2)
        return load_library() ? 1 : cmd_list();
    if (strcmp(argv[1], "capture") == 0 && (o.index >= 0) + (o.adapter != NULL) + (o.file != NULL) == 1 &&
        !o.hex)
        return load_library() ? 1 : cmd_capture(&o);
    if (strcmp(argv[1], "send") == 0 && (o.index >= 0) + (o.adapter != NULL) == 1 && o.hex && o.times > 0)
        return load_library() ? 1 : cmd_send(&o);
    return usage();
}
