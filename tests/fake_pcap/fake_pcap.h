/*
 * Control side of the scriptable pcap double. Tests script adapter lists,
 * failures, packets and answers, and ask what was called and what is open.
 */
#ifndef FAKE_PCAP_H
#define FAKE_PCAP_H

#include <stdint.h>

#ifdef _WIN32
#ifdef FAKE_PCAP_BUILD
#define FAKE_API __declspec(dllexport)
#else
#define FAKE_API __declspec(dllimport)
#endif
#else
#define FAKE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets the script, the call log and every open object's record. */
FAKE_API void fake_reset(void);

/* Adds an adapter; description may be null. Returns its index. */
FAKE_API int fake_add_adapter(const char *name, const char *description);
/* Adds an address entry; mask4to7 (4 bytes, or null for no netmask) fills bytes 4-7 of its netmask. */
FAKE_API void fake_add_address(int adapter, int family, const unsigned char *mask4to7);

/* Adds an IP address, version 4 (4 bytes) or 6 (16 bytes), with a netmask of
   prefixLength bits. */
FAKE_API void fake_add_ip(int adapter, int version, const unsigned char *bytes, int prefixLength);

/* Sets an adapter's PCAP_IF_* flags (none until set). */
FAKE_API void fake_set_flags(int adapter, uint32_t flags);

/* Makes call number nth (counted from 1 since reset) of function fn fail; 0 fails every call. */
FAKE_API void fake_fail(const char *fn, int nth);
/* What pcap_setbuff, pcap_set_buffer_size, pcap_sendpacket and pcap_dump_flush return. */
FAKE_API void fake_set_return(const char *fn, int value);
/* The text pcap_geterr returns and failing calls write into their error buffer. */
FAKE_API void fake_set_error(const char *text);
/* What pcap_datalink answers: 1, Ethernet, until set. */
FAKE_API void fake_set_linktype(int linkType);

/* Queues a packet for pcap_next_ex. */
FAKE_API void fake_push_packet(const unsigned char *data, uint32_t caplen, uint32_t len, uint32_t sec,
                               uint32_t usec);
/* Queues a bare pcap_next_ex result: 0 time-out, -1 error, -2 end of file.
   With an empty queue a live handle times out and a saved file ends. A
   blocking live handle (Windows) first waits out the time-out it was opened
   with, as the capture driver does. */
FAKE_API void fake_push_result(int result);
/* The next packet queued arrives ms after it is queued: until then reads
   find nothing. */
FAKE_API void fake_delay_next(int ms);
/* POSIX: gives live handles a selectable descriptor, one end of a pipe, of
   which each pcap_next_ex takes a byte; fake_wake writes one, fake_hang_up
   closes the other end (after 100 more reads pcap_next_ex fails). No-ops on
   Windows. */
FAKE_API void fake_selectable(void);
FAKE_API void fake_wake(void);
FAKE_API void fake_hang_up(void);
/* What pcap_stats reports for a live handle; a saved file refuses. */
FAKE_API void fake_set_stats(uint32_t received, uint32_t dropped, uint32_t interfaceDropped);

/* Number of calls of fn since reset. */
FAKE_API int fake_calls(const char *fn);
/* Integer argument k (from 0) of the last call of fn, 0 if none. */
FAKE_API int64_t fake_arg(const char *fn, int k);
/* Text argument of the last call of fn into buf; returns its length, -1 if none. */
FAKE_API int fake_str_arg(const char *fn, char *buf, int size);
/* Comma-separated names of every call since reset; returns the full length. */
FAKE_API int fake_call_log(char *buf, int size);

/* Objects handed out and not yet released. */
FAKE_API int fake_open_handles(void);
FAKE_API int fake_open_dumpers(void);
FAKE_API int fake_open_lists(void);
FAKE_API int fake_open_programs(void);

/* Packets written with pcap_dump, and frames sent with pcap_sendpacket:
   copies packet i into buf and returns its length, -1 if there is none. */
FAKE_API int fake_dumped(int i, unsigned char *buf, int size);
FAKE_API int fake_sent(int i, unsigned char *buf, int size);

#ifdef __cplusplus
}
#endif

#endif
