// Reads a saved capture through the library's exports, as a host would, and
// prints each packet's summary record, then its name record's kind and
// name, as one tab-separated line.
#include <cstdio>

#include "host.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: dump_records FILE\n");
        return 2;
    }
    host::Variant source = host::Variant::i4(SourceFile), name = host::Variant::str(argv[1]);
    if (oxSetParam(ParamCaptureSource, source.get()) != 0 || oxSetParam(ParamDumpFileName, name.get()) != 0)
        return 2;
    if (oxBegin(0) != 0)
        return 3; // a file libpcap can't read
    host::ByteArray array(262145);
    PacketHeaderRecord header;
    PacketSummaryRecord r;
    PacketNameRecord n;
    while (oxCapture(array.var(), &header) == 1) {
        if (oxDecodePacket(&r) != 0 || oxDecodeName(&n) < 0)
            return 1;
        const uint8_t *s = r.sourceMac, *d = r.destinationMac;
        std::printf("%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t"
                    "%02x:%02x:%02x:%02x:%02x:%02x\t%02x:%02x:%02x:%02x:%02x:%02x\t%s\t%s\t%d\t%s\n",
                    r.linkType, r.etherType, r.vlanId, r.ipVersion, r.protocol, r.hopLimit, r.sourcePort,
                    r.destinationPort, r.tcpFlags, r.icmpType, r.icmpCode, r.payloadOffset, r.payloadLength,
                    s[0], s[1], s[2], s[3], s[4], s[5], d[0], d[1], d[2], d[3], d[4], d[5], r.sourceAddress,
                    r.destinationAddress, n.kind, n.name);
    }
    oxEnd();
    return 0;
}
