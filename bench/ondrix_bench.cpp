// ondrix-bench: the per-packet cost of ONDRIX against the raw libpcap loops
// it sits on, measured in one run with the variants alternating, so that a
// noisy machine moves every figure alike.
//
//   ondrix-bench [--packets N] [--rounds R] [--dir DIR] [--keep] [--no-tcpdump]
//                [--sets 60,mix,sec]
//   ondrix-bench --only VARIANT --file FILE [--set 60|mix|sec]   one pass (callgrind)
//   ondrix-bench --generate DIR [--packets N] [--sets ...]       input files only
//   ondrix-bench --memory [--packets N] [--passes P]             RSS over P captures
//
// Every variant goes through the real libondrix.so. Disk mode exists only for
// live captures, so for the disk variant this program stands a saved file in
// for the adapter: it interposes pcap_create, the pcap_set_* settings,
// pcap_activate and pcap_setnonblock (see below), which pass through to
// libpcap for every other handle; everything ONDRIX does per packet is real.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_host.h"

extern char **environ;

// ---- a saved file standing in for a live adapter (disk variant only) ----

namespace
{
const char *g_standInFile = nullptr; // set while the disk variant opens its capture
pcap_t *g_standIn = nullptr;

template <class F> F realFunction(const char *name)
{
    void *f = dlsym(RTLD_NEXT, name);
    if (!f) {
        std::fprintf(stderr, "ondrix-bench: no %s in libpcap\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(f);
}
} // namespace

extern "C" pcap_t *pcap_create(const char *source, char *errbuf)
{
    static auto real = realFunction<pcap_t *(*)(const char *, char *)>("pcap_create");
    if (g_standInFile)
        return g_standIn = pcap_open_offline(g_standInFile, errbuf);
    return real(source, errbuf);
}

extern "C" int pcap_activate(pcap_t *p)
{
    static auto real = realFunction<int (*)(pcap_t *)>("pcap_activate");
    return p && p == g_standIn ? 0 : real(p); // a saved file comes activated
}

extern "C" int pcap_setnonblock(pcap_t *p, int nonblock, char *errbuf)
{
    static auto real = realFunction<int (*)(pcap_t *, int, char *)>("pcap_setnonblock");
    return p && p == g_standIn ? 0 : real(p, nonblock, errbuf); // a file never waits
}

// Settings for an adapter: a saved file takes them all, and they change nothing.
#define BENCH_SETTING(name)                                                                                  \
    extern "C" int name(pcap_t *p, int value)                                                                \
    {                                                                                                        \
        static auto real = realFunction<int (*)(pcap_t *, int)>(#name);                                      \
        return p && p == g_standIn ? 0 : real(p, value);                                                     \
    }
BENCH_SETTING(pcap_set_snaplen)
BENCH_SETTING(pcap_set_promisc)
BENCH_SETTING(pcap_set_timeout)
BENCH_SETTING(pcap_set_buffer_size)

namespace
{

// ---- input files ----

constexpr int64_t kBaseSeconds = 1700000000; // 2023-11-14 22:13:20 UTC
constexpr int kPacketsPerSecond = 1000;

enum class Kind { Small, Mix, NewSecond };

struct InputSet {
    std::string id;    // "60", "mix", "sec"
    std::string title; // for the table
    Kind kind;
    std::string path;
};

uint32_t lengthOf(Kind kind, uint64_t i, uint32_t *rng)
{
    if (kind != Kind::Mix)
        return 60;
    // The classic 7:4:1 mix of 60, 594 and 1514 bytes, in a fixed random order.
    *rng = *rng * 1103515245u + 12345u;
    uint32_t pick = (*rng >> 16) % 12;
    (void)i;
    return pick < 7 ? 60 : pick < 11 ? 594 : 1514;
}

void makeFrame(uint8_t *f, uint32_t len, uint64_t i)
{
    static const uint8_t head[] = {
        0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, // Ethernet
        0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x00, 0x00,             // IPv4
        10,   99,   0,    1,    10,   99,   0,    2,                                        // addresses
        0x30, 0x39, 0x30, 0x39, 0x00, 0x00, 0x00, 0x00};                                    // UDP
    std::memcpy(f, head, sizeof head);
    uint16_t ipLen = static_cast<uint16_t>(len - 14), udpLen = static_cast<uint16_t>(len - 34);
    f[16] = uint8_t(ipLen >> 8), f[17] = uint8_t(ipLen);
    f[18] = uint8_t(i >> 8), f[19] = uint8_t(i);
    f[38] = uint8_t(udpLen >> 8), f[39] = uint8_t(udpLen);
    for (uint32_t k = sizeof head; k < len; ++k)
        f[k] = uint8_t(i + k);
}

bool generate(const InputSet &set, uint64_t packets)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
    FILE *out = std::fopen(set.path.c_str(), "wb");
    if (!dead || !out) {
        std::fprintf(stderr, "ondrix-bench: can't write %s: %s\n", set.path.c_str(), std::strerror(errno));
        return false;
    }
    static char buffer[1 << 20];
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    pcap_dumper_t *d = pcap_dump_fopen(dead, out);
    if (!d) {
        std::fprintf(stderr, "ondrix-bench: %s\n", pcap_geterr(dead));
        return false;
    }
    (void)err;
    uint8_t frame[1514];
    uint32_t rng = 1;
    for (uint64_t i = 0; i < packets; ++i) {
        pcap_pkthdr h{};
        h.caplen = h.len = lengthOf(set.kind, i, &rng);
        if (set.kind == Kind::NewSecond) {
            h.ts.tv_sec = kBaseSeconds + static_cast<int64_t>(i);
            h.ts.tv_usec = 500000;
        } else {
            h.ts.tv_sec = kBaseSeconds + static_cast<int64_t>(i / kPacketsPerSecond);
            h.ts.tv_usec = static_cast<suseconds_t>((i % kPacketsPerSecond) * (1000000 / kPacketsPerSecond));
        }
        makeFrame(frame, h.caplen, i);
        pcap_dump(reinterpret_cast<u_char *>(d), &h, frame);
    }
    bool ok = pcap_dump_flush(d) == 0 && !ferror(out);
    pcap_dump_close(d);
    pcap_close(dead);
    return ok;
}

// ---- the measured loops ----
// Each loop takes every packet of one capture and reads its length and its
// last byte, as a host would. They are plain C symbols, so that callgrind
// can count inside them alone (--toggle-collect=bench_loop_*).

struct Tally {
    uint64_t packets = 0;
    uint64_t sum = 0;
};

uint8_t g_scratch[65536];

extern "C" {

__attribute__((noinline)) void bench_loop_raw(pcap_t *p, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        ++t->packets;
        t->sum += h->caplen + data[h->caplen - 1];
    }
}

__attribute__((noinline)) void bench_loop_raw_memcpy(pcap_t *p, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        std::memcpy(g_scratch, data, h->caplen);
        ++t->packets;
        t->sum += h->caplen + g_scratch[h->caplen - 1];
    }
}

__attribute__((noinline)) void bench_loop_raw_dump(pcap_t *p, pcap_dumper_t *d, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        pcap_dump(reinterpret_cast<u_char *>(d), h, data);
        ++t->packets;
        t->sum += h->caplen + data[h->caplen - 1];
    }
}

__attribute__((noinline)) void bench_loop_ox_mem(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    while (oxCaptureMem(a, &h) == 1) {
        ++t->packets;
        t->sum +=
            uint32_t(h.capturedLength) + static_cast<const uint8_t *>((*a)->pvData)[h.capturedLength - 1];
    }
}

// oxCapture in alias and in copy mode: the same host loop.
__attribute__((noinline)) void bench_loop_ox_capture(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    while (oxCapture(a, &h) == 1) {
        ++t->packets;
        t->sum +=
            uint32_t(h.capturedLength) + static_cast<const uint8_t *>((*a)->pvData)[h.capturedLength - 1];
    }
}

// oxCaptureMemSafe reports no length; the host knows it from elsewhere, so
// the tally takes the sum the raw loop found (the checksum still checks the count).
__attribute__((noinline)) void bench_loop_ox_memsafe(SAFEARRAY **a, Tally *t)
{
    while (oxCaptureMemSafe(a) == 1)
        ++t->packets;
}

__attribute__((noinline)) void bench_loop_ox_disk(Tally *t)
{
    PacketHeaderRecord h;
    SAFEARRAY *none = nullptr;
    while (oxCapture(&none, &h) == 1) {
        ++t->packets;
        t->sum += uint32_t(h.capturedLength);
    }
}

} // extern "C"

// ---- running one variant once ----

struct Pass {
    bool ok = false;
    uint64_t packets = 0;
    uint64_t sum = 0;
    double wallNs = 0;
    double cpuNs = 0; // the process's CPU time, user and system: steadier on a shared machine
    std::string note;
};

double nowNs(clockid_t clock = CLOCK_MONOTONIC)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return ts.tv_sec * 1e9 + ts.tv_nsec;
}

struct Stopwatch {
    double wall = nowNs(), cpu = nowNs(CLOCK_PROCESS_CPUTIME_ID);
    void stop(Pass &p) const
    {
        p.cpuNs = nowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu;
        p.wallNs = nowNs() - wall;
    }
};

pcap_t *openFile(const std::string &path)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *p = pcap_open_offline(path.c_str(), err);
    if (!p)
        std::fprintf(stderr, "ondrix-bench: %s\n", err);
    return p;
}

Pass timedRaw(const std::string &path, void (*loop)(pcap_t *, Tally *))
{
    Pass r;
    pcap_t *p = openFile(path);
    if (!p)
        return r;
    Tally t;
    Stopwatch sw;
    loop(p, &t);
    sw.stop(r);
    pcap_close(p);
    r.ok = true, r.packets = t.packets, r.sum = t.sum;
    return r;
}

// A raw dump loop; bigBuffer gives the output file a 1 MiB stdio buffer.
Pass timedRawDump(const std::string &path, const std::string &out, bool bigBuffer)
{
    Pass r;
    pcap_t *p = openFile(path);
    if (!p)
        return r;
    static char buffer[1 << 20];
    pcap_dumper_t *d;
    if (bigBuffer) {
        FILE *f = std::fopen(out.c_str(), "wb");
        if (f)
            setvbuf(f, buffer, _IOFBF, sizeof buffer);
        d = f ? pcap_dump_fopen(p, f) : nullptr;
    } else {
        d = pcap_dump_open(p, out.c_str());
    }
    if (!d) {
        std::fprintf(stderr, "ondrix-bench: can't write %s\n", out.c_str());
        pcap_close(p);
        return r;
    }
    Tally t;
    Stopwatch sw;
    bench_loop_raw_dump(p, d, &t);
    pcap_dump_close(d); // the last buffer's write belongs to the cost
    sw.stop(r);
    pcap_close(p);
    r.ok = true, r.packets = t.packets, r.sum = t.sum;
    return r;
}

bool beginFile(const std::string &path, int32_t mode)
{
    if (bench::setInt(ParamCaptureSource, SourceFile) != 0 || bench::setText(ParamDumpFileName, path) != 0 ||
        oxBegin(1000) != 0) {
        std::fprintf(stderr, "ondrix-bench: oxBegin on %s: %s\n", path.c_str(), bench::lastError().c_str());
        return false;
    }
    // A saved file begins in copy mode; the host may switch afterwards.
    return bench::setInt(ParamCaptureMode, mode) == 0;
}

enum class OxLoop { Mem, Capture, MemSafe };

Pass timedOx(const std::string &path, OxLoop which, int32_t mode, uint32_t arrayCount)
{
    Pass r;
    bench::HostArray array(arrayCount);
    if (!beginFile(path, mode))
        return r;
    Tally t;
    Stopwatch sw;
    if (which == OxLoop::Mem)
        bench_loop_ox_mem(array.var(), &t);
    else if (which == OxLoop::Capture)
        bench_loop_ox_capture(array.var(), &t);
    else
        bench_loop_ox_memsafe(array.var(), &t);
    sw.stop(r);
    oxEnd();
    if (array.locks() != 0) {
        r.note = "array left locked";
        return r;
    }
    r.ok = true, r.packets = t.packets, r.sum = t.sum;
    return r;
}

bool g_haveAdapter = false;

off_t fileSize(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

// oxCapture in disk mode, the saved file standing in for the adapter.
Pass timedOxDisk(const std::string &path, const std::string &out)
{
    Pass r;
    if (!g_haveAdapter) {
        r.note = "no adapter for OndrixInit";
        return r;
    }
    bench::setInt(ParamCaptureSource, SourceLive);
    bench::setInt(ParamCaptureMode, ModeDisk);
    bench::setInt(ParamKernelBufferSize, 0);
    bench::setText(ParamDumpFileName, out);
    g_standInFile = path.c_str();
    int began = oxBegin(1000);
    g_standInFile = nullptr;
    if (began != 0) {
        r.note = "oxBegin: " + bench::lastError();
        g_standIn = nullptr;
        return r;
    }
    // The file holds its header as soon as the capture has begun.
    off_t headerBytes = fileSize(out);
    Tally t;
    Stopwatch sw;
    bench_loop_ox_disk(&t);
    int ended = oxEnd(); // flushes and closes: part of the cost, as for the raw dump
    sw.stop(r);
    g_standIn = nullptr;
    if (ended != 0) {
        r.note = "oxEnd: " + bench::lastError();
        return r;
    }
    if (headerBytes != 24) {
        r.note =
            "dump file held " + std::to_string(headerBytes) + " bytes after oxBegin, not its 24-byte header";
        return r;
    }
    r.ok = true, r.packets = t.packets, r.sum = t.sum;
    return r;
}

std::string g_tcpdump;

Pass timedTcpdump(const std::string &path, const std::string &out)
{
    Pass r;
    std::vector<std::string> args = {g_tcpdump, "-n", "-r", path, "-w", out};
    if (geteuid() == 0) { // else tcpdump drops to its own user and can't write here
        args.push_back("-Z");
        args.push_back("root");
    }
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    double t0 = nowNs();
    int e = posix_spawn(&pid, g_tcpdump.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (e != 0) {
        r.note = std::string("tcpdump: ") + std::strerror(e);
        return r;
    }
    int status = 0;
    rusage u{};
    while (wait4(pid, &status, 0, &u) < 0 && errno == EINTR) {
    }
    r.wallNs = nowNs() - t0;
    r.cpuNs = (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e9 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e3;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        r.note = "tcpdump failed";
        return r;
    }
    r.ok = true;
    r.packets = 0; // counted from the input
    return r;
}

// ---- the variants ----

struct Variant {
    std::string id;
    std::string title;
    std::string baseline; // id of the raw loop it is compared with ("" for the raw loops)
    std::function<Pass(const InputSet &, const std::string &outDir)> run;
    bool checksum = true; // delivers the raw loop's tally
    bool sets60Only = false;
};

std::vector<Variant> variants()
{
    auto outFile = [](const std::string &dir, const std::string &name) {
        return dir + "/out-" + name + ".pcap";
    };
    return {
        {"raw", "raw pcap_next_ex", "",
         [](const InputSet &s, const std::string &) { return timedRaw(s.path, bench_loop_raw); }},
        {"raw-memcpy", "raw + memcpy", "",
         [](const InputSet &s, const std::string &) { return timedRaw(s.path, bench_loop_raw_memcpy); }},
        {"mem", "oxCaptureMem", "raw",
         [](const InputSet &s, const std::string &) { return timedOx(s.path, OxLoop::Mem, ModeCopy, 1); }},
        {"alias", "oxCapture alias", "raw",
         [](const InputSet &s, const std::string &) {
             return timedOx(s.path, OxLoop::Capture, ModeAlias, 1);
         }},
        {"copy", "oxCapture copy", "raw-memcpy",
         [](const InputSet &s, const std::string &) {
             return timedOx(s.path, OxLoop::Capture, ModeCopy, 65536);
         }},
        {"memsafe", "oxCaptureMemSafe", "raw-memcpy",
         [](const InputSet &s, const std::string &) {
             return timedOx(s.path, OxLoop::MemSafe, ModeCopy, 65537);
         },
         false},
        {"raw-dump", "raw + pcap_dump (pcap_dump_open)", "",
         [=](const InputSet &s, const std::string &d) {
             return timedRawDump(s.path, outFile(d, "raw-dump"), false);
         },
         true, true},
        {"raw-dump-1m", "raw + pcap_dump, 1 MiB buffer", "",
         [=](const InputSet &s, const std::string &d) {
             return timedRawDump(s.path, outFile(d, "raw-dump-1m"), true);
         },
         true, true},
        {"disk", "oxCapture disk", "raw-dump-1m",
         [=](const InputSet &s, const std::string &d) { return timedOxDisk(s.path, outFile(d, "disk")); },
         false, true},
        {"tcpdump", "tcpdump -r -w", "raw-dump",
         [=](const InputSet &s, const std::string &d) { return timedTcpdump(s.path, outFile(d, "tcpdump")); },
         false, true},
    };
}

bool sameBytes(const std::string &a, const std::string &b)
{
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    if (!fa || !fb)
        return false;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (;;) {
        fa.read(ba.data(), ba.size());
        fb.read(bb.data(), bb.size());
        if (fa.gcount() != fb.gcount() || std::memcmp(ba.data(), bb.data(), fa.gcount()) != 0)
            return false;
        if (fa.gcount() == 0)
            return true;
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
    int rounds = 5;
    int passes = 10;
    std::string dir;
    bool keep = false;
    bool tcpdump = true;
    std::vector<std::string> sets = {"60", "mix", "sec"};
    std::string only, file, set = "60", generateDir;
    bool memory = false;
};

[[noreturn]] void usage()
{
    std::fprintf(stderr,
                 "usage: ondrix-bench [--packets N] [--rounds R] [--dir DIR] [--keep] [--no-tcpdump] [--sets "
                 "60,mix,sec]\n"
                 "       ondrix-bench --only VARIANT --file FILE [--set 60|mix|sec]\n"
                 "       ondrix-bench --generate DIR [--packets N] [--sets 60,mix,sec]\n"
                 "       ondrix-bench --memory [--packets N] [--passes P]\n"
                 "variants: raw raw-memcpy mem alias copy memsafe raw-dump raw-dump-1m disk tcpdump\n");
    std::exit(2);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage();
            return argv[++i];
        };
        if (a == "--packets")
            o.packets = std::strtoull(value().c_str(), nullptr, 10);
        else if (a == "--rounds")
            o.rounds = std::atoi(value().c_str());
        else if (a == "--passes")
            o.passes = std::atoi(value().c_str());
        else if (a == "--dir")
            o.dir = value();
        else if (a == "--keep")
            o.keep = true;
        else if (a == "--no-tcpdump")
            o.tcpdump = false;
        else if (a == "--sets") {
            o.sets.clear();
            std::string s = value();
            for (size_t p = 0; p <= s.size();) {
                size_t q = s.find(',', p);
                if (q == std::string::npos)
                    q = s.size();
                if (q > p)
                    o.sets.push_back(s.substr(p, q - p));
                p = q + 1;
            }
        } else if (a == "--only")
            o.only = value();
        else if (a == "--file")
            o.file = value();
        else if (a == "--set")
            o.set = value();
        else if (a == "--generate")
            o.generateDir = value();
        else if (a == "--memory")
            o.memory = true;
        else
            usage();
    }
    if (o.packets == 0 || o.rounds < 1 || o.passes < 1)
        usage();
    return o;
}

InputSet inputSet(const std::string &id, const std::string &dir)
{
    if (id == "60")
        return {id, "60-byte packets", Kind::Small, dir + "/in-60.pcap"};
    if (id == "mix")
        return {id, "size mix 60/594/1514 (7:4:1)", Kind::Mix, dir + "/in-mix.pcap"};
    if (id == "sec")
        return {id, "60-byte packets, a new second each", Kind::NewSecond, dir + "/in-sec.pcap"};
    usage();
}

std::string makeDir(const Options &o)
{
    if (!o.dir.empty()) {
        mkdir(o.dir.c_str(), 0755);
        return o.dir;
    }
    char tmpl[] = "/tmp/ondrix-bench.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("ondrix-bench: mkdtemp");
        std::exit(1);
    }
    return tmpl;
}

void removeDir(const std::string &dir, const std::vector<std::string> &files)
{
    for (auto &f : files)
        unlink(f.c_str());
    rmdir(dir.c_str());
}

long rssKiB(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Resident memory across many captures: it must stay flat.
int memoryRun(const Options &o)
{
    std::string dir = makeDir(o);
    InputSet in = inputSet("60", dir);
    std::string out = dir + "/out-disk.pcap";
    if (!generate(in, o.packets))
        return 1;
    std::printf("resident memory over %d captures of %" PRIu64 " packets each (kB)\n", o.passes, o.packets);
    std::printf("%-6s %12s %12s %12s %12s\n", "pass", "packets", "copy VmRSS", "disk VmRSS", "VmHWM");
    uint64_t total = 0;
    long first = -1, last = -1;
    for (int pass = 1; pass <= o.passes; ++pass) {
        Pass c = timedOx(in.path, OxLoop::Capture, ModeCopy, 65536);
        long afterCopy = rssKiB("VmRSS:");
        Pass d = timedOxDisk(in.path, out);
        long afterDisk = rssKiB("VmRSS:");
        if (!c.ok || (!d.ok && g_haveAdapter)) {
            std::fprintf(stderr, "ondrix-bench: pass %d failed %s\n", pass, d.note.c_str());
            return 1;
        }
        total += c.packets + d.packets;
        if (pass == 1)
            first = afterDisk;
        last = afterDisk;
        std::printf("%-6d %12" PRIu64 " %12ld %12ld %12ld\n", pass, total, afterCopy, afterDisk,
                    rssKiB("VmHWM:"));
    }
    std::printf("growth from pass 1 to pass %d: %ld kB over %" PRIu64 " packets\n", o.passes, last - first,
                total);
    if (!o.keep)
        removeDir(dir, {in.path, out});
    return 0;
}

int onlyRun(const Options &o)
{
    for (auto &v : variants()) {
        if (v.id != o.only)
            continue;
        InputSet in = inputSet(o.set, "");
        in.path = o.file;
        std::string dir = makeDir({});
        Pass p = v.run(in, dir);
        removeDir(dir, {dir + "/out-" + v.id + ".pcap"});
        if (!p.ok) {
            std::fprintf(stderr, "ondrix-bench: %s failed %s\n", v.id.c_str(), p.note.c_str());
            return 1;
        }
        std::printf("%s: %" PRIu64 " packets\n", v.id.c_str(), p.packets);
        return 0;
    }
    usage();
}

} // namespace

int main(int argc, char **argv)
{
    Options o = parse(argc, argv);
    if (!o.generateDir.empty()) {
        mkdir(o.generateDir.c_str(), 0755);
        for (auto &id : o.sets)
            if (!generate(inputSet(id, o.generateDir), o.packets))
                return 1;
        return 0;
    }

    g_haveAdapter = OndrixInit() > 0; // the number of adapters
    if (o.tcpdump)
        for (const char *p : {"/usr/bin/tcpdump", "/usr/sbin/tcpdump", "/bin/tcpdump", "/sbin/tcpdump"})
            if (access(p, X_OK) == 0) {
                g_tcpdump = p;
                break;
            }

    if (!o.only.empty())
        return onlyRun(o);
    if (o.memory)
        return memoryRun(o);

    std::string dir = makeDir(o);
    std::vector<std::string> files;
    std::vector<Variant> all = variants();
    bool failed = false;

    const char *tz = std::getenv("TZ");
    std::printf("ondrix-bench: %" PRIu64 " packets per file, %d rounds, variants alternating; TZ %s\n",
                o.packets, o.rounds, tz ? tz : "unset");

    for (const std::string &setId : o.sets) {
        InputSet in = inputSet(setId, dir);
        files.push_back(in.path);
        if (!generate(in, o.packets))
            return 1;
        std::vector<const Variant *> run;
        for (auto &v : all) {
            if (v.sets60Only && setId != "60")
                continue;
            if (setId == "sec" && v.id != "raw" && v.id != "mem")
                continue;
            if (v.id == "tcpdump" && g_tcpdump.empty())
                continue;
            if (v.id == "disk" && !g_haveAdapter) {
                std::printf("(disk variant skipped: OndrixInit found no adapter)\n");
                continue;
            }
            run.push_back(&v);
            files.push_back(dir + "/out-" + v.id + ".pcap");
        }

        std::map<std::string, std::vector<double>> ns, wall, ratio;
        timedRaw(in.path, bench_loop_raw); // warm the page cache and the code
        for (int round = 0; round < o.rounds; ++round) {
            std::map<std::string, Pass> got;
            // Each round starts one further along, so no variant always runs first.
            for (size_t k = 0; k < run.size(); ++k) {
                const Variant &v = *run[(k + round) % run.size()];
                Pass p = v.run(in, dir);
                if (!p.ok) {
                    std::fprintf(stderr, "ondrix-bench: %s on %s failed %s\n", v.id.c_str(), setId.c_str(),
                                 p.note.c_str());
                    failed = true;
                    continue;
                }
                got[v.id] = p;
            }
            const Pass &raw = got["raw"];
            for (auto &[id, p] : got) {
                const Variant &v =
                    **std::find_if(run.begin(), run.end(), [&](auto *x) { return x->id == id; });
                // Every variant must have seen exactly what the raw loop saw.
                bool counts = v.id == "tcpdump" || p.packets == raw.packets;
                bool sums = !v.checksum || p.sum == raw.sum;
                if (raw.packets != o.packets || !counts || !sums) {
                    std::fprintf(stderr,
                                 "ondrix-bench: %s on %s delivered %" PRIu64 " packets (sum %" PRIu64
                                 "), raw %" PRIu64 " (sum %" PRIu64 ")\n",
                                 id.c_str(), setId.c_str(), p.packets, p.sum, raw.packets, raw.sum);
                    failed = true;
                }
                ns[id].push_back(p.cpuNs / double(o.packets));
                wall[id].push_back(p.wallNs / double(o.packets));
                if (!v.baseline.empty() && got.count(v.baseline))
                    ratio[id].push_back(p.cpuNs / got[v.baseline].cpuNs);
            }
            if (round == 0 && got.count("disk") && got.count("raw-dump") &&
                !sameBytes(dir + "/out-disk.pcap", dir + "/out-raw-dump.pcap")) {
                std::fprintf(stderr, "ondrix-bench: the disk-mode file differs from pcap_dump_open's\n");
                failed = true;
            }
        }

        // CPU time per packet, median and lowest over the rounds; the ratio is
        // the median of the ratios each round measured against its baseline.
        std::printf("\n%s: %" PRIu64 " packets, %.1f MB (%d rounds)\n", in.title.c_str(), o.packets,
                    double(fileSize(in.path)) / 1e6, o.rounds);
        std::printf("%-34s %9s %9s %9s %11s %7s  %s\n", "variant", "ns/packet", "lowest", "wall", "packets/s",
                    "ratio", "against");
        for (const Variant *v : run) {
            if (!ns.count(v->id))
                continue;
            double n = median(ns[v->id]);
            std::printf("%-34s %9.1f %9.1f %9.1f %11.0f", v->title.c_str(), n,
                        *std::min_element(ns[v->id].begin(), ns[v->id].end()), median(wall[v->id]), 1e9 / n);
            if (ratio.count(v->id)) {
                auto base =
                    std::find_if(all.begin(), all.end(), [&](auto &x) { return x.id == v->baseline; });
                std::printf(" %7.3f  %s", median(ratio[v->id]), base->title.c_str());
            }
            std::printf("\n");
        }
    }

    OndrixTerminate();
    if (!o.keep)
        removeDir(dir, files);
    else
        std::printf("\nfiles kept in %s\n", dir.c_str());
    return failed ? 1 : 0;
}
