/* ondrix-capture capture: packets from an adapter or a saved file, one line
   each, in any delivery mode; disk mode writes (and rotates) dump files. */
#include <stdio.h>
#include <string.h>

#include "ondrix-capture.h"

/* The one-line summary, from oxDecodePacket's record. */
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

/* The name the packet carries (its DNS question, TLS server name or HTTP
   host), after what kind it is. */
static void print_name(void)
{
    static const char *const kinds[] = {"", "DNS query", "DNS response", "TLS server", "HTTP host"};
    PacketNameRecord name;
    if (oxDecodeName(&name) == 1 && name.kind > 0 && name.kind < 5)
        printf(" %s %s", kinds[name.kind], name.name);
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
    print_name();
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

int cmd_capture(const struct options *o)
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
