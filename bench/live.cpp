// Live captures in ondrix-bench: oxCapture in disk mode, which exists only
// for live captures, on a saved file standing in for the adapter (the disk
// variant), and on a real adapter for scripts/bench-live (--live).
#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>

#include <cinttypes>

#include "ondrix_bench.h"

// For the disk variant this program interposes pcap_create and the calls that
// set up and activate an adapter's handle, for libondrix.so; they go on to
// libpcap for every handle but the stand-in. Everything ONDRIX does per packet
// is its own.

namespace
{
const char *g_standInFile = nullptr; // set while the disk pass runs
pcap_t *g_standIn = nullptr;
volatile sig_atomic_t g_stop = 0; // the live host's
} // namespace

extern "C" pcap_t *pcap_create(const char *source, char *errbuf)
{
    static auto real = reinterpret_cast<decltype(&pcap_create)>(dlsym(RTLD_NEXT, "pcap_create"));
    return g_standInFile ? g_standIn = pcap_open_offline(g_standInFile, errbuf) : real(source, errbuf);
}

// A saved file comes activated, never waits, and takes any setting for an
// adapter, which changes nothing.
#define BENCH_STAND_IN(name, params, args)                                                                   \
    extern "C" int name params                                                                               \
    {                                                                                                        \
        static auto real = reinterpret_cast<decltype(&name)>(dlsym(RTLD_NEXT, #name));                       \
        return p && p == g_standIn ? 0 : real args;                                                          \
    }
BENCH_STAND_IN(pcap_activate, (pcap_t * p), (p))
BENCH_STAND_IN(pcap_setnonblock, (pcap_t * p, int nonblock, char *errbuf), (p, nonblock, errbuf))
BENCH_STAND_IN(pcap_set_snaplen, (pcap_t * p, int value), (p, value))
BENCH_STAND_IN(pcap_set_promisc, (pcap_t * p, int value), (p, value))
BENCH_STAND_IN(pcap_set_timeout, (pcap_t * p, int value), (p, value))
BENCH_STAND_IN(pcap_set_buffer_size, (pcap_t * p, int value), (p, value))

bench::Pass bench::diskPass(const std::string &file, const std::string &out, void (*loop)(Tally *))
{
    g_standInFile = file.c_str();
    off_t header = -1;
    Pass r = capturePass(SourceLive, ModeDisk, out, 1, [&](SAFEARRAY **, Tally *t) {
        // The file holds its header as soon as the capture has begun.
        struct stat st;
        header = stat(out.c_str(), &st) == 0 ? st.st_size : -1;
        loop(t);
    });
    g_standInFile = nullptr, g_standIn = nullptr;
    if (r.ok() && header != 24)
        r.note = "dump file held " + std::to_string(header) + " bytes after oxBegin, not its 24-byte header";
    return r;
}

bench::Pass bench::liveHost(const std::string &adapter, const std::string &out, int32_t timeoutMs,
                            int32_t buffer, double seconds)
{
    struct sigaction sa = {};
    sa.sa_handler = [](int) { g_stop = 1; }; // no SA_RESTART: a waiting poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    AdapterInfoRecord info;
    int32_t index = 0;
    while (oxGetAdapterInfo(index, &info) == 0 && adapter != info.name)
        ++index;
    if (oxSetCurrentAdapter(index) != 0)
        return Pass{"no adapter " + adapter};
    if (buffer >= 0)
        setParam(ParamKernelBufferSize, buffer);
    uint64_t timeouts = 0;
    std::string failed;
    double end = wallNs() + seconds * 1e9;
    auto loop = [&](SAFEARRAY **a, Tally *t) {
        std::printf("ready 1\n");
        std::fflush(stdout);
        PacketHeaderRecord h;
        int32_t got = 0;
        while (!g_stop && (got = oxCapture(a, &h)) >= 0)
            if (got == 1)
                t->add(h.capturedLength);
            else if (++timeouts, wallNs() > end)
                break;
        failed = got < 0 ? "oxCapture: " + lastError() : "";
    };
    Pass r = capturePass(SourceLive, ModeDisk, out, 1, loop, timeoutMs);
    std::printf("received %" PRIu64 "\ntimeouts %" PRIu64 "\n", r.tally.packets, timeouts);
    r.note = failed + r.note;
    return r;
}
