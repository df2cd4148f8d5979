/*
 * ONDRIX: packet capture and packet sending for Visual Basic hosts.
 *
 * 16 flat exports over the pcap library, and four added since (ordinals 17 to 20). Results are plain 32-bit
 * integers: 0 success, -1 failure; the capture calls return 1 (packet), 0 (read time-out) or -1. After a
 * failure oxGetErrorDescription() tells why.
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
/* Host types with the field order and widths of 64-bit Windows. */
typedef uint16_t OLECHAR;
typedef OLECHAR *BSTR;
typedef uint16_t VARTYPE;

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_UI1 = 17,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000
};

typedef struct tagSAFEARRAYBOUND {
    uint32_t cElements;
    int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    uint16_t cDims;
    uint16_t fFeatures;
    uint32_t cbElements;
    uint32_t cLocks;
    void *pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

typedef struct tagVARIANT {
    VARTYPE vt;
    uint16_t wReserved1;
    uint16_t wReserved2;
    uint16_t wReserved3;
    union {
        int64_t llVal;
        int32_t lVal;
        int16_t iVal;
        uint8_t bVal;
        float fltVal;
        double dblVal;
        BSTR bstrVal;
        void *byref;
        struct {
            void *pvRecord;
            void *pRecInfo;
        } brecVal;
    };
} VARIANT;

#define V_VT(X) ((X)->vt)
#define V_I2(X) ((X)->iVal)
#define V_I4(X) ((X)->lVal)
#define V_R8(X) ((X)->dblVal)
#define V_BSTR(X) ((X)->bstrVal)

ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, cLocks) == 8, "SAFEARRAY.cLocks");
ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, pvData) == 16, "SAFEARRAY.pvData");
ONDRIX_STATIC_ASSERT(offsetof(SAFEARRAY, rgsabound) == 24, "SAFEARRAY.rgsabound");
ONDRIX_STATIC_ASSERT(offsetof(VARIANT, lVal) == 8, "VARIANT value");
ONDRIX_STATIC_ASSERT(sizeof(VARIANT) == 24, "VARIANT size");

/*
 * A BSTR points just past a 4-byte byte count and ends with two zero bytes,
 * as on Windows. These stand in for the oleaut32 calls a host needs.
 */
static inline BSTR SysAllocStringByteLen(const char *bytes, uint32_t len)
{
    char *block = (char *)malloc((size_t)len + 6);
    if (!block)
        return NULL;
    memcpy(block, &len, 4);
    if (bytes)
        memcpy(block + 4, bytes, len);
    else
        memset(block + 4, 0, len);
    block[4 + len] = 0;
    block[5 + len] = 0;
    return (BSTR)(void *)(block + 4);
}

static inline BSTR SysAllocStringLen(const OLECHAR *text, uint32_t chars)
{
    if (chars > 0x7FFFFFFFu)
        return NULL;
    return SysAllocStringByteLen((const char *)text, chars * 2);
}

static inline uint32_t SysStringByteLen(BSTR s)
{
    uint32_t len = 0;
    if (s)
        memcpy(&len, (const char *)s - 4, 4);
    return len;
}

static inline uint32_t SysStringLen(BSTR s) { return SysStringByteLen(s) / 2; }

static inline void SysFreeString(BSTR s)
{
    if (s)
        free((char *)s - 4);
}
#endif /* !_WIN32 */

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
    int32_t payloadOffset; /* where the TCP/UDP payload (else the IP payload) starts; -1 when unknown */
    int32_t
        payloadLength;    /* as the headers declare it, which can exceed what was captured; -1 when unknown */
    uint8_t sourceMac[6]; /* Ethernet and Linux cooked headers; zeros otherwise */
    uint8_t destinationMac[6];
    char sourceAddress[46]; /* dotted IPv4 or RFC 5952 IPv6 text of the outermost IP header; empty without IP
                             */
    char destinationAddress[46];
} PacketSummaryRecord;

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

/* Codes for oxSetParam. Codes 3, 4, 5, 7, 11 to 19 and 23 and above are
   accepted and ignored. Rotation is on when ParamDumpFileSize or
   ParamDumpFileSeconds is non-zero at oxBegin: the dump files are then named
   <name>_00001<extension>, _00002 and so on, a capture starting one above the
   highest number already there. */
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
    ParamDumpFileCount = 22    /* while rotating, keep this capture's newest this-many files; 0 all */
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
/* Stores new strings with the adapter's name and description into the two slots. */
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

#ifdef __cplusplus
}
#endif

#ifdef _WIN32
/*
 * Loading ONDRIX.dll on Windows, before the first export is called.
 *
 * Npcap in its native layout keeps wpcap.dll in System32\Npcap, off the DLL
 * search path, and a search by bare name would reach the current folder and
 * PATH, where anyone can leave a wpcap.dll of their own. So the pcap library
 * is taken only from where Npcap or WinPcap put it, and every DLL is loaded
 * by full path. The process-wide search path is never changed.
 *
 * 1. An ONDRIX.dll already loaded from the same path is used again; one from
 *    another path is refused (VB's Declares stay bound to the first).
 * 2. A wpcap.dll or Packet.dll already loaded is used only from Npcap's
 *    folder or the system folder; one from anywhere else is refused.
 * 3. Else <system folder>\Npcap\wpcap.dll, failing that <system folder>\wpcap.dll.
 *    The system folder is the one Windows gives this program: SysWOW64 for a
 *    32-bit program on 64-bit Windows.
 * 4. ONDRIX.dll by full path from folder; its import binds to that wpcap.dll.
 *
 * Each DLL takes what it needs (Packet.dll) from its own folder and System32
 * only. Windows 7 without KB2533623 can't be asked for that: there the older
 * search would go on to the current folder and PATH, so Packet.dll is loaded
 * first by full path from beside wpcap.dll, and refused where it is missing.
 *
 * OndrixLoadW takes the absolute folder that holds ONDRIX.dll (NULL: this
 * program's own folder) and returns the module, or NULL with a sentence for
 * the user in message (always terminated, cut to fit by whole characters).
 * OndrixLoad is the same for an ANSI folder and message. The pcap library
 * stays loaded.
 */
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif
/* Tests define this to an expression that is true to take the older search
   on a Windows that has the newer one. */
#ifndef ONDRIX_HIDE_ADD_DLL_DIRECTORY
#define ONDRIX_HIDE_ADD_DLL_DIRECTORY 0
#endif
/* Room for a folder and a file name in it, in characters. */
#define ONDRIX_PATH_ 1024

/* What OndrixLoad says, in the order of ondrix_sentence_. */
enum {
    ONDRIX_SAY_WEB_,
    ONDRIX_SAY_RELATIVE_,
    ONDRIX_SAY_OTHER_ONDRIX_,
    ONDRIX_SAY_FOREIGN_,
    ONDRIX_SAY_UNBOUND_,
    ONDRIX_SAY_NO_PACKET_,
    ONDRIX_SAY_PCAP_REFUSED_,
    ONDRIX_SAY_NO_NPCAP_,
    ONDRIX_SAY_TOO_LONG_,
    ONDRIX_SAY_NOT_FOUND_,
    ONDRIX_SAY_BITNESS_,
    ONDRIX_SAY_DAMAGED_,
    ONDRIX_SAY_REFUSED_,
    ONDRIX_SAY_NOT_BOUND_
};

/* The same words as OxSentence in ondrix.bas (a test compares them). %1 is
   the folder as given for the first two, the file found for the next five,
   else ONDRIX.dll's folder; %2 is the Windows error, or the path asked for. */
static inline const wchar_t *ondrix_sentence_(int k)
{
    static const wchar_t *const sentences[] = {
        L"%1 is a web address (a workbook opened from OneDrive or SharePoint), and ONDRIX.dll can only be "
        L"loaded from a folder on this computer: save the workbook on a local disk, or pass the local folder "
        L"that holds ONDRIX.dll (in OneDrive, set that folder to \"Always keep on this device\").",
        L"ONDRIX.dll's folder must be a full path such as C:\\ONDRIX\\x86, not \"%1\" (a new workbook or "
        L"document has no folder until it is saved).",
        L"ONDRIX.dll is already loaded in this program from %1, so %2 can't be loaded as well: restart the "
        L"program to use the other one.",
        L"%1 is already loaded: a program in this process loaded it from there, and ONDRIX uses wpcap.dll "
        L"and "
        L"Packet.dll only from Npcap's folder or the system folder. Restart the program without the add-in "
        L"or library that loads it.",
        L"%1 is already loaded but not ready to run: a program in this process loaded it only to look at it. "
        L"Restart the program without the add-in or library that loads it.",
        L"%1, which wpcap.dll needs, is missing: repair or reinstall Npcap from https://npcap.com/.",
        L"%1 could not be loaded (error %2): repair or reinstall Npcap from https://npcap.com/.",
        L"Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds it in its own "
        L"folder, or anywhere when \"Install Npcap in WinPcap API-compatible Mode\" is chosen.",
        L"The path of ONDRIX.dll in %1 is too long: Windows loads a DLL only from a path shorter than 260 "
        L"characters, so move ONDRIX.dll to a shorter folder.",
        L"ONDRIX.dll was not found in %1.",
        L"ONDRIX.dll in %1 does not match this program (error 193): 64-bit Office needs x64\\ONDRIX.dll; VB6 "
        L"and 32-bit Office need x86\\ONDRIX.dll.",
        L"ONDRIX.dll in %1 is damaged or not a DLL (error %2): reinstall it from the release zip.",
        L"ONDRIX.dll in %1 could not be loaded (error %2).",
        L"ONDRIX.dll in %1 was loaded, but the program finds another module by that name first: restart the "
        L"program and call OndrixLoad before any other ONDRIX function.",
    };
    return sentences[k];
}

/* Sentence k (none: -1) with %1 and %2 filled in, cut to fit, never half a
   surrogate pair at the cut. */
static inline void ondrix_say_(wchar_t *message, size_t size, int k, const wchar_t *a, const wchar_t *b)
{
    const wchar_t *s = k < 0 ? L"" : ondrix_sentence_(k), *fill;
    size_t at = 0;

    if (!message || size == 0)
        return;
    for (; *s && at + 1 < size; ++s) {
        fill = s[0] != L'%' ? NULL : s[1] == L'1' ? a : s[1] == L'2' ? b : NULL;
        if (!fill) {
            message[at++] = *s;
            continue;
        }
        for (; *fill && at + 1 < size; ++fill)
            message[at++] = *fill;
        ++s;
    }
    if (at > 0 && message[at - 1] >= 0xD800 && message[at - 1] < 0xDC00)
        --at;
    message[at] = 0;
}

static inline const wchar_t *ondrix_number_(DWORD n, wchar_t *text)
{
    size_t i = 11;
    text[i] = 0;
    do {
        text[--i] = (wchar_t)(L'0' + n % 10);
        n /= 10;
    } while (n);
    return text + i;
}

static inline int ondrix_is_slash_(wchar_t c) { return c == L'\\' || c == L'/'; }

static inline int ondrix_is_file_(const wchar_t *path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static inline int ondrix_starts_with_(const wchar_t *text, const wchar_t *prefix)
{
    for (; *prefix; ++text, ++prefix)
        if (*text != *prefix && !(*text >= L'A' && *text <= L'Z' && *text + 32 == *prefix))
            return 0;
    return 1;
}

/* C:\... or \\server\share...: the folders that do not depend on the current one. */
static inline int ondrix_is_full_path_(const wchar_t *folder)
{
    size_t i = 2;

    if ((folder[0] | 32) >= L'a' && (folder[0] | 32) <= L'z' && folder[1] == L':')
        return ondrix_is_slash_(folder[2]);
    if (!ondrix_is_slash_(folder[0]) || !ondrix_is_slash_(folder[1]))
        return 0;
    while (folder[i] && !ondrix_is_slash_(folder[i]))
        ++i;
    return i > 2 && folder[i] && folder[i + 1] && !ondrix_is_slash_(folder[i + 1]);
}

/* Refuses a web address or a relative folder (it would be taken from the
   current one, which the user does not control). Else name is the folder,
   NULL meaning this program's, without trailing slashes but for C:\'s own. */
static inline int ondrix_folder_(const wchar_t *folder, wchar_t *name)
{
    DWORD n;

    if (!folder) {
        n = GetModuleFileNameW(NULL, name, ONDRIX_PATH_);
        if (n == 0 || n >= ONDRIX_PATH_) {
            name[n ? ONDRIX_PATH_ - 1 : 0] = 0;
            return ONDRIX_SAY_TOO_LONG_;
        }
        while (n > 0 && !ondrix_is_slash_(name[n - 1]))
            --n;
        name[n] = 0;
        folder = name;
    } else if (ondrix_starts_with_(folder, L"http://") || ondrix_starts_with_(folder, L"https://")) {
        return ONDRIX_SAY_WEB_;
    } else if (!ondrix_is_full_path_(folder)) {
        return ONDRIX_SAY_RELATIVE_;
    }
    for (n = 0; folder[n] && n + 1 < ONDRIX_PATH_; ++n)
        name[n] = folder[n];
    name[n] = 0;
    if (folder[n])
        return ONDRIX_SAY_TOO_LONG_;
    while (n > 1 && ondrix_is_slash_(name[n - 1]))
        --n;
    if (n == 2 && name[1] == L':')
        ++n;
    name[n] = 0;
    return -1;
}

/* The full path of ONDRIX.dll in that folder, as Windows spells it (with the
   backslashes LoadLibraryExW needs). */
static inline int ondrix_dll_path_(const wchar_t *name, wchar_t *dll)
{
    wchar_t path[ONDRIX_PATH_ + 16];
    int n = lstrlenW(name);
    DWORD got;

    lstrcpyW(path, name);
    lstrcpyW(path + n, n > 0 && ondrix_is_slash_(name[n - 1]) ? L"ONDRIX.dll" : L"\\ONDRIX.dll");
    got = GetFullPathNameW(path, ONDRIX_PATH_, dll, NULL);
    return got == 0 || got >= MAX_PATH ? ONDRIX_SAY_TOO_LONG_ : -1;
}

/* A module that a program loaded only to look at (DONT_RESOLVE_DLL_REFERENCES)
   has its imports unbound: the first slot of its import address table still
   holds what its name table holds. A call into it would crash. */
static inline int ondrix_unbound_(HMODULE module)
{
    const BYTE *base = (const BYTE *)module;
    const IMAGE_NT_HEADERS *nt =
        (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
    DWORD at = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    const IMAGE_IMPORT_DESCRIPTOR *first = (const IMAGE_IMPORT_DESCRIPTOR *)(base + at);

    if (at == 0 || first->OriginalFirstThunk == 0)
        return 0;
    return ((const IMAGE_THUNK_DATA *)(base + first->FirstThunk))->u1.Function ==
           ((const IMAGE_THUNK_DATA *)(base + first->OriginalFirstThunk))->u1.AddressOfData;
}

/* The system folder with a trailing backslash, as Windows names it for this
   program (k = 0), or as GetSystemDirectoryW does (k = 1): a 32-bit program
   on 64-bit Windows reaches SysWOW64 by both. 0 where it does not fit. */
static inline UINT ondrix_system_folder_(wchar_t *dir, int k)
{
    UINT n = k == 0 && sizeof(void *) == 4 ? GetSystemWow64DirectoryW(dir, MAX_PATH) : 0;

    if (n == 0 || n >= MAX_PATH)
        n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 1)
        return 0;
    dir[n++] = L'\\';
    dir[n] = 0;
    return n;
}

/* Whether path is name in Npcap's folder or in the system folder. */
static inline int ondrix_trusted_(const wchar_t *path, const wchar_t *name)
{
    wchar_t dir[MAX_PATH + 32];
    UINT n;
    int k, npcap;

    for (k = 0; k < 2; ++k) {
        n = ondrix_system_folder_(dir, k);
        for (npcap = 0; npcap < 2 && n != 0; ++npcap) {
            lstrcpyW(dir + n, npcap ? L"Npcap\\" : L"");
            lstrcatW(dir, name);
            if (lstrcmpiW(dir, path) == 0)
                return 1;
        }
    }
    return 0;
}

/* A module of that name already in the process, with a reference that keeps
   it there, if it may be used: ONDRIX.dll from the path wanted, the pcap
   library from a trusted one, and either only if ready to run. */
static inline int ondrix_loaded_(const wchar_t *name, const wchar_t *wanted, wchar_t *found, HMODULE *module)
{
    DWORD got;
    int say;

    if (!GetModuleHandleExW(0, name, module)) {
        *module = NULL;
        return -1;
    }
    got = GetModuleFileNameW(*module, found, ONDRIX_PATH_);
    if (got == 0 || got >= ONDRIX_PATH_ ||
        (wanted ? lstrcmpiW(found, wanted) != 0 : !ondrix_trusted_(found, name)))
        say = wanted ? ONDRIX_SAY_OTHER_ONDRIX_ : ONDRIX_SAY_FOREIGN_;
    else
        say = ondrix_unbound_(*module) ? ONDRIX_SAY_UNBOUND_ : -1;
    if (say >= 0) {
        FreeLibrary(*module);
        *module = NULL;
    }
    return say;
}

/* kernel32 has AddDllDirectory exactly where LoadLibraryExW takes the
   LOAD_LIBRARY_SEARCH_* flags (Windows 8 and later, 7 with KB2533623). */
static inline DWORD ondrix_search_flags_(void)
{
    if (!GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "AddDllDirectory") ||
        ONDRIX_HIDE_ADD_DLL_DIRECTORY)
        return LOAD_WITH_ALTERED_SEARCH_PATH;
    return LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
}

/* wpcap.dll by full path: Npcap's own folder first, then the system folder
   (WinPcap, or Npcap in its WinPcap API-compatible mode). */
static inline int ondrix_load_pcap_(DWORD flags, int packetLoaded, wchar_t *found, DWORD *error)
{
    UINT n = ondrix_system_folder_(found, 0);
    wchar_t *file = found + n;

    if (n == 0)
        return ONDRIX_SAY_NO_NPCAP_;
    lstrcpyW(file, L"Npcap\\wpcap.dll");
    if (!ondrix_is_file_(found))
        lstrcpyW(file, L"wpcap.dll");
    else
        file += 6; /* past Npcap\ */
    if (!ondrix_is_file_(found))
        return ONDRIX_SAY_NO_NPCAP_;
    if (flags == LOAD_WITH_ALTERED_SEARCH_PATH && !packetLoaded) {
        /* The older search would go on to the current folder and PATH. */
        lstrcpyW(file, L"Packet.dll");
        if (!ondrix_is_file_(found))
            return ONDRIX_SAY_NO_PACKET_;
        if (!LoadLibraryExW(found, NULL, flags)) {
            *error = GetLastError();
            return ONDRIX_SAY_PCAP_REFUSED_;
        }
        lstrcpyW(file, L"wpcap.dll");
    }
    if (!LoadLibraryExW(found, NULL, flags)) {
        /* Present but refused: a damaged install, or access denied. */
        *error = GetLastError();
        return ONDRIX_SAY_PCAP_REFUSED_;
    }
    return -1;
}

/* wpcap.dll and Packet.dll: those already loaded if they may be used, else
   wpcap.dll loaded. Like the library, the references stay. */
static inline int ondrix_pcap_(DWORD flags, wchar_t *found, DWORD *error)
{
    HMODULE wpcap, packet = NULL;
    int say = ondrix_loaded_(L"wpcap.dll", NULL, found, &wpcap);

    if (say < 0)
        say = ondrix_loaded_(L"Packet.dll", NULL, found, &packet);
    if (say < 0 && !wpcap)
        say = ondrix_load_pcap_(flags, packet != NULL, found, error);
    return say;
}

/* Error 193 is also what a damaged file or one that is no program gives:
   only a DLL built for the other machine is a matter of bitness. */
static inline int ondrix_other_machine_(const wchar_t *path)
{
    unsigned char head[1024];
    DWORD got = 0, at;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);

    if (file == INVALID_HANDLE_VALUE)
        return 0;
    if (!ReadFile(file, head, sizeof head, &got, NULL))
        got = 0;
    CloseHandle(file);
    if (got < 64 || head[0] != 'M' || head[1] != 'Z')
        return 0;
    at = head[60] | (DWORD)head[61] << 8 | (DWORD)head[62] << 16 | (DWORD)head[63] << 24;
    if (at > got || got - at < 24 || head[at] != 'P' || head[at + 1] != 'E' || head[at + 2] || head[at + 3])
        return 0;
    return ((head[at + 22] | head[at + 23] << 8) & IMAGE_FILE_DLL) &&
           (head[at + 4] | head[at + 5] << 8) ==
               (sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
}

static inline int ondrix_load_dll_(const wchar_t *dll, DWORD flags, HMODULE *module, DWORD *error)
{
    /* A missing file and a missing dependency both give error 126: look for
       the file first. */
    if (!ondrix_is_file_(dll))
        return ONDRIX_SAY_NOT_FOUND_;
    *module = LoadLibraryExW(dll, NULL, flags);
    if (!*module) {
        *error = GetLastError();
        if (*error != ERROR_BAD_EXE_FORMAT)
            return ONDRIX_SAY_REFUSED_;
        return ondrix_other_machine_(dll) ? ONDRIX_SAY_BITNESS_ : ONDRIX_SAY_DAMAGED_;
    }
    /* The exports are found by the name ONDRIX.dll: it must be this module. */
    if (GetModuleHandleW(L"ONDRIX.dll") != *module) {
        FreeLibrary(*module);
        *module = NULL;
        return ONDRIX_SAY_NOT_BOUND_;
    }
    return -1;
}

static inline HMODULE OndrixLoadW(const wchar_t *folder, wchar_t *message, size_t messageSize)
{
    wchar_t name[ONDRIX_PATH_], dll[ONDRIX_PATH_], found[ONDRIX_PATH_], number[12];
    DWORD flags = ondrix_search_flags_(), error = 0;
    HMODULE module = NULL;
    int say = ondrix_folder_(folder, name);

    if (say < 0)
        say = ondrix_dll_path_(name, dll);
    if (say < 0)
        say = ondrix_loaded_(L"ONDRIX.dll", dll, found, &module);
    if (say < 0 && !module)
        say = ondrix_pcap_(flags, found, &error);
    if (say < 0 && !module)
        say = ondrix_load_dll_(dll, flags, &module, &error);
    ondrix_say_(message, messageSize, say,
                say <= ONDRIX_SAY_RELATIVE_   ? folder
                : say <= ONDRIX_SAY_NO_NPCAP_ ? found
                                              : name,
                say == ONDRIX_SAY_OTHER_ONDRIX_ ? dll : ondrix_number_(error, number));
    return module;
}

/* The wide message in the ANSI code page, cut to fit by whole characters
   under any code page (double-byte or UTF-8): each character is converted on
   its own. */
static inline void ondrix_to_ansi_(const wchar_t *wide, char *message, size_t messageSize)
{
    size_t used = 0, i = 0, room;
    int step, got;

    while (wide[i] && used + 1 < messageSize) {
        step = wide[i] >= 0xD800 && wide[i] < 0xDC00 && wide[i + 1] >= 0xDC00 && wide[i + 1] < 0xE000 ? 2 : 1;
        /* A character takes at most 4 bytes. */
        room = messageSize - 1 - used;
        got = WideCharToMultiByte(CP_ACP, 0, wide + i, step, message + used, room > 8 ? 8 : (int)room, NULL,
                                  NULL);
        if (got <= 0)
            break;
        used += (size_t)got;
        i += (size_t)step;
    }
    message[used] = 0;
}

static inline HMODULE OndrixLoad(const char *folder, char *message, size_t messageSize)
{
    wchar_t wideFolder[1024], wideMessage[1536];
    HMODULE module;
    int got;

    if (folder && !MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, 1024)) {
        /* Too long to be a folder anyway: its start gives the same answer. */
        got = MultiByteToWideChar(CP_ACP, 0, folder, 1000, wideFolder, 1023);
        wideFolder[got > 0 ? got : 0] = 0;
    }
    module = OndrixLoadW(folder ? wideFolder : NULL, wideMessage, sizeof wideMessage / sizeof wideMessage[0]);
    if (message && messageSize > 0)
        ondrix_to_ansi_(wideMessage, message, messageSize);
    return module;
}
#endif /* _WIN32 */

#endif /* ONDRIX_H */
