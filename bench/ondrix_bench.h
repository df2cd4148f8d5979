// The parts of ondrix-bench (Linux) kept in files of their own.
#pragma once

#include "bench_host.h"

namespace bench
{
// compare.cpp: raw libpcap loops and tcpdump over a saved file; bigBuffer gives
// the dump a 1 MiB stdio buffer, as ONDRIX's has.
Pass rawPass(const std::string &file, void (*loop)(pcap_t *, Tally *));
Pass rawDumpPass(const std::string &file, const std::string &out, bool bigBuffer);
Pass tcpdumpPass(const std::string &file, const std::string &out); // tcpdump on the PATH
// live.cpp: disk mode (loop: bench_loop_ox_disk or _disksafe) on the file standing in for the adapter, and
// on an adapter until SIGINT, SIGTERM or the seconds pass (printing "ready 1"
// when it has begun, then "received N" and "timeouts N").
Pass diskPass(const std::string &file, const std::string &out, void (*loop)(Tally *) = bench_loop_ox_disk);
Pass liveHost(const std::string &adapter, const std::string &out, int32_t timeoutMs, int32_t buffer,
              double seconds);
} // namespace bench
