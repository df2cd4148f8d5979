// What ondrix-bench (Linux, libondrix.so) and ondrix-winbench (ONDRIX.dll
// under Wine) share: host values made the way a VB host has them, the host
// loops they time, and the rounds that compare each with its raw pcap loop.
#pragma once

#include "ondrix.h"

#include <pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace bench
{

// A byte-array variable holding a descriptor.
class HostArray
{
  public:
    explicit HostArray(uint32_t count) : count_(count)
    {
#ifdef _WIN32
        // As VB's ReDim makes it: descriptor and data in separate blocks.
        SAFEARRAYBOUND bound = {count, 0};
        if (!(sa_ = SafeArrayCreate(VT_UI1, 1, &bound)))
            std::abort();
        own_ = sa_->pvData;
#else
        desc_ = {1, 0, 1, 0, own_ = std::calloc(count ? count : 1, 1), {{count, 0}}};
        sa_ = &desc_;
#endif
    }
    // An aliasing delivery leaves the array on the capture library's bytes:
    // the array gets its own block back before that is freed.
    ~HostArray()
    {
        sa_->pvData = own_;
        sa_->rgsabound[0].cElements = count_;
#ifdef _WIN32
        SafeArrayDestroy(sa_);
#else
        std::free(own_);
#endif
    }
    HostArray(const HostArray &) = delete;
    HostArray &operator=(const HostArray &) = delete;
    SAFEARRAY **var() { return &sa_; }
    uint32_t locks() const { return sa_->cLocks; }

  private:
    uint32_t count_;
    void *own_;
    SAFEARRAY *sa_;
#ifndef _WIN32
    SAFEARRAY desc_;
#endif
};

// As VB passes a literal: an Integer where it fits, else a Long.
inline int32_t setParam(int32_t code, int32_t value)
{
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    if (value == int16_t(value))
        V_VT(&v) = VT_I2, V_I2(&v) = int16_t(value);
    else
        V_VT(&v) = VT_I4, V_I4(&v) = value;
    return oxSetParam(code, &v);
}

inline int32_t setText(int32_t code, const std::string &text)
{
    std::u16string wide(text.begin(), text.end());
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(wide.data()), uint32_t(wide.size()));
    int32_t r = oxSetParam(code, &v);
    SysFreeString(V_BSTR(&v));
    return r;
}

inline std::string lastError()
{
    BSTR s = oxGetErrorDescription();
    std::string text = s ? std::string(reinterpret_cast<const char *>(s), SysStringByteLen(s)) : "";
    SysFreeString(s);
    return text;
}

struct Tally {
    uint64_t packets = 0, sum = 0;
    // The count is stored before the byte is read, as the loops always did: their counts are published.
    void add(uint32_t length) { ++packets, sum += length; }
    void add(uint32_t length, const uint8_t *bytes) { ++packets, sum += length + bytes[length - 1]; }
    void add(uint32_t length, SAFEARRAY **a) { add(length, static_cast<const uint8_t *>((*a)->pvData)); }
};
inline uint8_t scratch[65536]; // where the raw loop with memcpy copies to

// Each loop takes every packet of one capture and reads its length and its
// last byte, as a host would. They are plain C symbols, so that callgrind can
// count inside them alone (--toggle-collect=bench_loop_*).
extern "C" {

__attribute__((noinline)) inline void bench_loop_raw(pcap_t *p, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1)
        t->add(h->caplen, data);
}

__attribute__((noinline)) inline void bench_loop_raw_memcpy(pcap_t *p, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        std::memcpy(scratch, data, h->caplen);
        t->add(h->caplen, scratch);
    }
}

__attribute__((noinline)) inline void bench_loop_raw_dump(pcap_t *p, pcap_dumper_t *d, Tally *t)
{
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        pcap_dump(reinterpret_cast<u_char *>(d), h, data);
        t->add(h->caplen, data);
    }
}

__attribute__((noinline)) inline void bench_loop_ox_mem(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    while (oxCaptureMem(a, &h) == 1)
        t->add(h.capturedLength, a);
}

// oxCapture in alias and in copy mode: the same host loop.
__attribute__((noinline)) inline void bench_loop_ox_capture(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    while (oxCapture(a, &h) == 1)
        t->add(h.capturedLength, a);
}

// The alias loop with the packet's fields read after each delivery.
__attribute__((noinline)) inline void bench_loop_ox_decode(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    PacketSummaryRecord r;
    while (oxCapture(a, &h) == 1 && oxDecodePacket(&r) == 0)
        t->add(h.capturedLength, a);
}

// The alias loop with the packet's name read after each delivery.
__attribute__((noinline)) inline void bench_loop_ox_name(SAFEARRAY **a, Tally *t)
{
    PacketHeaderRecord h;
    PacketNameRecord n;
    while (oxCapture(a, &h) == 1 && oxDecodeName(&n) >= 0)
        t->add(h.capturedLength, a);
}

// oxCaptureMemSafe reports no length: the host knows its frames' size.
__attribute__((noinline)) inline void bench_loop_ox_memsafe(SAFEARRAY **a, int32_t length, Tally *t)
{
    while (oxCaptureMemSafe(a) == 1)
        t->add(length, a);
}

// Disk mode does not use the array; the length read is the record's.
__attribute__((noinline)) inline void bench_loop_ox_disk(Tally *t)
{
    PacketHeaderRecord h;
    SAFEARRAY *none = nullptr;
    while (oxCapture(&none, &h) == 1)
        t->add(h.capturedLength);
}

// oxCaptureDiskSafe: disk mode with no array at all.
__attribute__((noinline)) inline void bench_loop_ox_disksafe(Tally *t)
{
    PacketHeaderRecord h;
    while (oxCaptureDiskSafe(&h) == 1)
        t->add(h.capturedLength);
}

} // extern "C"

// Each program's clocks: the process's CPU time (steadier than wall time on
// a shared machine), and wall time.
double cpuNs();
double wallNs();

struct Pass {
    std::string note; // why it failed; empty when it did not
    Tally tally;
    double ns = 0; // CPU time
    bool ok() const { return note.empty(); }
};

template <class Loop> Pass timed(Loop loop, Pass r = {})
{
    double cpu = cpuNs();
    loop(&r.tally);
    r.ns = cpuNs() - cpu;
    return r;
}

// A raw loop over the capture pcap opened (err tells why not), which it closes.
template <class Loop> Pass rawPass(pcap_t *p, const char *err, Loop loop)
{
    Pass r = p ? timed([&](Tally *t) { loop(p, t); }) : Pass{err};
    if (p)
        pcap_close(p);
    return r;
}

// A capture through ONDRIX, begun as a host begins one (a saved file begins
// in copy mode and takes its mode after; file is the one to read, or the
// dump), the loop on a host array of count bytes, and oxEnd, timed in disk
// mode, as closing the dump is part of the cost. The array must end unlocked.
template <class Loop>
Pass capturePass(int32_t source, int32_t mode, const std::string &file, uint32_t count, Loop loop,
                 int32_t timeoutMs = 1000)
{
    HostArray array(count);
    bool saved = source == SourceFile, disk = mode == ModeDisk;
    if (setParam(ParamCaptureSource, source) != 0 || (!saved && setParam(ParamCaptureMode, mode) != 0) ||
        setText(ParamDumpFileName, file) != 0 || oxBegin(timeoutMs) != 0 ||
        (saved && setParam(ParamCaptureMode, mode) != 0)) {
        Pass r{"oxBegin: " + lastError()};
        oxEnd(); // where the capture began and the mode was refused
        return r;
    }
    int32_t ended = 0;
    Pass r = timed([&](Tally *t) {
        loop(array.var(), t);
        ended = disk ? oxEnd() : 0;
    });
    if ((ended = disk ? ended : oxEnd()) != 0)
        r.note = "oxEnd: " + lastError();
    else if (array.locks() != 0)
        r.note = "array left locked";
    return r;
}

// What a pass must agree on with its round's raw loop: the packet count and
// the sum of what it read, the count alone, or nothing (it counts none).
enum class Check { Sum, Count, None };

struct Variant {
    std::string id, title;
    std::string baseline; // the raw loop it is compared with, "" for none
    Check check;
    std::function<Pass()> run;
};

struct Figures {
    std::vector<double> ns, ratio, added; // per packet, one a round
};

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline size_t indexOf(const std::vector<Variant> &vs, const std::string &id)
{
    return size_t(std::find_if(vs.begin(), vs.end(), [&](const Variant &v) { return v.id == id; }) -
                  vs.begin());
}

// Every variant once a round, each round starting one further along, so that
// none always runs first and a noisy machine moves every figure alike. The
// first variant is the raw loop that the passes of its round are checked against.
inline bool runRounds(const std::vector<Variant> &vs, int rounds, uint64_t packets, std::vector<Figures> &fig)
{
    bool ok = true;
    fig.assign(vs.size(), {});
    for (size_t round = 0; round < size_t(rounds); ++round) {
        std::vector<Pass> got(vs.size());
        for (size_t k = 0; k < vs.size(); ++k)
            got[(k + round) % vs.size()] = vs[(k + round) % vs.size()].run();
        for (size_t i = 0; i < vs.size(); ++i) {
            Pass &p = got[i];
            const Tally &raw = got[0].tally;
            if (p.ok() && vs[i].check != Check::None &&
                (p.tally.packets != packets || (vs[i].check == Check::Sum && p.tally.sum != raw.sum)))
                p.note = std::to_string(p.tally.packets) + " packets (sum " + std::to_string(p.tally.sum) +
                         "), raw " + std::to_string(raw.packets) + " (sum " + std::to_string(raw.sum) + ")";
            if (!p.ok()) {
                std::fprintf(stderr, "%s failed: %s\n", vs[i].id.c_str(), p.note.c_str());
                ok = false;
                continue;
            }
            fig[i].ns.push_back(p.ns / double(packets));
            size_t b = indexOf(vs, vs[i].baseline);
            if (b < vs.size() && got[b].ok()) {
                fig[i].ratio.push_back(p.ns / got[b].ns);
                fig[i].added.push_back((p.ns - got[b].ns) / double(packets));
            }
        }
    }
    return ok;
}

// Per packet: the median and the lowest CPU time over the rounds, and the
// medians of each round's ratio to its baseline and of the time added to it.
inline void printTable(const std::vector<Variant> &vs, const std::vector<Figures> &fig)
{
    std::printf("%-34s %9s %9s %11s %7s %7s  %s\n", "variant", "ns/packet", "lowest", "packets/s", "ratio",
                "added", "against");
    for (size_t i = 0; i < vs.size(); ++i) {
        const Figures &f = fig[i];
        if (f.ns.empty())
            continue;
        double ns = median(f.ns);
        std::printf("%-34s %9.1f %9.1f %11.0f", vs[i].title.c_str(), ns,
                    *std::min_element(f.ns.begin(), f.ns.end()), 1e9 / ns);
        if (!f.ratio.empty())
            std::printf(" %7.3f %7.1f  %s", median(f.ratio), median(f.added),
                        vs[indexOf(vs, vs[i].baseline)].title.c_str());
        std::printf("\n");
    }
}

} // namespace bench
