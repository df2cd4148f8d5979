// The narrow layer through which the logic reaches the platform: string
// allocation, array lock and unlock, code-page conversion, local time, and
// the parts of opening and reading a live capture and of writing its dump
// that differ between the Windows pcap port and libpcap, and the folder
// listing and file deletion that dump-file rotation needs.
#pragma once

#include <cstdint>

#include "frame/state.h"
#include "ondrix.h"
#include "frame/pcap_api.h"

namespace ondrix::platform
{

// A new string holding len bytes as they are (SysAllocStringByteLen); null when out of memory.
BSTR allocAnsiString(const char *bytes, uint32_t len);
// Frees a string the host handed in; null is fine.
void freeString(BSTR s);

// One lock level on a host array descriptor, and its release. Inline on both
// platforms, as every aliasing or copying delivery takes them: on Windows the
// oleaut32 calls themselves, without a call frame of our own around each.
#ifdef _WIN32
inline void lockArray(SAFEARRAY *array) { SafeArrayLock(array); }
inline void unlockArray(SAFEARRAY *array) { SafeArrayUnlock(array); }
#else
// The POSIX stand-in is the lock count alone.
inline void lockArray(SAFEARRAY *array) { ++array->cLocks; }
inline void unlockArray(SAFEARRAY *array) { --array->cLocks; }
#endif

// Converts a zero-terminated wide string to the ANSI code page into out
// (outSize bytes, terminator included). False for a null string or a text
// that does not fit; characters the code page lacks are replaced, not refused.
bool toAnsi(const OLECHAR *text, char *out, int outSize);

// Local wall-clock date and time of seconds since 1970 UTC, daylight saving
// as the C runtime's rules have it at that instant (not as it is today).
struct LocalTime {
    int32_t year, month, day; // month and day from 1
    int32_t hour, minute, second;
};
// False when the seconds can't be converted.
bool localTime(int64_t seconds, LocalTime *local);

// Opens a live adapter with snap length, promiscuous mode and read time-out
// (which the capture driver only keeps by handing packets over late;
// awaitPacket keeps it instead), and
// requests the driver buffer when bufferSize > 0. Null on failure, with
// the capture library's text in errbuf. *bufferRefused tells whether the
// buffer request was refused, which does not stop the open.
pcap_t *openLive(const char *name, int32_t snapLength, int32_t promiscuous, int32_t timeoutMs,
                 int32_t bufferSize, char *errbuf, bool *bufferRefused);

// Resizes the driver buffer of an open capture: 0 or more on success.
int setDriverBuffer(pcap_t *handle, int32_t bytes);

// After a read of a live handle opened by openLive found nothing: reads on
// until a packet comes, which it returns within milliseconds, or the host's
// read time-out has passed (0 then; a time-out of 0 waits for a packet).
int awaitPacket(pcap_t *handle, pcap_pkthdr **header, const u_char **data, int32_t readTimeoutMs);

// Creates the dump file for an open capture (pcap_dump_open's semantics).
pcap_dumper_t *openDump(pcap_t *handle, const char *fileName);

// Writes out what the dump writer still buffers; false when data was lost
// since the last call.
bool flushDump(pcap_dumper_t *dumper);

// Where the file's own name begins in a path, after its folder.
const char *fileNamePart(const char *path);
// The full path of a file name, made once so that the current folder may
// change afterwards (Windows also drops trailing spaces and dots, as it does
// for every name). False when it can't be made, or exceed outSize bytes.
bool fullPath(const char *name, char *out, size_t outSize);
// Calls found(name, context) for each entry of a folder, given as a path
// that ends in a separator, or "" for the current folder. A folder that
// can't be read has no entries.
void listFolder(const char *folder, void (*found)(const char *name, void *context), void *context);
// Whether two names of `length` bytes stand for the same file in a folder
// (on Windows by the system's own rule, case ignored for every letter).
bool sameName(const char *a, const char *b, size_t length);
// Creates an empty file where none of that name exists (O_EXCL, CREATE_NEW).
enum class NewFile { Created, Exists, NoFolder, Failed };
NewFile createNew(const char *path);
// Deletes a file; false when it is still there (on Windows, held open).
bool deleteFile(const char *path);

} // namespace ondrix::platform
