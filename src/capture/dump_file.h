// The dump file of a disk-mode capture: created by oxBegin, written out while
// the capture runs so that it survives a host that dies, rotated when the
// settings ask for it, and closed by oxEnd.
#pragma once

#include <cstdint>

#include "frame/state.h"

namespace ondrix::dumpFile
{

// Creates the dump file for the open capture (with rotation on, the first of
// this capture's numbered files). False when it can't be created.
bool open();

// Writes out what the writer buffers. False, with "Error writing DUMP File",
// when data was lost.
bool writeOut();

// Appends a packet whose second differs from state.dumpFile.checkSecond:
// starts the next file first when rotation asks for it, and writes out once
// a second. Returns 1, or -1 with the reason in ErrorText.
int32_t appendSlow(const pcap_pkthdr *header, const u_char *data);

// Writes out and closes the writer, if one is open. False when data was lost
// during the capture.
bool close();

} // namespace ondrix::dumpFile

namespace ondrix::rotation
{

// Takes the limits from the settings; with rotation on, numbers this
// capture's files one above the highest already there. False when off.
bool start();

// Whether the packet must go into a new file.
bool due(const pcap_pkthdr *header);

// Creates this capture's file of that number, which becomes the current one.
// Null when it can't be created.
pcap_dumper_t *openFile(uint32_t number);

// Counts a packet written into the current file.
void account(const pcap_pkthdr *header);

// Once the file before the current one is closed: deletes this capture's file
// that no longer belongs to the newest ones kept.
void dropOldest();

} // namespace ondrix::rotation
