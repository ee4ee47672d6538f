#include "core/freememory.h"
#include "support/memoryburst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifndef QUOXEL_OWN_ALLOCATOR
namespace {

#ifdef __GLIBC__
// The arenas the allocator has made so far, from its own report.
int arenaCount() {
    char* text = nullptr;
    std::size_t size = 0;
    FILE* f = open_memstream(&text, &size);
    if (!f)
        return -1;
    malloc_info(0, f);
    std::fclose(f);
    int count = 0;
    for (const char* p = text; (p = std::strstr(p, "<heap nr=")) != nullptr; ++p)
        ++count;
    std::free(text);
    return count;
}
#endif

} // namespace
#endif

TEST(FreeMemory, FreedBurstGoesBackToTheSystem) {
#ifdef QUOXEL_OWN_ALLOCATOR
    GTEST_SKIP() << "the sanitizer's allocator keeps its own books";
#else
    constexpr std::size_t kPieces = 16000;
    constexpr std::size_t kPieceSize = 4096;
    void* pin = burstOnAThread(kPieces, kPieceSize);
    ASSERT_GT(allocatorFreeBytes(), kReturnFreeMemoryThreshold);
    // Below the threshold nothing is done.
    EXPECT_FALSE(ReturnFreeMemory(1ll << 40));
    const std::int64_t before = residentBytes();
    EXPECT_TRUE(ReturnFreeMemory());
    const std::int64_t after = residentBytes();
    EXPECT_LT(after, before - (32ll << 20)) << "resident before " << before << ", after " << after;
    // Nothing more became free: the next periodic call does nothing.
    EXPECT_FALSE(ReturnFreeMemory());
    // Used again and freed again: given back again.
    std::free(pin);
    pin = burstOnAThread(kPieces, kPieceSize);
    const std::int64_t refilled = residentBytes();
    EXPECT_TRUE(ReturnFreeMemory());
    EXPECT_LT(residentBytes(), refilled - (32ll << 20));
    std::free(pin);
#endif
}

// Threads alive at the same time, each allocating, as the engine's are during a switch: each
// would get an arena of its own, up to eight per core.
TEST(FreeMemory, ArenasStayCappedAcrossThreads) {
#if defined(QUOXEL_OWN_ALLOCATOR) || !defined(__GLIBC__)
    GTEST_SKIP() << "not the system allocator";
#else
    if (std::getenv("MALLOC_ARENA_MAX"))
        GTEST_SKIP() << "the environment sets the cap";
    TuneAllocator();
    const int before = arenaCount();
    ASSERT_GE(before, 1);
    constexpr int kThreads = 8;
    std::atomic<int> holding{0};
    std::atomic<bool> release{false};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k) {
        threads.emplace_back([&] {
            void* p = std::malloc(1000);
            std::memset(p, 1, 1000);
            ++holding;
            for (int i = 0; i < 5000 && !release.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::free(p);
        });
    }
    for (int i = 0; i < 5000 && holding.load() < kThreads; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const int during = arenaCount();
    release = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(holding.load(), kThreads);
    EXPECT_LE(during, std::max(before, kAllocatorArenas));
#endif
}

// A large answer freed goes back to the system, also after an earlier one: the allocator would
// otherwise raise its threshold to the size of the first and keep later ones in its heap.
TEST(FreeMemory, LargeBlocksStayMappedOnTheirOwn) {
#if defined(QUOXEL_OWN_ALLOCATOR) || !defined(__GLIBC__)
    GTEST_SKIP() << "not the system allocator";
#else
    if (std::getenv("MALLOC_MMAP_THRESHOLD_"))
        GTEST_SKIP() << "the environment sets the threshold";
    TuneAllocator();
    constexpr std::size_t kFirst = 16u << 20;
    constexpr std::size_t kLater = 4u << 20;
    // Through a volatile, so the compiler cannot drop the pairs of malloc and free.
    static void* volatile kept = nullptr;
    kept = std::malloc(kFirst);
    std::memset(kept, 1, kFirst);
    std::free(kept);
    const std::size_t mappedBefore = mallinfo2().hblkhd;
    kept = std::malloc(kLater);
    std::memset(kept, 1, kLater);
    EXPECT_GE(mallinfo2().hblkhd, mappedBefore + kLater);
    std::free(kept);
    EXPECT_LT(mallinfo2().hblkhd, mappedBefore + kLater);
#endif
}
