/*
 * ONDRIX: packet capture and packet sending for Visual Basic hosts.
 *
 * 16 flat exports over the pcap library, and six added since (ordinals 17 to 22). Results are plain 32-bit
 * integers: 0 success, -1 failure; the capture calls return 1 (packet), 0 (read time-out) or -1. After a
 * failure oxGetErrorDescription() tells why. An export given a null record returns -1 without taking a
 * packet.
 *
 * On Windows this header uses the system's BSTR, SAFEARRAY and VARIANT.
 * Elsewhere it defines them with the layouts of 64-bit Windows, so that the
 * same host code builds on both.
 */
#ifndef ONDRIX_H
#define ONDRIX_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>
#define ONDRIX_CALL __stdcall
#define ONDRIX_API
#else
#include <stdlib.h>
#include <string.h>
#define ONDRIX_CALL
#define ONDRIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define ONDRIX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ONDRIX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define ONDRIX_STATIC_ASSERT_CAT2(a, b) a##b
#define ONDRIX_STATIC_ASSERT_CAT(a, b) ONDRIX_STATIC_ASSERT_CAT2(a, b)
#define ONDRIX_STATIC_ASSERT(cond, msg)                                                                      \
    typedef char ONDRIX_STATIC_ASSERT_CAT(ondrix_static_assert_, __LINE__)[(cond) ? 1 : -1]
#endif

#ifndef _WIN32
#include "ondrix_ole.h"
#endif

/* Filled by oxGetAdapterInfo: 516 bytes, texts ANSI and zero-terminated. */
typedef struct AdapterInfoRecord {
    char name[255];        /* at most 254 characters */
    char description[257]; /* at most 256 characters; empty when absent */
    int32_t reserved;      /* always 0 */
} AdapterInfoRecord;

/* Filled by the capture calls: six signed 32-bit integers, 24 bytes. */
typedef struct PacketHeaderRecord {
    int32_t capturedLength; /* bytes available in the packet data */
    int32_t wireLength;     /* length of the packet on the wire */
    int32_t hour;           /* local time of the packet */
    int32_t minute;
    int32_t second;
    int32_t microseconds; /* the timestamp's microseconds, unchanged */
} PacketHeaderRecord;

/* Filled by oxGetStats: the pcap library's counters of the running capture,
   its unsigned counts stored bit for bit (past 2^31 they read negative). */
typedef struct CaptureStatsRecord {
    int32_t received;         /* ps_recv: packets the capture saw */
    int32_t dropped;          /* ps_drop: packets lost for want of buffer room */
    int32_t interfaceDropped; /* ps_ifdrop: packets the interface or its driver dropped; often 0 */
} CaptureStatsRecord;

/* Filled by oxGetAdapterDetails: what the system knows of an adapter, 360
   bytes. Texts are ANSI, zero-terminated and zero-filled; a field the system
   doesn't report holds its "none" value. */
typedef struct AdapterDetailsRecord {
    int32_t flags;            /* AdapterLoopback, AdapterConnected, AdapterWireless */
    int32_t mtu;              /* bytes; -1 when unknown */
    int32_t ipv4PrefixLength; /* of ipv4Address; -1 when there is none */
    int32_t ipv6PrefixLength; /* of ipv6Address; -1 when there is none */
    uint8_t mac[8];           /* the 6-byte hardware address, then 2 zero bytes; all 0 when none */
    char friendlyName[256];   /* the name the system shows ("Ethernet", "Wi-Fi"; on Linux the interface) */
    char ipv4Address[16];     /* first IPv4 address, dotted; empty when none */
    char ipv4Gateway[16];     /* the IPv4 default gateway through this adapter; empty when none */
    char ipv6Address[48];     /* first global IPv6 address, else the first link-local one; no %zone */
} AdapterDetailsRecord;

/* AdapterDetailsRecord.flags */
enum AdapterFlag {
    AdapterLoopback = 1,
    AdapterConnected = 2, /* link up, can carry traffic */
    AdapterWireless = 4
};

/* Filled by oxDecodePacket: the common fields of the packet last delivered,
   156 bytes. A field the packet doesn't have, or that lies beyond the
   captured bytes, holds -1, zeros or an empty text. */
typedef struct PacketSummaryRecord {
    int32_t
        linkType; /* the capture's pcap link type: 1 Ethernet, 0/108 loopback, 113/276 Linux cooked, ... */
    int32_t etherType;  /* after any VLAN tags (0x0800 or 0x86DD where the link has none); -1 when none */
    int32_t vlanId;     /* the outermost VLAN tag's 12-bit id; -1 when untagged */
    int32_t ipVersion;  /* 4 or 6 for the outermost IP header when captured whole; else 0 */
    int32_t protocol;   /* IPv4 protocol, or IPv6's header after its extension headers; -1 without IP */
    int32_t hopLimit;   /* IPv4 TTL or IPv6 hop limit; -1 without IP */
    int32_t sourcePort; /* TCP or UDP; -1 otherwise, and for every fragment but the first */
    int32_t destinationPort;
    int32_t tcpFlags; /* FIN 1, SYN 2, RST 4, PSH 8, ACK 16, URG 32, ECE 64, CWR 128; -1 when not TCP */
    int32_t icmpType; /* ICMP or ICMPv6; -1 otherwise */
    int32_t icmpCode;
    int32_t payloadOffset; /* where the TCP/UDP payload (else the IP payload) starts; -1 when unknown or
                              past the captured bytes */
    int32_t
        payloadLength;    /* as the headers declare it, which can exceed what was captured; -1 when unknown */
    uint8_t sourceMac[6]; /* Ethernet and Linux cooked headers; zeros otherwise */
    uint8_t destinationMac[6];
    char sourceAddress[46]; /* dotted IPv4 or RFC 5952 IPv6 text of the outermost IP header; empty without IP
                             */
    char destinationAddress[46];
} PacketSummaryRecord;

/* Filled by oxGetPacketTime: the date and time of the packet last delivered,
   24 bytes. The two doubles come first, so that the layout is the same in
   VB6 and in 64-bit VBA. */
typedef struct PacketTimeRecord {
    double localDate;         /* a VB Date: days since 1899-12-30 in local time, to the microsecond */
    double unixSeconds;       /* seconds since 1970-01-01 UTC, with the fraction */
    int32_t microseconds;     /* the timestamp's microseconds */
    int32_t utcOffsetMinutes; /* local time minus UTC at that instant, daylight saving as it then was */
} PacketTimeRecord;

/* Filled by oxDecodeName: the name a packet carries, 264 bytes. */
typedef struct PacketNameRecord {
    int32_t kind;   /* a PacketNameKind; NameNone when the packet carries none */
    int32_t length; /* the name's bytes, without the terminator */
    char name[256]; /* zero-terminated and zero-filled */
} PacketNameRecord;

/* PacketNameRecord.kind */
enum PacketNameKind {
    NameNone = 0,
    NameDnsQuery = 1,    /* the first question of a DNS (mDNS, LLMNR) query */
    NameDnsResponse = 2, /* the first question of a DNS (mDNS, LLMNR) response */
    NameTlsServer = 3,   /* the server name of a TLS ClientHello */
    NameHttpHost = 4     /* the Host header of an HTTP/1.x request */
};

ONDRIX_STATIC_ASSERT(offsetof(AdapterInfoRecord, description) == 255, "description offset");
ONDRIX_STATIC_ASSERT(offsetof(AdapterInfoRecord, reserved) == 512, "reserved offset");
ONDRIX_STATIC_ASSERT(sizeof(AdapterInfoRecord) == 516, "AdapterInfoRecord size");
ONDRIX_STATIC_ASSERT(offsetof(PacketHeaderRecord, microseconds) == 20, "microseconds offset");
ONDRIX_STATIC_ASSERT(sizeof(PacketHeaderRecord) == 24, "PacketHeaderRecord size");
ONDRIX_STATIC_ASSERT(sizeof(CaptureStatsRecord) == 12, "CaptureStatsRecord size");
ONDRIX_STATIC_ASSERT(offsetof(AdapterDetailsRecord, mac) == 16, "mac offset");
ONDRIX_STATIC_ASSERT(offsetof(AdapterDetailsRecord, ipv6Address) == 312, "ipv6Address offset");
ONDRIX_STATIC_ASSERT(sizeof(AdapterDetailsRecord) == 360, "AdapterDetailsRecord size");
ONDRIX_STATIC_ASSERT(offsetof(PacketSummaryRecord, sourceMac) == 52, "sourceMac offset");
ONDRIX_STATIC_ASSERT(offsetof(PacketSummaryRecord, destinationAddress) == 110, "destinationAddress offset");
ONDRIX_STATIC_ASSERT(sizeof(PacketSummaryRecord) == 156, "PacketSummaryRecord size");
ONDRIX_STATIC_ASSERT(offsetof(PacketTimeRecord, microseconds) == 16, "microseconds offset");
ONDRIX_STATIC_ASSERT(sizeof(PacketTimeRecord) == 24, "PacketTimeRecord size");
ONDRIX_STATIC_ASSERT(offsetof(PacketNameRecord, name) == 8, "name offset");
ONDRIX_STATIC_ASSERT(sizeof(PacketNameRecord) == 264, "PacketNameRecord size");

/* Codes for oxSetParam. Codes 3, 4, 5, 7, 11 to 19 and 24 and above are
   accepted and ignored. Rotation is on when ParamDumpFileSize or
   ParamDumpFileSeconds is non-zero at oxBegin: the dump files are then named
   <name>_00001<extension>, _00002 and so on, a capture starting one above the
   highest number already there. The name is made a full path at oxBegin (its
   folder must exist), and each file is created new, a number that is taken
   passed over, so no file is ever replaced. With ParamDumpFileCount N, the
   folder holds at most N of this capture's own files, the one being written
   included (1: only that one); the oldest goes before the next is made. */
enum ParamCode {
    ParamSnapLength = 0,       /* 1 to 65536 */
    ParamPromiscuous = 1,      /* 0 or 1 */
    ParamDumpFileName = 2,     /* non-empty text: dump file, or the saved file to read */
    ParamKernelBufferSize = 6, /* driver buffer bytes; 0 or less keeps the default */
    ParamCaptureMode = 8,      /* ModeDisk, ModeAlias or ModeCopy */
    ParamFilter = 9,           /* non-empty text in the pcap filter language */
    ParamCaptureSource = 10,   /* SourceLive or SourceFile */
    ParamDumpFileSize = 20,    /* a new dump file before one would pass this many bytes; 0 off */
    ParamDumpFileSeconds = 21, /* a new dump file for a packet this many seconds after its first; 0 off */
    ParamDumpFileCount = 22,   /* at most this many of this capture's files, the current one too; 0 all */
    ParamClearFilter = 23      /* any value: empties the stored filter, so that every packet is taken */
};

/* How oxCapture delivers a packet. */
enum CaptureMode {
    ModeDisk = 1,  /* appended to the dump file */
    ModeAlias = 8, /* the host's array is pointed at the packet */
    ModeCopy = 100 /* copied into the host's array */
};

enum CaptureSource {
    SourceLive = 1001, /* the current adapter */
    SourceFile = 1002  /* the saved capture file named by ParamDumpFileName */
};

#ifdef __cplusplus
extern "C" {
#endif

/* Lists the adapters and makes the first one current; returns their number, or -1. */
ONDRIX_API int32_t ONDRIX_CALL OndrixInit(void);
/* Fills *info for the adapter at index (low 16 bits, signed). */
ONDRIX_API int32_t ONDRIX_CALL oxGetAdapterInfo(int32_t index, AdapterInfoRecord *info);
/* Releases the adapter list; a running capture goes on. Returns 0. */
ONDRIX_API int32_t ONDRIX_CALL OndrixTerminate(void);
/* Makes the adapter at index the one oxBegin opens. */
ONDRIX_API int32_t ONDRIX_CALL oxSetCurrentAdapter(int32_t index);
/* The index last set by oxSetCurrentAdapter, -1 when none since OndrixInit. */
ONDRIX_API int32_t ONDRIX_CALL oxGetCurrentAdapter(void);
/* Starts a capture with the stored settings; timeoutMs is the read time-out. */
ONDRIX_API int32_t ONDRIX_CALL oxBegin(int32_t timeoutMs);
/* Ends the capture and closes the dump file. */
ONDRIX_API int32_t ONDRIX_CALL oxEnd(void);
/* Points *array at the next packet; its element count becomes capturedLength + 1. */
ONDRIX_API int32_t ONDRIX_CALL oxCaptureMem(SAFEARRAY **array, PacketHeaderRecord *header);
/* Copies the next packet into *array, which needs room for capturedLength + 1. */
ONDRIX_API int32_t ONDRIX_CALL oxCaptureMemSafe(SAFEARRAY **array);
/* Asks the driver to resize the buffer of the running capture. */
ONDRIX_API int32_t ONDRIX_CALL oxSetKernelBuffSize(int32_t bytes);
/* The text of the last failure, as ANSI bytes in a new string the caller frees. */
ONDRIX_API BSTR ONDRIX_CALL oxGetErrorDescription(void);
/* Appends the next packet to the dump file (live capture begun in ModeDisk). */
ONDRIX_API int32_t ONDRIX_CALL oxCaptureDiskSafe(PacketHeaderRecord *header);
/* Stores one setting; value is a VT_I2, VT_I4 or VT_BSTR variant. */
ONDRIX_API int32_t ONDRIX_CALL oxSetParam(int32_t code, const VARIANT *value);
/* Sends the whole array as one frame on the open capture. */
ONDRIX_API int32_t ONDRIX_CALL oxSendPacket(SAFEARRAY **array);
/* Delivers the next packet as ParamCaptureMode says. */
ONDRIX_API int32_t ONDRIX_CALL oxCapture(SAFEARRAY **array, PacketHeaderRecord *header);
/* Stores new strings with the adapter's name and description into the two slots; a null slot is skipped. */
ONDRIX_API int32_t ONDRIX_CALL oxGetAdapterInfoVB5(int32_t index, BSTR *name, BSTR *description);
/* Ordinal 17, added after the first 16: fills *stats with the counters of the
   running live capture; -1 with no capture, or on a saved file. */
ONDRIX_API int32_t ONDRIX_CALL oxGetStats(CaptureStatsRecord *stats);
/* Ordinal 18: fills *details for the adapter at index (low 16 bits, signed)
   from the system's own adapter list. */
ONDRIX_API int32_t ONDRIX_CALL oxGetAdapterDetails(int32_t index, AdapterDetailsRecord *details);
/* Ordinal 19: the index of the first adapter whose friendly name, description,
   pcap name, IPv4 or IPv6 address or MAC (with '-' or ':') equals text,
   ignoring case and surrounding spaces; -1 when none does. */
ONDRIX_API int32_t ONDRIX_CALL oxFindAdapter(const char *text);
/* Ordinal 20: describes the packet the last capture call delivered. */
ONDRIX_API int32_t ONDRIX_CALL oxDecodePacket(PacketSummaryRecord *summary);
/* Ordinal 21: the date and time of the packet the last capture call delivered, in local time as the
   header record's clock; -1 when that call delivered none. */
ONDRIX_API int32_t ONDRIX_CALL oxGetPacketTime(PacketTimeRecord *time);
/* Ordinal 22: the DNS question, TLS server name or HTTP host of the packet the
   last capture call delivered, from its outermost TCP or UDP; 1 with a name,
   0 when it carries none (the record zero-filled), -1 as oxDecodePacket. A
   byte outside printable ASCII, a backslash, and a "." inside a DNS label are
   written \DDD (decimal), so the name is always printable. */
ONDRIX_API int32_t ONDRIX_CALL oxDecodeName(PacketNameRecord *name);

#ifdef __cplusplus
}
#endif

#ifdef _WIN32
#include "ondrix_load.h"
#endif

#endif /* ONDRIX_H */
