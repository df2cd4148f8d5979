// ondrix-winbench: what ONDRIX.dll adds per packet over a raw pcap_next_ex loop,
// both reading through the same instant pcap stand-in (wpcap.dll beside this
// program), with the system's own oleaut32 and msvcrt. The host loops and the
// alternating rounds are ondrix-bench's (bench_host.h).
//
// Times are the process's CPU time where it can be read finely enough: under
// Wine GetProcessTimes moves in 10 ms steps, a whole pass, so on Linux the
// program asks the kernel's process clock, in nanoseconds. Elsewhere they are
// QueryPerformanceCounter's wall time; the run says which.
#include "bench_host.h"

#include <cinttypes>

#include "instant_pcap.h"

using namespace bench;

namespace
{

uint64_t g_packets = 0;  // a pass's
bool g_cpuClock = false; // the Linux process clock can be read

// The Linux kernel's CPU clock of the whole process, by a direct system call:
// valid only where Wine runs this program on Linux (under an i386 emulator
// the call reaches the emulator's process clock, which is what it costs).
bool linuxProcessCpuNs(double *ns)
{
    constexpr intptr_t kProcessCpuClock = 2; // CLOCK_PROCESS_CPUTIME_ID
    intptr_t t[2] = {0, 0}, r = -1;          // seconds and nanoseconds, register-wide as the kernel has them
#if defined(__x86_64__)
    asm volatile("syscall"
                 : "=a"(r)
                 : "0"(intptr_t{228} /* clock_gettime */), "D"(kProcessCpuClock), "S"(t)
                 : "rcx", "r11", "memory");
#elif defined(__i386__)
    asm volatile("int $0x80"
                 : "=a"(r)
                 : "0"(intptr_t{265} /* clock_gettime */), "b"(kProcessCpuClock), "c"(t)
                 : "memory");
#endif
    *ns = double(t[0]) * 1e9 + double(t[1]);
    return r == 0;
}

// Wine tells its host system through ntdll (Windows has no such export); on
// Linux the times come from the process clock there.
std::string hostSystem()
{
    auto host = reinterpret_cast<void(__cdecl *)(const char **, const char **)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_host_version")));
    const char *system = "", *release = "";
    if (host)
        host(&system, &release);
    double ns;
    g_cpuClock = host && std::strcmp(system, "Linux") == 0 && linuxProcessCpuNs(&ns);
    return host ? std::string("Wine on ") + system + " " + release : "Windows";
}

// A 16-byte record header and the 60-byte frame for every packet.
const char *dumpedAll()
{
    bool all = instant_pcap_dumped_records() == g_packets && instant_pcap_dumped_bytes() == g_packets * 76;
    return all ? "" : "the dump writer did not take every packet";
}

template <class Loop> Pass standInPass(Loop loop)
{
    char err[PCAP_ERRBUF_SIZE] = "", name[] = "\\Device\\NPF_{00000000-0000-0000-0000-000000000001}";
    instant_pcap_packets(g_packets);
    return rawPass(pcap_open_live(name, 65536, 1, 1000, err), err, loop);
}

Pass rawDumpPass()
{
    Pass r = standInPass([](pcap_t *p, Tally *t) {
        pcap_dumper_t *d = pcap_dump_open(p, "winbench.cap"); // the stand-in's: no file, no cost
        bench_loop_raw_dump(p, d, t);
        pcap_dump_close(d);
    });
    r.note += dumpedAll();
    return r;
}

// clockStep 1 puts each packet in a new second.
template <class Loop> Pass ondrixPass(int32_t mode, Loop loop, int32_t clockStep = 0)
{
    instant_pcap_packets(g_packets);
    instant_pcap_clock_step(clockStep);
    Pass r = capturePass(SourceLive, mode, "winbench.cap", 65536, loop);
    instant_pcap_clock_step(0);
    r.note += mode == ModeDisk ? dumpedAll() : "";
    return r;
}

__attribute__((noinline)) void loopLockPair(SAFEARRAY *sa, Tally *t)
{
    for (; t->packets < g_packets; ++t->packets) {
        SafeArrayLock(sa);
        SafeArrayUnlock(sa);
    }
}

Pass lockPass()
{
    HostArray array(65536);
    Pass r = timed([&](Tally *t) { loopLockPair(*array.var(), t); });
    r.note = array.locks() == 0 ? "" : "array left locked";
    return r;
}

} // namespace

double bench::wallNs()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c), QueryPerformanceFrequency(&f);
    return double(c.QuadPart) * 1e9 / double(f.QuadPart);
}

double bench::cpuNs()
{
    double ns = 0;
    return g_cpuClock && linuxProcessCpuNs(&ns) ? ns : wallNs();
}

int main(int argc, char **argv)
{
    uint64_t packets = 1000000;
    int rounds = 7;
    for (int i = 1; i < argc; i += 2) {
        unsigned long long value = i + 1 < argc ? std::strtoull(argv[i + 1], nullptr, 10) : 0;
        if (value > 0 && std::strcmp(argv[i], "--packets") == 0)
            packets = value;
        else if (value > 0 && value <= 1000 && std::strcmp(argv[i], "--rounds") == 0)
            rounds = int(value);
        else
            return std::fprintf(stderr, "usage: ondrix-winbench [--packets N] [--rounds R]\n"), 2;
    }
    std::string system = hostSystem();
    if (OndrixInit() != 1) {
        std::fprintf(stderr, "ondrix-winbench: OndrixInit did not find the stand-in's adapter: %s\n",
                     lastError().c_str());
        return 1;
    }
    const char *tz = std::getenv("TZ");
    std::printf("ondrix-winbench: %s, %s\n%" PRIu64 " packets of 60 bytes per variant, %d rounds, variants "
                "alternating; TZ %s\ntimes: %s\n",
                sizeof(void *) == 8 ? "x64" : "x86", system.c_str(), packets, rounds, tz ? tz : "unset",
                g_cpuClock ? "CPU time of the process (the Linux process clock)"
                           : "wall time (QueryPerformanceCounter): no fine CPU clock here");

    auto memsafe = [](SAFEARRAY **a, Tally *t) { bench_loop_ox_memsafe(a, 60, t); };
    auto disk = [](SAFEARRAY **, Tally *t) { bench_loop_ox_disk(t); };
    const std::vector<Variant> vs = {
        {"raw", "raw pcap_next_ex", "", Check::Sum, [] { return standInPass(bench_loop_raw); }},
        {"raw-memcpy", "raw + memcpy", "", Check::Sum, [] { return standInPass(bench_loop_raw_memcpy); }},
        {"mem", "oxCaptureMem", "raw", Check::Sum, [] { return ondrixPass(ModeCopy, bench_loop_ox_mem); }},
        {"alias", "oxCapture alias", "raw", Check::Sum,
         [] { return ondrixPass(ModeAlias, bench_loop_ox_capture); }},
        {"copy", "oxCapture copy", "raw-memcpy", Check::Sum,
         [] { return ondrixPass(ModeCopy, bench_loop_ox_capture); }},
        {"memsafe", "oxCaptureMemSafe", "raw-memcpy", Check::Sum,
         [=] { return ondrixPass(ModeCopy, memsafe); }},
        {"raw-dump", "raw + pcap_dump", "", Check::Sum, rawDumpPass},
        {"disk", "oxCapture disk", "raw-dump", Check::Count, [=] { return ondrixPass(ModeDisk, disk); }},
        {"mem-sec", "oxCaptureMem, new second each", "raw", Check::Sum,
         [] { return ondrixPass(ModeCopy, bench_loop_ox_mem, 1); }},
        {"lock", "SafeArrayLock + Unlock pair", "", Check::Count, lockPass},
    };
    // One short untimed round: code loaded (and translated, under an
    // emulator), the time zone read, the heap warm.
    std::vector<Figures> fig;
    g_packets = std::min<uint64_t>(packets, 100000);
    if (!runRounds(vs, 1, g_packets, fig))
        return 1;
    g_packets = packets;
    double cpuStart = cpuNs(), wallStart = wallNs();
    bool ok = runRounds(vs, rounds, packets, fig);
    double runCpu = cpuNs() - cpuStart, runWall = wallNs() - wallStart;
    std::printf("\n");
    printTable(vs, fig);
    // The lock pair alone, as a share of what each delivery that takes it adds.
    double lock = median(fig[indexOf(vs, "lock")].ns);
    std::printf("\nlock pair / added:");
    for (const char *id : {"mem", "alias", "copy", "memsafe"})
        std::printf(" %s %.0f%%", id, 100 * lock / median(fig[indexOf(vs, id)].added));
    std::printf("\nthe process had a CPU for %.0f%% of the %.1f s of timed rounds\n", 100 * runCpu / runWall,
                runWall / 1e9);
    OndrixTerminate();
    return ok ? 0 : 1;
}
