#include "core/freememory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define QUOXEL_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUOXEL_OWN_ALLOCATOR 1
#endif
#endif

#ifndef QUOXEL_OWN_ALLOCATOR
namespace {

// A burst of answer-sized pieces made and freed on a thread of its own (as the request workers
// do), with one piece left at the top of its arena so the allocator cannot give the pages back
// by itself.
void* burstOnAThread(std::size_t pieces, std::size_t pieceSize) {
    void* pin = nullptr;
    std::thread([&] {
        std::vector<void*> blocks;
        blocks.reserve(pieces);
        for (std::size_t k = 0; k < pieces; ++k) {
            void* p = std::malloc(pieceSize);
            std::memset(p, 0x5a, pieceSize);
            blocks.push_back(p);
        }
        pin = std::malloc(64);
        for (void* p : blocks)
            std::free(p);
    }).join();
    return pin;
}

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
