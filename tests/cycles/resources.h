// Process resources the cycle tests keep flat: open file descriptors and
// resident memory.
#pragma once

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>

namespace cycles
{

inline int openDescriptors()
{
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *e = readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    closedir(dir);
    return n - 1; // the directory stream's own descriptor
}

inline long residentBytes()
{
    long size = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

// Bytes the C heap has handed out and not had back. Finer than resident
// memory: a few bytes lost per round show, where pages hide them.
inline long heapBytesInUse()
{
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>(m.uordblks + m.hblkhd);
}

// Under AddressSanitizer freed memory sits in quarantine and resident memory
// grows by design; there LeakSanitizer checks for leaks instead.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentMeaningful = false;
#else
constexpr bool kResidentMeaningful = true;
#endif
#else
constexpr bool kResidentMeaningful = true;
#endif

constexpr long kResidentGrowthBound = 1L << 20; // generous: allocator slack, not leaks
constexpr long kHeapGrowthBound = 64L << 10;    // under 7 bytes a round over kRounds
constexpr int kRounds = 10000;

} // namespace cycles
