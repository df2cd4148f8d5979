// ondrix-winbench: what ONDRIX.dll adds per packet over a raw pcap_next_ex loop,
// both reading through the same instant pcap stand-in (wpcap.dll beside this
// program), with the system's own oleaut32 and msvcrt. The variants run in one
// process and alternate: each round starts one variant further along, so a
// noisy machine moves every figure alike.
//
//   ondrix-winbench [--packets N] [--rounds R]
//
// The host side is made as a VB host has it: byte arrays by SafeArrayCreate,
// a header record on the stack, parameters as VT_I2 variants.
//
// Times are the process's CPU time where it can be read finely enough, else
// wall time. Under Wine, GetProcessTimes advances in 10 ms steps (as coarse
// as a whole pass of a million instant packets), so on Linux the program asks
// the kernel's process clock directly, which counts in nanoseconds; on
// Windows, and wherever that fails, QueryPerformanceCounter's wall time is
// used. Wall time is shown beside, and the run says which clock it used.
#include "ondrix.h"

#include <pcap.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "instant_pcap.h"

namespace
{

constexpr uint32_t kFrameBytes = 60;       // what the stand-in hands out
constexpr uint32_t kRecordBytes = 16 + 60; // its dump record: header and bytes
constexpr uint32_t kArrayBytes = 65536;    // the host's buffer for the copying deliveries

// ---- host values ----

// A byte array as VB's ReDim makes it: descriptor and data in separate blocks.
class HostArray
{
  public:
    explicit HostArray(uint32_t count)
    {
        SAFEARRAYBOUND bound = {count, 0};
        sa_ = SafeArrayCreate(VT_UI1, 1, &bound);
        if (!sa_) {
            std::fprintf(stderr, "ondrix-winbench: SafeArrayCreate failed\n");
            std::exit(1);
        }
        own_ = sa_->pvData;
        count_ = count;
    }
    // An aliasing delivery leaves the array on the capture library's bytes:
    // hand the array its own block back before oleaut32 frees it.
    ~HostArray()
    {
        sa_->pvData = own_;
        sa_->rgsabound[0].cElements = count_;
        SafeArrayDestroy(sa_);
    }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;

    SAFEARRAY **var() { return &sa_; }
    SAFEARRAY *descriptor() { return sa_; }
    uint8_t *own() { return static_cast<uint8_t *>(own_); }
    ULONG locks() const { return sa_->cLocks; }

  private:
    SAFEARRAY *sa_;
    void *own_;
    uint32_t count_;
};

// oxSetParam as VB calls it with a small literal: an Integer in a Variant.
int32_t setParam(int32_t code, int16_t value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return oxSetParam(code, &v);
}

std::string lastError()
{
    BSTR s = oxGetErrorDescription();
    std::string text = s ? std::string(reinterpret_cast<const char *>(s), SysStringByteLen(s)) : "";
    SysFreeString(s);
    return text;
}

// ---- the measured loops ----
// Each takes n packets and reads their length and last byte, as a host would.

struct Tally {
    uint64_t packets = 0;
    uint64_t sum = 0;
};

__attribute__((noinline)) Tally loopRaw(pcap_t *p, uint64_t n)
{
    Tally t;
    pcap_pkthdr *h;
    const u_char *data;
    while (t.packets < n && pcap_next_ex(p, &h, &data) == 1) {
        ++t.packets;
        t.sum += h->caplen + data[h->caplen - 1];
    }
    return t;
}

__attribute__((noinline)) Tally loopRawMemcpy(pcap_t *p, uint8_t *to, uint64_t n)
{
    Tally t;
    pcap_pkthdr *h;
    const u_char *data;
    while (t.packets < n && pcap_next_ex(p, &h, &data) == 1) {
        std::memcpy(to, data, h->caplen);
        ++t.packets;
        t.sum += h->caplen + to[h->caplen - 1];
    }
    return t;
}

__attribute__((noinline)) Tally loopRawDump(pcap_t *p, pcap_dumper_t *d, uint64_t n)
{
    Tally t;
    pcap_pkthdr *h;
    const u_char *data;
    while (t.packets < n && pcap_next_ex(p, &h, &data) == 1) {
        pcap_dump(reinterpret_cast<u_char *>(d), h, data);
        ++t.packets;
        t.sum += h->caplen + data[h->caplen - 1];
    }
    return t;
}

// oxCaptureMem, and oxCapture in alias, copy and disk mode: the same host
// loop, one instance per export so each call stays direct. In disk mode the
// array is passed and not looked at; the length read is the record's.
template <int32_t(ONDRIX_CALL *Capture)(SAFEARRAY **, PacketHeaderRecord *)>
__attribute__((noinline)) Tally loopWithHeader(SAFEARRAY **a, uint64_t n)
{
    Tally t;
    PacketHeaderRecord h;
    while (t.packets < n && Capture(a, &h) == 1) {
        ++t.packets;
        t.sum +=
            uint32_t(h.capturedLength) + static_cast<const uint8_t *>((*a)->pvData)[h.capturedLength - 1];
    }
    return t;
}

// oxCaptureMemSafe reports no length: the host knows its frames' size.
__attribute__((noinline)) Tally loopMemSafe(SAFEARRAY **a, uint64_t n)
{
    Tally t;
    while (t.packets < n && oxCaptureMemSafe(a) == 1) {
        ++t.packets;
        t.sum += kFrameBytes + static_cast<const uint8_t *>((*a)->pvData)[kFrameBytes - 1];
    }
    return t;
}

__attribute__((noinline)) Tally loopLockPair(SAFEARRAY *sa, uint64_t n)
{
    Tally t;
    for (; t.packets < n; ++t.packets) {
        SafeArrayLock(sa);
        SafeArrayUnlock(sa);
    }
    return t;
}

// ---- timing ----

double g_tickNs = 0; // nanoseconds per QueryPerformanceCounter tick

double wallNs()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) * g_tickNs;
}

// The Linux kernel's CPU clock of the whole process, by a direct system call:
// valid only where Wine runs this program on Linux (under an i386 emulator
// the call reaches the emulator's process clock, which is what it costs).
#if defined(__x86_64__) || defined(__i386__)
bool linuxProcessCpuNs(double *ns)
{
    constexpr intptr_t kProcessCpuClock = 2; // CLOCK_PROCESS_CPUTIME_ID (register-wide)
    intptr_t r;
#if defined(__x86_64__)
    struct {
        int64_t seconds, nanoseconds;
    } t;
    asm volatile("syscall"
                 : "=a"(r)
                 : "0"(intptr_t{228} /* clock_gettime */), "D"(kProcessCpuClock), "S"(&t)
                 : "rcx", "r11", "memory");
#else
    struct {
        int32_t seconds, nanoseconds;
    } t;
    asm volatile("int $0x80"
                 : "=a"(r)
                 : "0"(intptr_t{265} /* clock_gettime */), "b"(kProcessCpuClock), "c"(&t)
                 : "memory");
#endif
    if (r != 0)
        return false;
    *ns = double(t.seconds) * 1e9 + double(t.nanoseconds);
    return true;
}
#else
bool linuxProcessCpuNs(double *) { return false; }
#endif

bool g_cpuClock = false; // the process clock above can be read

// Wine tells its host system through ntdll; Windows has no such export.
bool wineOnLinux(std::string *platform)
{
    using Version = const char *(__cdecl *)();
    using HostVersion = void(__cdecl *)(const char **, const char **);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto version =
        reinterpret_cast<Version>(reinterpret_cast<void *>(GetProcAddress(ntdll, "wine_get_version")));
    auto host = reinterpret_cast<HostVersion>(
        reinterpret_cast<void *>(GetProcAddress(ntdll, "wine_get_host_version")));
    if (!version || !host) {
        *platform = "Windows";
        return false;
    }
    const char *system = nullptr, *release = nullptr;
    host(&system, &release);
    *platform =
        std::string("Wine ") + version() + " on " + (system ? system : "?") + " " + (release ? release : "");
    return system && std::strcmp(system, "Linux") == 0;
}

double cpuNs()
{
    double ns = 0;
    return g_cpuClock && linuxProcessCpuNs(&ns) ? ns : wallNs();
}

struct Pass {
    bool ok = false;
    Tally tally;
    double ns = 0;     // the loop's CPU time (wall time where there is no CPU clock)
    double wallNs = 0; // the loop's wall time
    std::string note;
};

template <class F> void timed(Pass &r, F loop)
{
    double cpu = cpuNs(), wall = wallNs();
    r.tally = loop();
    r.ns = cpuNs() - cpu;
    r.wallNs = wallNs() - wall;
}

// ---- running one variant once ----

enum class Kind { Raw, RawMemcpy, RawDump, Mem, Alias, Copy, MemSafe, Disk, MemNewSecond, LockPair };

pcap_t *openRaw(Pass &r)
{
    char err[PCAP_ERRBUF_SIZE] = "";
    pcap_t *p = pcap_open_live("\\Device\\NPF_{00000000-0000-0000-0000-000000000001}", 65536, 1, 1000, err);
    if (!p)
        r.note = std::string("pcap_open_live: ") + err;
    return p;
}

Pass runRaw(Kind kind, uint64_t n)
{
    Pass r;
    HostArray array(kArrayBytes);
    pcap_t *p = openRaw(r);
    if (!p)
        return r;
    if (kind == Kind::Raw) {
        timed(r, [&] { return loopRaw(p, n); });
    } else if (kind == Kind::RawMemcpy) {
        timed(r, [&] { return loopRawMemcpy(p, array.own(), n); });
    } else {
        pcap_dumper_t *d = pcap_dump_open(p, "winbench.cap");
        if (!d) {
            r.note = "pcap_dump_open failed";
            pcap_close(p);
            return r;
        }
        timed(r, [&] {
            Tally t = loopRawDump(p, d, n);
            pcap_dump_flush(d);
            pcap_dump_close(d);
            return t;
        });
        if (instant_pcap_dumped_records() != n || instant_pcap_dumped_bytes() != n * kRecordBytes)
            r.note = "the dump writer did not take every packet";
    }
    pcap_close(p);
    r.ok = r.note.empty();
    return r;
}

Pass runOndrix(Kind kind, uint64_t n)
{
    Pass r;
    HostArray array(kArrayBytes);
    int16_t mode = kind == Kind::Copy ? ModeCopy : kind == Kind::Disk ? ModeDisk : ModeAlias;
    if (setParam(ParamCaptureSource, SourceLive) != 0 || setParam(ParamCaptureMode, mode) != 0 ||
        oxBegin(1000) != 0) {
        r.note = "oxBegin: " + lastError();
        return r;
    }
    uint64_t readsBefore = instant_pcap_reads();
    if (kind == Kind::MemNewSecond)
        instant_pcap_clock_step(1);
    switch (kind) {
    case Kind::Mem:
    case Kind::MemNewSecond:
        timed(r, [&] { return loopWithHeader<oxCaptureMem>(array.var(), n); });
        break;
    case Kind::MemSafe:
        timed(r, [&] { return loopMemSafe(array.var(), n); });
        break;
    case Kind::Disk:
        timed(r, [&] {
            Tally t = loopWithHeader<oxCapture>(array.var(), n);
            if (oxEnd() != 0) // writes out and closes the dump: part of the cost, as for the raw dump
                r.note = "oxEnd: " + lastError();
            return t;
        });
        break;
    default:
        timed(r, [&] { return loopWithHeader<oxCapture>(array.var(), n); });
        break;
    }
    instant_pcap_clock_step(0);
    uint64_t reads = instant_pcap_reads() - readsBefore;
    if (kind != Kind::Disk && oxEnd() != 0)
        r.note = "oxEnd: " + lastError();
    if (r.tally.packets != n)
        r.note = std::to_string(r.tally.packets) + " packets delivered: " + lastError();
    else if (reads != n)
        r.note = std::to_string(reads) + " packets read for " + std::to_string(n) + " delivered";
    else if (array.locks() != 0)
        r.note = "array left locked";
    else if (kind == Kind::Disk &&
             (instant_pcap_dumped_records() != n || instant_pcap_dumped_bytes() != n * kRecordBytes))
        r.note = "the dump writer did not take every packet";
    r.ok = r.note.empty();
    return r;
}

Pass runLockPair(uint64_t n)
{
    Pass r;
    HostArray array(kArrayBytes);
    timed(r, [&] { return loopLockPair(array.descriptor(), n); });
    r.ok = array.locks() == 0;
    if (!r.ok)
        r.note = "array left locked";
    return r;
}

// ---- the variants ----

struct Variant {
    Kind kind;
    const char *id;
    const char *title;
    const char *baseline; // id of the raw loop it is compared with, or null
    bool checksum;        // reads packet bytes: its sum must be the raw loop's
    bool locks;           // its path takes the array lock pair once a packet
};

const Variant kVariants[] = {
    {Kind::Raw, "raw", "raw pcap_next_ex", nullptr, true, false},
    {Kind::RawMemcpy, "raw-memcpy", "raw + memcpy", nullptr, true, false},
    {Kind::Mem, "mem", "oxCaptureMem", "raw", true, true},
    {Kind::Alias, "alias", "oxCapture alias", "raw", true, true},
    {Kind::Copy, "copy", "oxCapture copy", "raw-memcpy", true, true},
    {Kind::MemSafe, "memsafe", "oxCaptureMemSafe", "raw-memcpy", true, true},
    {Kind::RawDump, "raw-dump", "raw + pcap_dump", nullptr, true, false},
    {Kind::Disk, "disk", "oxCapture disk", "raw-dump", false, false},
    {Kind::MemNewSecond, "mem-sec", "oxCaptureMem, new second each", "raw", true, true},
    {Kind::LockPair, "lock", "SafeArrayLock + Unlock pair", nullptr, false, false},
};

// The variant of that id; the raw loop for none.
size_t indexOf(const char *id)
{
    for (size_t i = 0; i < std::size(kVariants); ++i)
        if (id && std::strcmp(kVariants[i].id, id) == 0)
            return i;
    return 0;
}

Pass run(const Variant &v, uint64_t n)
{
    switch (v.kind) {
    case Kind::Raw:
    case Kind::RawMemcpy:
    case Kind::RawDump:
        return runRaw(v.kind, n);
    case Kind::LockPair:
        return runLockPair(n);
    default:
        return runOndrix(v.kind, n);
    }
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Options {
    uint64_t packets = 1000000;
    int rounds = 7;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: ondrix-winbench [--packets N] [--rounds R]\n");
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            usage();
        char *end = nullptr;
        unsigned long long value = std::strtoull(argv[++i], &end, 10);
        if (*end != '\0' || value == 0)
            usage();
        if (a == "--packets")
            o.packets = value;
        else if (a == "--rounds" && value <= 1000)
            o.rounds = static_cast<int>(value);
        else
            usage();
    }
    return o;
}

} // namespace

int main(int argc, char **argv)
{
    Options o = parse(argc, argv);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_tickNs = 1e9 / double(frequency.QuadPart);
    std::string platform;
    double probe;
    g_cpuClock = wineOnLinux(&platform) && linuxProcessCpuNs(&probe);

    if (OndrixInit() != 1) {
        std::fprintf(stderr, "ondrix-winbench: OndrixInit did not find the stand-in's one adapter: %s\n",
                     lastError().c_str());
        return 1;
    }
    const char *tz = std::getenv("TZ");
    std::printf("ondrix-winbench: %s, %s\n%" PRIu64 " packets of %u bytes per variant, %d rounds, variants "
                "alternating; TZ %s\ntimes: %s\n",
                sizeof(void *) == 8 ? "x64" : "x86", platform.c_str(), o.packets, kFrameBytes, o.rounds,
                tz ? tz : "unset",
                g_cpuClock ? "CPU time of the process (the Linux process clock)"
                           : "wall time (QueryPerformanceCounter): no fine CPU clock here");

    // One short untimed pass of each: code loaded (and translated, under an
    // emulator), the time zone read, the heap warm.
    bool failed = false;
    for (const Variant &v : kVariants) {
        Pass p = run(v, std::min<uint64_t>(o.packets, 100000));
        if (!p.ok) {
            std::fprintf(stderr, "ondrix-winbench: %s failed: %s\n", v.id, p.note.c_str());
            failed = true;
        }
    }
    if (failed)
        return 1;

    const size_t count = std::size(kVariants);
    std::vector<std::vector<double>> ns(count), wall(count), ratio(count), added(count);
    double cpuStart = cpuNs(), wallStart = wallNs();
    for (int round = 0; round < o.rounds; ++round) {
        std::vector<Pass> got(count);
        for (size_t k = 0; k < count; ++k) {
            size_t i = (k + size_t(round)) % count; // each round starts one further along
            got[i] = run(kVariants[i], o.packets);
            if (!got[i].ok) {
                std::fprintf(stderr, "ondrix-winbench: %s failed: %s\n", kVariants[i].id,
                             got[i].note.c_str());
                failed = true;
            }
        }
        const Pass &raw = got[indexOf("raw")];
        for (size_t i = 0; i < count; ++i) {
            const Variant &v = kVariants[i];
            if (!got[i].ok)
                continue;
            // Every variant that reads the packets must have seen what the raw loop saw.
            if (v.checksum && got[i].tally.sum != raw.tally.sum) {
                std::fprintf(stderr, "ondrix-winbench: %s read sum %" PRIu64 ", the raw loop %" PRIu64 "\n",
                             v.id, got[i].tally.sum, raw.tally.sum);
                failed = true;
            }
            ns[i].push_back(got[i].ns / double(o.packets));
            wall[i].push_back(got[i].wallNs / double(o.packets));
            const Pass &base = got[indexOf(v.baseline)];
            if (v.baseline && base.ok) {
                ratio[i].push_back(got[i].ns / base.ns);
                added[i].push_back((got[i].ns - base.ns) / double(o.packets));
            }
        }
    }
    double runCpu = cpuNs() - cpuStart, runWall = wallNs() - wallStart;

    // Per packet, the median and lowest over the rounds; ratio and added
    // time are the medians of what each round measured against its baseline.
    const double lock = median(ns[indexOf("lock")]);
    std::printf("\n%-32s %9s %8s %8s %7s %8s %6s  %s\n", "variant", "ns/packet", "lowest", "wall", "ratio",
                "added", "lock%", "against");
    for (size_t i = 0; i < count; ++i) {
        const Variant &v = kVariants[i];
        if (ns[i].empty())
            continue;
        std::printf("%-32s %9.1f %8.1f %8.1f", v.title, median(ns[i]),
                    *std::min_element(ns[i].begin(), ns[i].end()), median(wall[i]));
        if (!ratio[i].empty()) {
            double more = median(added[i]);
            std::printf(" %7.3f %8.1f", median(ratio[i]), more);
            if (v.locks && more > 0)
                std::printf(" %5.0f%%", 100.0 * lock / more);
            else
                std::printf(" %6s", "");
            std::printf("  %s", kVariants[indexOf(v.baseline)].title);
        }
        std::printf("\n");
    }
    std::printf("\nlock%%: the SafeArrayLock + SafeArrayUnlock pair alone (%.1f ns) as a share of what the "
                "variant adds\n",
                lock);
    if (runWall > 0)
        std::printf("the process had a CPU for %.0f%% of the %.1f s of timed rounds\n",
                    100.0 * runCpu / runWall, runWall / 1e9);

    OndrixTerminate();
    return failed ? 1 : 0;
}
