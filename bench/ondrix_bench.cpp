// ondrix-bench: the per-packet cost of ONDRIX against the raw libpcap loops
// it sits on, every variant through the real libondrix.so, measured in one
// run with the variants alternating (usage() below gives the command lines).
// The deliveries from saved files are here, the baselines in compare.cpp, and
// disk mode, on a stand-in and live (scripts/bench-live), in live.cpp.
#include <sys/stat.h>

#include <cinttypes>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ondrix_bench.h"

using namespace bench;

namespace
{

[[noreturn]] void usage()
{
    std::fprintf(
        stderr,
        "usage: ondrix-bench [--packets N] [--rounds R] [--no-tcpdump] [--sets 60,mix,sec,fast]\n"
        "       ondrix-bench --only VARIANT --file FILE [--set 60|mix|sec|fast]     one pass (callgrind)\n"
        "       ondrix-bench --generate DIR [--packets N] [--sets 60,mix,sec,fast]  input files only\n"
        "       ondrix-bench --memory [--packets N] [--passes P]               RSS over P captures\n"
        "       ondrix-bench --live ADAPTER --out FILE [--timeout MS] [--buffer BYTES] [--seconds S]\n"
        "variants: raw raw-memcpy mem alias decode name copy memsafe raw-dump raw-dump-1m disk disksafe "
        "tcpdump\n");
    std::exit(2);
}

// The input sets: 60-byte packets at 1,000 a second from 2023-11-14 22:13:20
// UTC; the same with a new second each; sizes mixed; and 60-byte packets at
// 1,000,000 a second, so that a replay at full speed sees the seconds change
// about as often as a live capture at that rate does (disk mode writes out
// once a second).
const std::map<std::string, std::string> kSets = {{"60", "60-byte packets"},
                                                  {"sec", "60-byte packets, a new second each"},
                                                  {"mix", "size mix 60/594/1514 (7:4:1)"},
                                                  {"fast", "60-byte packets at 1,000,000 a second"}};

bool generate(const std::string &set, const std::string &file, uint64_t packets)
{
    static char buffer[1 << 20];
    pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
    FILE *out = std::fopen(file.c_str(), "wb");
    if (out)
        setvbuf(out, buffer, _IOFBF, sizeof buffer);
    pcap_dumper_t *d = dead && out ? pcap_dump_fopen(dead, out) : nullptr;
    if (!d) {
        std::fprintf(stderr, "ondrix-bench: can't write %s\n", file.c_str());
        return false;
    }
    // A UDP datagram in IPv4 in Ethernet, numbered.
    uint8_t f[1514] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00,
                       0x45, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11, 0x00, 0x00, 10,   99,
                       0,    1,    10,   99,   0,    2,    0x30, 0x39, 0x30, 0x39, 0x00, 0x00, 0x00, 0x00};
    uint32_t rng = 1;
    for (uint64_t i = 0; i < packets; ++i) {
        pcap_pkthdr h{}; // the mix is the classic 7:4:1, in a fixed random order
        uint32_t pick = set == "mix" ? ((rng = rng * 1103515245u + 12345u) >> 16) % 12 : 0;
        h.caplen = h.len = pick < 7 ? 60 : pick < 11 ? 594 : 1514;
        const uint64_t perSecond = set == "sec" ? 1 : set == "fast" ? 1000000 : 1000;
        h.ts.tv_sec = 1700000000 + time_t(i / perSecond);
        h.ts.tv_usec = set == "sec" ? 500000 : suseconds_t(i % perSecond * (1000000 / perSecond));
        uint32_t ip = h.len - 14, udp = h.len - 34;
        f[16] = uint8_t(ip >> 8), f[17] = uint8_t(ip), f[18] = uint8_t(i >> 8), f[19] = uint8_t(i);
        f[38] = uint8_t(udp >> 8), f[39] = uint8_t(udp);
        for (uint32_t k = 42; k < h.len; ++k)
            f[k] = uint8_t(i + k);
        pcap_dump(reinterpret_cast<u_char *>(d), &h, f);
    }
    bool ok = pcap_dump_flush(d) == 0 && !ferror(out);
    pcap_dump_close(d);
    pcap_close(dead);
    return ok;
}

std::vector<Variant> variants(const std::string &set, const std::string &f, const std::string &dir,
                              bool tcpdump, bool disk)
{
    auto out = [dir](const char *id) { return dir + "/out-" + id + ".pcap"; };
    // Every frame has 60 bytes or more; the 60-byte sets read the raw loop's sum.
    auto memsafe = [](SAFEARRAY **a, Tally *t) { bench_loop_ox_memsafe(a, 60, t); };
    std::vector<Variant> v = {
        {"raw", "raw pcap_next_ex", "", Check::Sum, [=] { return rawPass(f, bench_loop_raw); }},
        {"raw-memcpy", "raw + memcpy", "", Check::Sum, [=] { return rawPass(f, bench_loop_raw_memcpy); }},
        {"mem", "oxCaptureMem", "raw", Check::Sum,
         [=] { return capturePass(SourceFile, ModeCopy, f, 1, bench_loop_ox_mem); }},
        {"alias", "oxCapture alias", "raw", Check::Sum,
         [=] { return capturePass(SourceFile, ModeAlias, f, 1, bench_loop_ox_capture); }},
        {"decode", "oxCapture alias + oxDecodePacket", "alias", Check::Sum,
         [=] { return capturePass(SourceFile, ModeAlias, f, 1, bench_loop_ox_decode); }},
        {"name", "oxCapture alias + oxDecodeName", "alias", Check::Sum,
         [=] { return capturePass(SourceFile, ModeAlias, f, 1, bench_loop_ox_name); }},
        {"copy", "oxCapture copy", "raw-memcpy", Check::Sum,
         [=] { return capturePass(SourceFile, ModeCopy, f, 65536, bench_loop_ox_capture); }},
        {"memsafe", "oxCaptureMemSafe", "raw-memcpy", set == "mix" ? Check::Count : Check::Sum,
         [=] { return capturePass(SourceFile, ModeCopy, f, 65537, memsafe); }},
        {"raw-dump", "raw + pcap_dump (pcap_dump_open)", "", Check::Sum,
         [=] { return rawDumpPass(f, out("raw-dump"), false); }},
        {"raw-dump-1m", "raw + pcap_dump, 1 MiB buffer", "", Check::Sum,
         [=] { return rawDumpPass(f, out("raw-dump-1m"), true); }},
        {"disk", "oxCapture disk", "raw-dump-1m", Check::Count, [=] { return diskPass(f, out("disk")); }},
        {"disksafe", "oxCaptureDiskSafe", "raw-dump-1m", Check::Count,
         [=] { return diskPass(f, out("disksafe"), bench_loop_ox_disksafe); }},
        {"tcpdump", "tcpdump -r -w", "raw-dump", Check::None, [=] { return tcpdumpPass(f, out("tcpdump")); }},
    };
    // A new second each is oxCaptureMem's case; the size mix the deliveries';
    // the dumps run on 60-byte packets.
    static bool found = tcpdump && std::system("command -v tcpdump >/dev/null") == 0;
    std::erase_if(v, [&](const Variant &x) {
        bool dumps = x.id.find("dump") != std::string::npos || x.id.starts_with("disk");
        return (set == "sec" && x.id != "raw" && x.id != "mem") || (set == "mix" && dumps) ||
               (set == "fast" && !dumps) || (x.id.starts_with("disk") && !disk) ||
               (x.id == "tcpdump" && !found);
    });
    return v;
}

long rssKiB(const std::string &field)
{
    std::ostringstream status;
    status << std::ifstream("/proc/self/status").rdbuf();
    size_t at = status.str().find(field + ":");
    return at == std::string::npos ? -1 : std::atol(status.str().c_str() + at + field.size() + 1);
}

// Resident memory across many captures: it must stay flat.
bool memoryRun(const std::string &dir, uint64_t packets, int passes, bool disk)
{
    std::string in = dir + "/in-60.pcap";
    if (!generate("60", in, packets))
        return false;
    std::printf("resident memory over %d captures of %" PRIu64 " packets each (kB)\n%-6s %12s %12s %12s\n",
                passes, packets, "pass", "packets", "VmRSS", "VmHWM");
    uint64_t total = 0;
    long first = -1, last = -1;
    for (int pass = 1; pass <= passes; ++pass) {
        Pass c = capturePass(SourceFile, ModeCopy, in, 65536, bench_loop_ox_capture);
        Pass d = disk ? diskPass(in, dir + "/out-disk.pcap") : Pass{};
        if (!c.ok() || !d.ok()) {
            std::fprintf(stderr, "ondrix-bench: pass %d failed: %s\n", pass, (c.note + d.note).c_str());
            return false;
        }
        total += c.tally.packets + d.tally.packets;
        last = rssKiB("VmRSS");
        first = pass == 1 ? last : first;
        std::printf("%-6d %12" PRIu64 " %12ld %12ld\n", pass, total, last, rssKiB("VmHWM"));
    }
    std::printf("growth from pass 1 to pass %d: %ld kB over %" PRIu64 " packets\n", passes, last - first,
                total);
    return true;
}

double nowNs(clockid_t clock)
{
    timespec ts;
    clock_gettime(clock, &ts);
    return double(ts.tv_sec) * 1e9 + double(ts.tv_nsec);
}

} // namespace

double bench::cpuNs() { return nowNs(CLOCK_PROCESS_CPUTIME_ID); }
double bench::wallNs() { return nowNs(CLOCK_MONOTONIC); }

int main(int argc, char **argv)
{
    // The options that take a value, with their defaults, and the two that take none.
    std::map<std::string, std::string> opt = {
        {"--packets", "1000000"}, {"--rounds", "5"},  {"--passes", "10"}, {"--sets", "60,mix,sec"},
        {"--only", ""},           {"--file", ""},     {"--set", "60"},    {"--generate", ""},
        {"--no-tcpdump", ""},     {"--memory", ""},   {"--live", ""},     {"--out", ""},
        {"--timeout", "200"},     {"--buffer", "-1"}, {"--seconds", "60"}};
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool flag = a == "--no-tcpdump" || a == "--memory";
        if (!opt.count(a) || (!flag && i + 1 == argc))
            usage();
        opt[a] = flag ? "1" : argv[++i];
    }
    uint64_t packets = std::strtoull(opt["--packets"].c_str(), nullptr, 10);
    int rounds = std::atoi(opt["--rounds"].c_str()), passes = std::atoi(opt["--passes"].c_str());
    std::vector<std::string> sets;
    std::istringstream list(opt["--sets"]);
    for (std::string set; std::getline(list, set, ',');)
        sets.push_back(kSets.count(set) ? set : (usage(), ""));
    if (packets == 0 || rounds < 1 || passes < 1 || !kSets.count(opt["--set"]))
        usage();
    if (!opt["--generate"].empty()) {
        mkdir(opt["--generate"].c_str(), 0755);
        for (auto &set : sets)
            if (!generate(set, opt["--generate"] + "/in-" + set + ".pcap", packets))
                return 1;
        return 0;
    }

    bool ok = true, disk = OndrixInit() > 0; // the disk variant's capture opens an adapter
    // Looked for by a shell, so not for one pass of another variant (strace counts its calls).
    bool tcpdump = opt["--no-tcpdump"].empty() && (opt["--only"].empty() || opt["--only"] == "tcpdump");
    char tmpl[] = "/tmp/ondrix-bench.XXXXXX";
    if (!mkdtemp(tmpl))
        return std::perror("ondrix-bench: mkdtemp"), 1;
    std::string dir = tmpl, tz = std::getenv("TZ") ? std::getenv("TZ") : "unset";
    if (!opt["--live"].empty()) {
        Pass p = liveHost(opt["--live"], opt["--out"], std::atoi(opt["--timeout"].c_str()),
                          std::atoi(opt["--buffer"].c_str()), std::atof(opt["--seconds"].c_str()));
        if (!(ok = p.ok()))
            std::fprintf(stderr, "%s\n", p.note.c_str());
    } else if (!opt["--memory"].empty()) {
        ok = memoryRun(dir, packets, passes, disk);
    } else if (!opt["--only"].empty()) { // one pass over a given file
        std::vector<Variant> all = variants(opt["--set"], opt["--file"], dir, tcpdump, true);
        size_t i = indexOf(all, opt["--only"]);
        bool adapterless = i < all.size() && !disk && all[i].id.starts_with("disk");
        Pass p = i == all.size() ? Pass{"no such variant here"}
                 : adapterless   ? Pass{"no adapter for disk mode"}
                                 : all[i].run();
        std::printf("%s: %" PRIu64 " packets %s\n", opt["--only"].c_str(), p.tally.packets, p.note.c_str());
        ok = p.ok();
    } else {
        std::printf("ondrix-bench: %" PRIu64 " packets per file, %d rounds, variants alternating; TZ %s\n%s",
                    packets, rounds, tz.c_str(),
                    disk ? "" : "(disk variant skipped: OndrixInit found no adapter)\n");
        for (const std::string &set : sets) {
            std::string in = dir + "/in-" + set + ".pcap";
            if (!generate(set, in, packets))
                return 1;
            std::printf("\n%s: %" PRIu64 " packets, %.1f MB (%d rounds)\n", kSets.at(set).c_str(), packets,
                        double(std::filesystem::file_size(in)) / 1e6, rounds);
            std::fflush(stdout);
            std::vector<Variant> run = variants(set, in, dir, tcpdump, disk);
            std::vector<Figures> fig;
            rawPass(in, bench_loop_raw); // warms the page cache and the code
            ok = runRounds(run, rounds, packets, fig) && ok;
            // The last round's files: disk mode writes what pcap_dump_open writes.
            std::string cmp = "cmp -s " + dir + "/out-disk.pcap " + dir + "/out-raw-dump.pcap";
            if (indexOf(run, "disk") < run.size() && std::system(cmp.c_str()) != 0) {
                std::fprintf(stderr, "ondrix-bench: the disk-mode file differs from pcap_dump_open's\n");
                ok = false;
            }
            printTable(run, fig);
        }
    }
    OndrixTerminate();
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
