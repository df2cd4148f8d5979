/*
 * ondrix-capture: a small capture host built on the ONDRIX exports only,
 * driving them the way a VB program does (variants, byte-array variables,
 * header records, ANSI error strings).
 *
 *   ondrix-capture list
 *   ondrix-capture capture (-i INDEX | -r FILE) [-f FILTER] [-c COUNT] [-t MS]
 *                  [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe] [-w OUT] [-s SNAPLEN] [-P]
 *                  [--rotate-size BYTES] [--rotate-seconds S] [--files N]
 *   ondrix-capture send -i INDEX [-n TIMES] HEXFRAME
 *
 * On Windows the exports are delay-loaded (mingw: an import library made with
 * dlltool -y; MSVC: /DELAYLOAD:ONDRIX.dll and delayimp.lib). The program then
 * starts without ONDRIX.dll or the pcap library, and OndrixLoad finds both,
 * Npcap in its own folder too, before the first call, or says what is missing.
 */
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ondrix.h"

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

/* ---- decoding ---- */

static unsigned get16(const unsigned char *p) { return (unsigned)(p[0] << 8 | p[1]); }

static void print_ip4(const unsigned char *a) { printf("%u.%u.%u.%u", a[0], a[1], a[2], a[3]); }

/* RFC 5952 style: the longest run of two or more zero groups becomes "::". */
static void print_ip6(const unsigned char *a)
{
    int best = -1, bestLen = 1, i, j;
    for (i = 0; i < 8; i = j + 1) {
        for (j = i; j < 8 && get16(a + 2 * j) == 0; ++j)
            ;
        if (j - i > bestLen)
            best = i, bestLen = j - i;
    }
    for (i = 0; i < 8; ++i) {
        if (i == best) {
            printf("::");
            i += bestLen - 1;
            continue;
        }
        printf("%s%x", i && i != best + bestLen ? ":" : "", get16(a + 2 * i));
    }
}

static void print_transport(unsigned proto, const unsigned char *p, size_t n)
{
    if ((proto == 6 || proto == 17) && n >= 4)
        printf(" %s %u > %u", proto == 6 ? "TCP" : "UDP", get16(p), get16(p + 2));
    else if ((proto == 1 || proto == 58) && n >= 2) {
        unsigned request = proto == 1 ? 8 : 128, reply = proto == 1 ? 0 : 129;
        printf(" %s", proto == 1 ? "ICMP" : "ICMPv6");
        if (p[0] == request || p[0] == reply)
            printf(" echo %s", p[0] == request ? "request" : "reply");
        else
            printf(" type %u code %u", p[0], p[1]);
    } else
        printf(" proto %u", proto);
}

static void decode(const unsigned char *p, size_t n)
{
    unsigned type;
    if (n < 14) {
        printf(" (short frame)");
        return;
    }
    type = get16(p + 12);
    p += 14;
    n -= 14;
    if (type == 0x0800 && n >= 20) {
        size_t ihl = (size_t)(p[0] & 15) * 4;
        printf(" IPv4 ");
        print_ip4(p + 12);
        printf(" > ");
        print_ip4(p + 16);
        if (ihl >= 20 && ihl <= n)
            print_transport(p[9], p + ihl, n - ihl);
    } else if (type == 0x86DD && n >= 40) {
        printf(" IPv6 ");
        print_ip6(p + 8);
        printf(" > ");
        print_ip6(p + 24);
        print_transport(p[6], p + 40, n - 40);
    } else if (type == 0x0806 && n >= 28) {
        unsigned op = get16(p + 6);
        if (op == 2) {
            printf(" ARP reply ");
            print_ip4(p + 14);
            printf(" is-at %02x:%02x:%02x:%02x:%02x:%02x", p[8], p[9], p[10], p[11], p[12], p[13]);
        } else {
            printf(" ARP %s ", op == 1 ? "who-has" : "op");
            print_ip4(p + 24);
            printf(" tell ");
            print_ip4(p + 14);
        }
    } else {
        printf(" ethertype 0x%04x", type);
    }
}

/* ---- commands ---- */

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
    }
    OndrixTerminate();
    return 0;
}

struct options {
    int index;
    const char *file, *filter, *out, *mode;
    long count, max_timeouts, times;
    int32_t timeout, snaplen;
    int32_t rotate_size, rotate_seconds, files; /* disk mode: OUT_00001.ext, ... */
    int no_promisc;
    const char *hex;
};

static int usage(void)
{
    fprintf(stderr, "usage: ondrix-capture list\n"
                    "       ondrix-capture capture (-i INDEX | -r FILE) [-f FILTER] [-c COUNT] [-t MS]\n"
                    "                      [-T TIMEOUTS] [-m copy|alias|disk|mem|memsafe] [-w OUT]\n"
                    "                      [-s SNAPLEN] [-P] [--rotate-size BYTES] [--rotate-seconds S]\n"
                    "                      [--files N]\n"
                    "       ondrix-capture send -i INDEX [-n TIMES] HEXFRAME\n");
    return 2;
}

static int select_adapter(int index)
{
    int32_t n = OndrixInit();
    if (n < 0)
        return fail("OndrixInit");
    if (oxSetCurrentAdapter(index) != 0)
        return fail("oxSetCurrentAdapter");
    return 0;
}

static int cmd_capture(const struct options *o)
{
    const uint32_t room = 65536 + 1;
    SAFEARRAY *sa = make_array(room);
    void *own = sa ? sa->pvData : NULL;
    PacketHeaderRecord h;
    CaptureStatsRecord stats;
    long packets = 0, timeouts = 0, bytes = 0;
    int mode = ModeCopy, disk = 0, mem = 0, memsafe = 0, status = 0;

    if (!sa) {
        fprintf(stderr, "out of memory\n");
        return 1;
    }
    if (strcmp(o->mode, "alias") == 0)
        mode = ModeAlias;
    else if (strcmp(o->mode, "disk") == 0)
        mode = ModeDisk, disk = 1;
    else if (strcmp(o->mode, "mem") == 0)
        mem = 1;
    else if (strcmp(o->mode, "memsafe") == 0)
        memsafe = 1;
    else if (strcmp(o->mode, "copy") != 0)
        return usage();
    if (disk && !o->out) {
        fprintf(stderr, "disk mode needs -w OUT\n");
        return 2;
    }

    if (o->file) {
        set_int(ParamCaptureSource, SourceFile);
        set_text(ParamDumpFileName, o->file);
    } else {
        set_int(ParamCaptureSource, SourceLive);
        if (select_adapter(o->index))
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
    if (oxBegin(o->timeout) != 0) {
        free_array(sa, own, room);
        return fail("oxBegin");
    }

    while (o->count <= 0 || packets < o->count) {
        int r;
        const unsigned char *data = NULL;
        if (mem)
            r = oxCaptureMem(&sa, &h);
        else if (memsafe)
            r = oxCaptureMemSafe(&sa);
        else
            r = oxCapture(&sa, &h);
        if (r < 0) { /* the end of the file, or a failure that says why */
            if (!o->file)
                status = fail("capture");
            break;
        }
        if (r == 0) {
            if (++timeouts >= o->max_timeouts && o->max_timeouts > 0)
                break;
            continue;
        }
        ++packets;
        if (memsafe) { /* no header: the length isn't reported */
            printf("packet %ld (copied, length not reported)\n", packets);
            continue;
        }
        bytes += h.capturedLength;
        printf("%02d:%02d:%02d.%06d %5d/%-5d", h.hour, h.minute, h.second, h.microseconds, h.capturedLength,
               h.wireLength);
        data = disk ? NULL : (const unsigned char *)sa->pvData;
        if (data)
            decode(data, (size_t)h.capturedLength);
        else
            printf(" (to disk)");
        printf("\n");
    }
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
    if (select_adapter(o->index) || oxBegin(100) != 0) {
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

/* Loads ONDRIX.dll from the program's folder; on Linux the library is linked. */
static int load_library(void)
{
#ifdef _WIN32
    char why[512];
    if (!OndrixLoad(NULL, why, sizeof why)) {
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
        if (strcmp(a, "-i") == 0)
            o.index = atoi(argv[++i]);
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
    if (strcmp(argv[1], "capture") == 0 && (o.index >= 0) != (o.file != NULL) && !o.hex)
        return load_library() ? 1 : cmd_capture(&o);
    if (strcmp(argv[1], "send") == 0 && o.index >= 0 && o.hex && o.times > 0)
        return load_library() ? 1 : cmd_send(&o);
    return usage();
}
