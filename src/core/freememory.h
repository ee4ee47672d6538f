#pragma once

#include <cstdint>

// Memory the allocator holds free after a burst of large answers (a hostile receiver can send
// up to the answer cap, and a cut bouquet of thousands of channels) would otherwise stay with
// the process for good: the allocator keeps freed pages of its thread arenas. So do the engine's
// buffers, freed at every channel switch: 10 to 15 MB stayed resident between switches. Handing
// back takes about 2 ms with that much free, so a few MB are enough to do it.

inline constexpr std::int64_t kReturnFreeMemoryThreshold = 4ll << 20;

// Bytes the allocator holds free, or -1 where it cannot tell.
std::int64_t allocatorFreeBytes();

// The process's resident size, or -1 where it cannot tell.
std::int64_t residentBytes();

// Hands the allocator's free pages back to the system when it holds more than threshold bytes
// free and the process grew by as much since the last time; returns whether it did. Cheap enough
// for a periodic timer.
bool ReturnFreeMemory(std::int64_t thresholdBytes = kReturnFreeMemoryThreshold);

// Sets the allocator up for this program. Its arenas are capped at kAllocatorArenas: the engine
// starts and ends threads at every channel switch, and each may get an arena of its own whose
// freed pages stay with the process, fragmented. Blocks from kMmapThresholdBytes on are always
// mapped on their own, so a large answer goes back to the system when it is freed; left to
// itself the allocator raises that threshold after the first such answer, and later ones are
// carved out of the heap and stay there. A fixed threshold also fixes the point from which free
// memory at a heap's top goes back at once (128 KiB by default): the engine frees and takes again
// several MB of pictures and sound a second, and the heaps gave the pages back and faulted them in
// anew each time (half the audio thread's CPU while playing). Kept below kTrimThresholdBytes, they
// go back by ReturnFreeMemory. Call first thing at start, before any thread; a MALLOC_ARENA_MAX,
// MALLOC_MMAP_THRESHOLD_ or MALLOC_TRIM_THRESHOLD_ from the environment stays in force.
inline constexpr int kAllocatorArenas = 2;
inline constexpr int kMmapThresholdBytes = 1 << 20;
inline constexpr int kTrimThresholdBytes = 8 << 20;
void TuneAllocator();
