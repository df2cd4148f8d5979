// Controls of the instant pcap stand-in (instant_pcap.cpp), which the Windows
// benchmark loads as wpcap.dll in place of the capture library.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Seconds added to the fixed packet's timestamp on every read: 0 (the
// default) keeps one second for every packet; 1 makes each packet a new second.
void instant_pcap_clock_step(int32_t seconds);

// Records and bytes pcap_dump has taken since the last pcap_dump_open.
uint64_t instant_pcap_dumped_records(void);
uint64_t instant_pcap_dumped_bytes(void);

// Packets read by pcap_next_ex, over all handles, since the process began.
uint64_t instant_pcap_reads(void);

#ifdef __cplusplus
}
#endif
