#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

// The sanitizers' allocators keep their own books: tests of the system allocator's behaviour
// skip under them.
#if defined(__SANITIZE_ADDRESS__)
#define QUOXEL_OWN_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUOXEL_OWN_ALLOCATOR 1
#endif
#endif

// A burst of answer-sized pieces made and freed on a thread of its own (as the request workers
// do), with one piece left at the top of its arena so the allocator cannot give the pages back
// by itself. Returns that piece; free it at the end.
inline void* burstOnAThread(std::size_t pieces, std::size_t pieceSize) {
    void* pin = nullptr;
    std::thread([&] {
        std::vector<void*> blocks;
        blocks.reserve(pieces);
        for (std::size_t k = 0; k < pieces; ++k) {
            void* p = std::malloc(pieceSize);
            std::memset(p, 0x5a, pieceSize);
            blocks.push_back(p);
        }
        // One more of the same size comes from the top as the others did; a small one might be
        // served from a hole lower down.
        pin = std::malloc(pieceSize);
        for (void* p : blocks)
            std::free(p);
    }).join();
    return pin;
}
