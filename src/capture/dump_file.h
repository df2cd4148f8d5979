// The dump file of a disk-mode capture: created by oxBegin, written out while
// the capture runs so that it survives a host that dies, rotated when the
// settings ask for it, and closed by oxEnd.
#pragma once

#include <cstdint>

#include "frame/state.h"

namespace ondrix::dumpFile
{

// Creates the dump file for the open capture (with rotation on, the first of
// this capture's numbered files). False, with the reason in ErrorText, when
// it can't be created.
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

// Takes the limits from the settings, fixes the name as a full path, and
// makes this capture's first file, numbered one above the highest already
// there. False, with the reason in ErrorText, when it can't.
bool start();

// Whether the packet must go into a new file.
bool due(const pcap_pkthdr *header);

// Once the current file is closed: deletes this capture's oldest files that
// would pass the count, and makes the next file, the new state.dumpWriter.
// False, with the reason in ErrorText and no writer, when it can't.
bool makeNext();

// Counts a packet written into the current file.
void account(const pcap_pkthdr *header);

// At the end of the capture: deletes what is beyond the count (files that
// could not be deleted before), and forgets this capture's files.
void finish();

} // namespace ondrix::rotation
