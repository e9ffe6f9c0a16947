// Global operator new and delete for the libFuzzer programs: large blocks (a
// 1 MiB image buffer, libFuzzer's copy of a long input) are kept when freed and
// handed out again, instead of being mapped afresh on every run. Under ASan
// every large block is a fresh mapping whose pages fault in one by one, and on
// a virtual machine that alone held the image targets to a few dozen runs a
// second. A large block is taken at the next power of two, so that blocks
// recur; what lies past the size asked for stays poisoned, and so does a kept
// block while it waits: an overflow or a use after free is still reported
// (as a use after poison).
// Everything smaller goes to the sanitizer's malloc as before. The aligned
// forms are left to the sanitizer (they pair among themselves).

#include <sanitizer/allocator_interface.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kKeptFrom = 64 * 1024;  // below this the sanitizer's own size classes recycle
constexpr std::size_t kKeptBlocks = 16;
constexpr std::size_t kKeptTo = std::size_t{1} << 32;  // larger requests go to malloc (and usually fail)

struct Kept {
  void* block;
  std::size_t size;
};
std::array<Kept, kKeptBlocks> kept{};  // oldest first
std::size_t keptCount = 0;

void* Take(std::size_t size) {
  if (size < kKeptFrom || size > kKeptTo) return std::malloc(size == 0 ? 1 : size);
  const std::size_t whole = std::bit_ceil(size);
  void* block = nullptr;
  for (std::size_t i = keptCount; i > 0 && block == nullptr; --i) {
    if (kept[i - 1].size != whole) continue;
    block = kept[i - 1].block;
    std::copy(kept.begin() + static_cast<std::ptrdiff_t>(i), kept.begin() + static_cast<std::ptrdiff_t>(keptCount),
              kept.begin() + static_cast<std::ptrdiff_t>(i - 1));
    --keptCount;
  }
  if (block == nullptr) {
    block = std::malloc(whole);
    if (block == nullptr) return nullptr;
  }
  ASAN_UNPOISON_MEMORY_REGION(block, size);
  ASAN_POISON_MEMORY_REGION(static_cast<std::uint8_t*>(block) + size, whole - size);
  return block;
}

// A full store frees its oldest block: a run then frees as many blocks as it
// takes, which keeps libFuzzer from suspecting a leak after every run.
void Give(void* block) {
  if (block == nullptr) return;
  const std::size_t size = __sanitizer_get_allocated_size(block);
  if (size < kKeptFrom) {
    std::free(block);
    return;
  }
  if (keptCount == kKeptBlocks) {
    std::free(kept[0].block);
    std::copy(kept.begin() + 1, kept.end(), kept.begin());
    --keptCount;
  }
  ASAN_POISON_MEMORY_REGION(block, size);
  kept[keptCount++] = Kept{block, size};
}

void* TakeOrThrow(std::size_t size) {
  void* block = Take(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return TakeOrThrow(size); }
void* operator new[](std::size_t size) { return TakeOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Take(size); }
void operator delete(void* block) noexcept { Give(block); }
void operator delete[](void* block) noexcept { Give(block); }
void operator delete(void* block, std::size_t) noexcept { Give(block); }
void operator delete[](void* block, std::size_t) noexcept { Give(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Give(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Give(block); }
