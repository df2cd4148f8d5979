// Controls of the instant pcap stand-in (instant_pcap.cpp), which the Windows
// benchmark loads as wpcap.dll in place of the capture library.
#pragma once

#include <stdint.h>

extern "C" {
// Seconds added to the frame's timestamp on every read: 0 (the default), or 1 for a new second each.
void instant_pcap_clock_step(int32_t seconds);
// Reads hand out the frame n times more, then report the end of a saved file
// as a loop over one expects. Until called, reads never end.
void instant_pcap_packets(uint64_t n);
// Records and bytes pcap_dump has taken since the last pcap_dump_open.
uint64_t instant_pcap_dumped_records(void);
uint64_t instant_pcap_dumped_bytes(void);
}
