/*
 * ONDRIX: packet capture and packet sending for Visual Basic hosts.
 *
 * 16 flat exports over the pcap library, and oxGetStats as a 17th. Results are plain 32-bit integers:
 * 0 success, -1 failure; the capture calls return 1 (packet), 0 (read
 * time-out) or -1. After a failure oxGetErrorDescription() tells why.
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

ONDRIX_STATIC_ASSERT(offsetof(AdapterInfoRecord, description) == 255, "description offset");
ONDRIX_STATIC_ASSERT(offsetof(AdapterInfoRecord, reserved) == 512, "reserved offset");
ONDRIX_STATIC_ASSERT(sizeof(AdapterInfoRecord) == 516, "AdapterInfoRecord size");
ONDRIX_STATIC_ASSERT(offsetof(PacketHeaderRecord, microseconds) == 20, "microseconds offset");
ONDRIX_STATIC_ASSERT(sizeof(PacketHeaderRecord) == 24, "PacketHeaderRecord size");
ONDRIX_STATIC_ASSERT(sizeof(CaptureStatsRecord) == 12, "CaptureStatsRecord size");

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
 * by full path with its dependencies (Packet.dll) from its own folder and
 * System32 only. The process-wide search path is never changed.
 *
 * 1. A wpcap.dll already loaded in the process is used.
 * 2. Else <system folder>\Npcap\wpcap.dll, failing that <system folder>\wpcap.dll
 *    (a 32-bit program's system folder is SysWOW64).
 * 3. ONDRIX.dll by full path from folder; its import binds to that wpcap.dll.
 *
 * OndrixLoadW takes the absolute folder that holds ONDRIX.dll (NULL: this
 * program's own folder) and returns the module, or NULL with a sentence for
 * the user in message (always terminated, cut to fit). OndrixLoad is the same
 * for an ANSI folder and message. The pcap library stays loaded.
 */
#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

/* Windows 7 without the update that added these flags refuses them with
   error 87; the same full path then goes the older way, which also looks for
   dependencies beside the DLL first. */
static inline HMODULE ondrix_load_file_(const wchar_t *path)
{
    HMODULE module =
        LoadLibraryExW(path, NULL, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryExW(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    return module;
}

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

static inline HMODULE OndrixLoadW(const wchar_t *folder, wchar_t *message, size_t messageSize)
{
    wchar_t own[MAX_PATH], pcap[MAX_PATH + 32], path[MAX_PATH + 16], full[MAX_PATH], number[12];
    const wchar_t *part[5] = {L"", L"", L"", L"", L""};
    size_t length[5] = {0, 0, 0, 0, 0};
    size_t n, i, j, at = 0;
    DWORD error = 0, got;
    HMODULE module = NULL;
    int k;

    if (!folder) {
        got = GetModuleFileNameW(NULL, own, MAX_PATH);
        n = got < MAX_PATH ? got : MAX_PATH - 1;
        if (got == 0 || got >= MAX_PATH)
            error = got ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        else
            while (n > 0 && own[n - 1] != L'\\' && own[n - 1] != L'/')
                --n;
        own[n] = 0;
        folder = own;
    }
    /* The sentences name the folder without a trailing backslash. */
    n = (size_t)lstrlenW(folder);
    while (n > 1 && (folder[n - 1] == L'\\' || folder[n - 1] == L'/'))
        --n;
    part[1] = folder;
    length[1] = n;

    if (ondrix_starts_with_(folder, L"http://") || ondrix_starts_with_(folder, L"https://")) {
        part[2] = L" is a web address (a workbook opened from OneDrive or SharePoint), and ONDRIX.dll can "
                  L"only be loaded from a folder on this computer: save the workbook on a local disk, or "
                  L"pass the local folder that holds ONDRIX.dll (in OneDrive, set that folder to \"Always "
                  L"keep on this device\").";
    } else if (!error && !(((folder[0] | 32) >= L'a' && (folder[0] | 32) <= L'z' && folder[1] == L':' &&
                            (folder[2] == L'\\' || folder[2] == L'/')) ||
                           ((folder[0] == L'\\' || folder[0] == L'/') && folder[1] == folder[0]))) {
        /* A relative folder would be taken from the current one, which the
           user does not control. */
        part[0] = L"ONDRIX.dll's folder must be a full path such as C:\\ONDRIX\\x86, not \"";
        part[2] = L"\" (a new workbook or document has no folder until it is saved).";
    } else if (!GetModuleHandleW(L"wpcap.dll")) {
        got = GetSystemDirectoryW(pcap, MAX_PATH);
        if (got == 0 || got >= MAX_PATH)
            got = 0, pcap[0] = 0;
        for (k = 0; k < 2 && got; ++k) {
            lstrcpyW(pcap + got, k == 0 ? L"\\Npcap\\wpcap.dll" : L"\\wpcap.dll");
            if (!ondrix_is_file_(pcap))
                continue;
            if (!ondrix_load_file_(pcap)) {
                /* Present but refused: a damaged install, or access denied. */
                error = GetLastError();
                part[1] = pcap;
                length[1] = (size_t)lstrlenW(pcap);
                part[2] = L" could not be loaded (error ";
                part[4] = L"): repair or reinstall Npcap from https://npcap.com/.";
            }
            break;
        }
        if (k == 2 || !got) {
            part[0] = L"Npcap is not installed. Get it from https://npcap.com/ and install it; ONDRIX finds "
                      L"it in its own folder, or anywhere when \"Install Npcap in WinPcap API-compatible "
                      L"Mode\" is chosen.";
            length[1] = 0;
        }
    }

    if (!part[0][0] && !part[2][0]) {
        if (!error && n + sizeof "\\ONDRIX.dll" > MAX_PATH)
            error = ERROR_FILENAME_EXCED_RANGE;
        if (!error) {
            for (i = 0; i < n; ++i)
                path[i] = folder[i];
            lstrcpyW(path + n, L"\\ONDRIX.dll");
            /* Also turns forward slashes into the backslashes LoadLibraryExW needs. */
            got = GetFullPathNameW(path, MAX_PATH, full, NULL);
            if (got == 0 || got >= MAX_PATH)
                error = ERROR_FILENAME_EXCED_RANGE;
        }
        /* A missing file and a missing dependency both give error 126: look
           for the file first. */
        if (!error && !ondrix_is_file_(full)) {
            part[0] = L"ONDRIX.dll was not found in ";
            part[2] = L".";
        } else if (!error && (module = ondrix_load_file_(full)) == NULL) {
            error = GetLastError();
        }
        if (error == ERROR_BAD_EXE_FORMAT) {
            part[0] = L"ONDRIX.dll in ";
            part[2] = L" does not match this program (error 193): 64-bit Office needs x64\\ONDRIX.dll; "
                      L"VB6 and 32-bit Office need x86\\ONDRIX.dll.";
        } else if (error) {
            part[0] = L"ONDRIX.dll in ";
            part[2] = L" could not be loaded (error ";
            part[4] = L").";
        }
    }
    if (part[4][0]) {
        i = sizeof number / sizeof number[0];
        do {
            number[--i] = (wchar_t)(L'0' + error % 10);
            error /= 10;
        } while (error && i > 0);
        part[3] = number + i;
        length[3] = sizeof number / sizeof number[0] - i;
    }

    if (message && messageSize > 0) {
        if (!module) {
            for (i = 0; i < 5; ++i) {
                if (i != 1 && i != 3)
                    length[i] = (size_t)lstrlenW(part[i]);
                for (j = 0; j < length[i] && at + 1 < messageSize; ++j)
                    message[at++] = part[i][j];
            }
            /* Never half a surrogate pair at the cut. */
            if (at > 0 && message[at - 1] >= 0xD800 && message[at - 1] < 0xDC00)
                --at;
        }
        message[at] = 0;
    }
    return module;
}

static inline HMODULE OndrixLoad(const char *folder, char *message, size_t messageSize)
{
    wchar_t wideFolder[1024], wideMessage[1536];
    char ansi[4096];
    HMODULE module;
    int got;
    size_t i = 0;

    if (folder && !MultiByteToWideChar(CP_ACP, 0, folder, -1, wideFolder, 1024)) {
        /* Too long to be a folder anyway: its start gives the same answer. */
        got = MultiByteToWideChar(CP_ACP, 0, folder, 1000, wideFolder, 1023);
        wideFolder[got > 0 ? got : 0] = 0;
    }
    module = OndrixLoadW(folder ? wideFolder : NULL, wideMessage, sizeof wideMessage / sizeof wideMessage[0]);
    if (message && messageSize > 0) {
        if (!WideCharToMultiByte(CP_ACP, 0, wideMessage, -1, ansi, (int)sizeof ansi, NULL, NULL))
            ansi[0] = 0;
        /* Cut to fit, never inside a double-byte character. */
        while (ansi[i] && i + 1 < messageSize) {
            if (IsDBCSLeadByte((BYTE)ansi[i])) {
                if (!ansi[i + 1] || i + 2 >= messageSize)
                    break;
                message[i] = ansi[i];
                ++i;
            }
            message[i] = ansi[i];
            ++i;
        }
        message[i] = 0;
    }
    return module;
}
#endif /* _WIN32 */

#endif /* ONDRIX_H */
