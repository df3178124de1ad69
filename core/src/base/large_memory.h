// Memory for the few buffers that grow with a document: its inflated sections and their
// record lists.
//
// A 100 MB section and its three million records are written once and read once, so the
// cost of such a buffer is mostly the kernel handing out its pages: about a millisecond per
// MiB in 4 KiB pages. Blocks of kLargeBlock bytes or more are therefore mapped directly and
// advised to be backed by huge pages, and grow by remapping their pages instead of copying
// them. Smaller blocks come from the ordinary heap, where documents of a few kilobytes reuse
// memory from call to call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace paravox {

inline constexpr std::size_t kLargeBlock = std::size_t{2} << 20;

// Uninitialised storage of `size` bytes, aligned for any object. Throws std::bad_alloc.
void* allocate_block(std::size_t size);

// Releases a block of `size` bytes from allocate_block or resize_block; null is ignored.
void release_block(void* block, std::size_t size) noexcept;

// Moves the first min(old_size, new_size) bytes of `block` into a block of `new_size`
// bytes, possibly in place, and returns it; `block` is released unless returned. A null
// `block` allocates. Throws std::bad_alloc, leaving `block` as it was.
void* resize_block(void* block, std::size_t old_size, std::size_t new_size);

// Tells the system that the first `n` bytes of a block of `size` bytes will not be read
// again: the whole pages among them of a mapped block are given back (and would read as zero);
// a heap block keeps its bytes.
void discard_front(void* block, std::size_t size, std::size_t n) noexcept;

// An owned, contiguous run of bytes that grows without zero-filling: the bytes beyond
// size() up to capacity() are uninitialised until written through spare() and committed
// with commit().
class ByteBuffer {
 public:
  ByteBuffer() noexcept = default;
  ByteBuffer(ByteBuffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ByteBuffer& operator=(ByteBuffer&& other) noexcept {
    ByteBuffer(std::move(other)).swap(*this);
    return *this;
  }
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { release_block(data_, capacity_); }

  std::uint8_t* data() noexcept { return data_; }
  const std::uint8_t* data() const noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }
  operator std::span<const std::uint8_t>() const noexcept { return bytes(); }

  // Makes the capacity at least `capacity`, keeping the bytes.
  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) return;
    data_ = static_cast<std::uint8_t*>(resize_block(data_, capacity_, capacity));
    capacity_ = capacity;
  }
  // The uninitialised room after the bytes.
  std::span<std::uint8_t> spare() noexcept { return {data_ + size_, capacity_ - size_}; }
  // Counts the first `n` bytes of spare() as written; `n` must not exceed its size.
  void commit(std::size_t n) noexcept { size_ += n; }
  // Returns the capacity beyond the bytes to the system.
  void shrink_to_fit() {
    if (capacity_ == size_) return;
    if (size_ == 0) {
      clear();
      return;
    }
    data_ = static_cast<std::uint8_t*>(resize_block(data_, capacity_, size_));
    capacity_ = size_;
  }
  // Gives back the pages of the first `n` bytes where it can, for a reader that has read
  // them for the last time; see discard_front above.
  void discard_front(std::size_t n) noexcept { paravox::discard_front(data_, capacity_, n); }
  // Drops the bytes and the storage.
  void clear() noexcept { ByteBuffer().swap(*this); }

  void swap(ByteBuffer& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace paravox
