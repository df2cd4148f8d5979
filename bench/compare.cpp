// The baselines of ondrix-bench: raw libpcap loops over a saved file, and
// tcpdump copying it.
#include <sys/resource.h>
#include <unistd.h>

#include "ondrix_bench.h"

namespace bench
{

Pass rawPass(const std::string &file, void (*loop)(pcap_t *, Tally *))
{
    char err[PCAP_ERRBUF_SIZE] = "";
    return rawPass(pcap_open_offline(file.c_str(), err), err, loop);
}

// The output file is made before the timing starts: replacing the last
// round's takes milliseconds.
Pass rawDumpPass(const std::string &file, const std::string &out, bool bigBuffer)
{
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t *p = pcap_open_offline(file.c_str(), err);
    static char buffer[1 << 20];
    pcap_dumper_t *d = nullptr;
    if (p && !bigBuffer) {
        d = pcap_dump_open(p, out.c_str());
    } else if (FILE *f = p ? std::fopen(out.c_str(), "wb") : nullptr) {
        setvbuf(f, buffer, _IOFBF, sizeof buffer);
        if (!(d = pcap_dump_fopen(p, f)))
            std::fclose(f);
    }
    if (p && !d)
        pcap_close(p), p = nullptr, std::snprintf(err, sizeof err, "can't write %s", out.c_str());
    return rawPass(p, err, [d](pcap_t *p, Tally *t) {
        bench_loop_raw_dump(p, d, t);
        pcap_dump_close(d); // the last buffer's write belongs to the cost
    });
}

// The whole process, start to exit, and the shell that execs it (under a
// millisecond), in the CPU time the kernel counts for them. It counts no
// packets. As root tcpdump would drop to its own user, and couldn't write here.
Pass tcpdumpPass(const std::string &file, const std::string &out)
{
    std::string command = "exec tcpdump -n -r '" + file + "' -w '" + out + "'" +
                          (geteuid() == 0 ? " -Z root" : "") + " >/dev/null 2>&1";
    rusage before, after;
    getrusage(RUSAGE_CHILDREN, &before);
    Pass r{std::system(command.c_str()) == 0 ? "" : "tcpdump failed"};
    getrusage(RUSAGE_CHILDREN, &after);
    auto ns = [](const timeval &t) { return double(t.tv_sec) * 1e9 + double(t.tv_usec) * 1e3; };
    r.ns = ns(after.ru_utime) + ns(after.ru_stime) - ns(before.ru_utime) - ns(before.ru_stime);
    return r;
}

} // namespace bench
