// The baselines of ondrix-bench: raw libpcap loops over a saved file, and
// tcpdump copying it.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "ondrix_bench.h"

extern char **environ;

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

// The whole process, start to exit, in the CPU time the kernel counts; it
// counts no packets. As root it would drop to its own user and not write here.
Pass tcpdumpPass(const std::string &file, const std::string &out)
{
    const char *argv[] = {"tcpdump", "-n", "-r", file.c_str(), "-w", out.c_str(), "-Z", "root", nullptr};
    argv[geteuid() == 0 ? 8 : 6] = nullptr;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    pid_t pid;
    int status = -1;
    rusage u{};
    if (posix_spawnp(&pid, argv[0], &quiet, nullptr, const_cast<char **>(argv), environ) == 0)
        while (wait4(pid, &status, 0, &u) < 0 && errno == EINTR) {
        }
    posix_spawn_file_actions_destroy(&quiet);
    Pass r{status == 0 ? "" : "tcpdump failed"};
    r.ns = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e9 +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e3;
    return r;
}

} // namespace bench
