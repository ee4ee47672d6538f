#include "core/freememory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

std::int64_t allocatorFreeBytes() {
#ifdef __GLIBC__
    const struct mallinfo2 info = mallinfo2();
    return static_cast<std::int64_t>(info.fordblks);
#else
    return -1;
#endif
}

std::int64_t residentBytes() {
    long long pages = 0;
    long long resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "re");
    if (!f)
        return -1;
    const int n = std::fscanf(f, "%lld %lld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? static_cast<std::int64_t>(resident) * sysconf(_SC_PAGESIZE) : -1;
}

bool ReturnFreeMemory(std::int64_t thresholdBytes) {
#ifdef __GLIBC__
    // Pages given back stay counted as free, and using them again does not show there: the
    // resident size tells whether they came back since the last time.
    static std::atomic<std::int64_t> residentAfterReturn{0};
    const std::int64_t resident = residentBytes();
    std::int64_t mark = residentAfterReturn.load();
    if (resident >= 0 && resident < mark) {
        residentAfterReturn = resident;
        mark = resident;
    }
    if (allocatorFreeBytes() <= thresholdBytes || (resident >= 0 && resident - mark <= thresholdBytes))
        return false;
    malloc_trim(0);
    residentAfterReturn = residentBytes();
    return true;
#else
    (void)thresholdBytes;
    return false;
#endif
}

void TuneAllocator() {
#ifdef __GLIBC__
    if (!std::getenv("MALLOC_ARENA_MAX"))
        mallopt(M_ARENA_MAX, kAllocatorArenas);
    if (!std::getenv("MALLOC_MMAP_THRESHOLD_"))
        mallopt(M_MMAP_THRESHOLD, kMmapThresholdBytes);
    if (!std::getenv("MALLOC_TRIM_THRESHOLD_"))
        mallopt(M_TRIM_THRESHOLD, kTrimThresholdBytes);
#endif
}
