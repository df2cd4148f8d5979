// ondrix-live-host: the capture side of scripts/bench-live. A host that loops
// on oxCapture in disk mode on one adapter until it is told to stop (SIGINT or
// SIGTERM) or --seconds pass, then ends the capture and prints what it got
// and the CPU time it spent, one "key value" pair a line.
//
//   ondrix-live-host --adapter NAME --out FILE [--timeout MS] [--buffer BYTES] [--seconds S]
#include <signal.h>
#include <sys/resource.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench_host.h"

namespace
{

volatile sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

double cpuSeconds(const rusage &u)
{
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

int32_t findAdapter(const std::string &name)
{
    AdapterInfoRecord info;
    for (int32_t i = 0; oxGetAdapterInfo(i, &info) == 0; ++i)
        if (name == info.name)
            return i;
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string adapter, out;
    int32_t timeoutMs = 200, buffer = -1;
    double seconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i], v = argv[i + 1];
        if (a == "--adapter")
            adapter = v;
        else if (a == "--out")
            out = v;
        else if (a == "--timeout")
            timeoutMs = std::atoi(v.c_str());
        else if (a == "--buffer")
            buffer = std::atoi(v.c_str());
        else if (a == "--seconds")
            seconds = std::atof(v.c_str());
    }
    if (adapter.empty() || out.empty()) {
        std::fprintf(stderr,
                     "usage: ondrix-live-host --adapter NAME --out FILE [--timeout MS] [--buffer BYTES] "
                     "[--seconds S]\n");
        return 2;
    }

    struct sigaction sa = {};
    sa.sa_handler = onSignal; // no SA_RESTART: a waiting poll returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    if (OndrixInit() < 0) {
        std::fprintf(stderr, "OndrixInit: %s\n", bench::lastError().c_str());
        return 1;
    }
    int32_t index = findAdapter(adapter);
    if (index < 0 || oxSetCurrentAdapter(index) != 0) {
        std::fprintf(stderr, "no adapter %s\n", adapter.c_str());
        return 1;
    }
    bench::setInt(ParamCaptureMode, ModeDisk);
    bench::setText(ParamDumpFileName, out);
    if (buffer >= 0)
        bench::setInt(ParamKernelBufferSize, buffer);
    if (oxBegin(timeoutMs) != 0) {
        std::fprintf(stderr, "oxBegin: %s\n", bench::lastError().c_str());
        return 1;
    }
    std::printf("ready 1\n");
    std::fflush(stdout);

    timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    uint64_t received = 0, timeouts = 0;
    SAFEARRAY *none = nullptr; // disk mode does not use the array
    PacketHeaderRecord h;
    int result = 0;
    while (!g_stop) {
        int32_t r = oxCapture(&none, &h);
        if (r == 1) {
            ++received;
            continue;
        }
        if (r < 0) {
            std::fprintf(stderr, "oxCapture: %s\n", bench::lastError().c_str());
            result = 1;
            break;
        }
        ++timeouts;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 > seconds)
            break;
    }
    if (oxEnd() != 0) {
        std::fprintf(stderr, "oxEnd: %s\n", bench::lastError().c_str());
        result = 1;
    }
    rusage after; // the whole process, start-up included, as measured for tcpdump
    getrusage(RUSAGE_SELF, &after);
    OndrixTerminate();

    double cpu = cpuSeconds(after);
    std::printf("received %" PRIu64 "\n", received);
    std::printf("timeouts %" PRIu64 "\n", timeouts);
    std::printf("cpu_seconds %.6f\n", cpu);
    std::printf("cpu_ns_per_packet %.1f\n", received ? cpu * 1e9 / double(received) : 0.0);
    return result;
}
