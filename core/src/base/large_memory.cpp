#include "base/large_memory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Under AddressSanitizer every block stays on the heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
#define PARAVOX_MAP_LARGE_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PARAVOX_MAP_LARGE_BLOCKS 0
#endif
#endif
#if !defined(PARAVOX_MAP_LARGE_BLOCKS) && defined(__linux__)
#define PARAVOX_MAP_LARGE_BLOCKS 1
#elif !defined(PARAVOX_MAP_LARGE_BLOCKS)
#define PARAVOX_MAP_LARGE_BLOCKS 0
#endif

#if PARAVOX_MAP_LARGE_BLOCKS
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace paravox {
namespace {

void* heap_allocate(std::size_t size) {
  // malloc(0) may return null, which would read as failure.
  void* block = std::malloc(std::max<std::size_t>(size, 1));
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* heap_resize(void* block, std::size_t new_size) {
  void* moved = std::realloc(block, std::max<std::size_t>(new_size, 1));
  if (moved == nullptr) throw std::bad_alloc();
  return moved;
}

#if PARAVOX_MAP_LARGE_BLOCKS

// The size of a transparent huge page on x86-64 and of the common arm64 configuration; on
// systems with another size the mapping is merely aligned more than needed.
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

bool is_large(std::size_t size) noexcept {
  return size >= kLargeBlock;
}

std::size_t page_size() noexcept {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t mapped_length(std::size_t size) noexcept {
  const std::size_t page = page_size();
  return (size + page - 1) / page * page;
}

// Maps `size` bytes starting on a huge-page boundary, so that every whole huge page of the
// block can be backed by one. The advice is only a hint: without huge pages the block
// still works, in small pages.
void* map_large(std::size_t size) {
  const std::size_t length = mapped_length(size);
  if (length > SIZE_MAX - kHugePage) throw std::bad_alloc();
  void* raw =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto raw_start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t start = (raw_start + kHugePage - 1) & ~(kHugePage - 1);
  const std::size_t head = start - raw_start;
  if (head != 0) munmap(raw, head);
  munmap(reinterpret_cast<void*>(start + length), kHugePage - head);
  void* block = reinterpret_cast<void*>(start);
  madvise(block, length, MADV_HUGEPAGE);
  return block;
}

void unmap_large(void* block, std::size_t size) noexcept {
  munmap(block, mapped_length(size));
}

#else

bool is_large(std::size_t) noexcept {
  return false;
}
void* map_large(std::size_t size) {
  return heap_allocate(size);
}
void unmap_large(void* block, std::size_t) noexcept {
  std::free(block);
}

#endif

}  // namespace

void* allocate_block(std::size_t size) {
  return is_large(size) ? map_large(size) : heap_allocate(size);
}

void release_block(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (is_large(size)) {
    unmap_large(block, size);
  } else {
    std::free(block);
  }
}

void discard_front(void* block, std::size_t size, std::size_t n) noexcept {
#if PARAVOX_MAP_LARGE_BLOCKS
  if (block == nullptr || !is_large(size)) return;
  const std::size_t whole_pages = std::min(n, size) / page_size() * page_size();
  if (whole_pages != 0) madvise(block, whole_pages, MADV_DONTNEED);
#else
  (void)block, (void)size, (void)n;
#endif
}

void* resize_block(void* block, std::size_t old_size, std::size_t new_size) {
  if (block == nullptr) return allocate_block(new_size);
  const bool was_large = is_large(old_size);
  const bool becomes_large = is_large(new_size);
  if (!was_large && !becomes_large) return heap_resize(block, new_size);
#if PARAVOX_MAP_LARGE_BLOCKS
  if (was_large && becomes_large) {
    // The kernel moves the pages themselves, not their bytes; the mapping keeps its advice.
    void* moved = mremap(block, mapped_length(old_size), mapped_length(new_size), MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) throw std::bad_alloc();
    return moved;
  }
#endif
  void* fresh = allocate_block(new_size);
  std::memcpy(fresh, block, std::min(old_size, new_size));
  release_block(block, old_size);
  return fresh;
}

}  // namespace paravox
