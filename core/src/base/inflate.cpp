#include "base/inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>
#include <span>
#include <vector>

namespace paravox {
namespace {

constexpr std::string_view kCorrupt = "압축 해제 실패: corrupt deflate stream";
constexpr std::string_view kTooLarge = "압축 해제 실패: inflated section exceeds 268435456 bytes";
static_assert(kOutputLimit == 268435456, "the message above names the limit");

// Output kept while the size is unknown; past it, the section is measured first and then
// inflated once more into a buffer of its exact size, so memory never exceeds the limit.
constexpr std::size_t kGrowthLimit = kOutputLimit / 2;
constexpr std::size_t kFirstOutputSize = 16 * 1024;
constexpr std::size_t kExpectedRatio = 8;

ConvertError corrupt() {
  return ConvertError::parse(std::string(kCorrupt));
}
ConvertError too_large() {
  return ConvertError::parse(std::string(kTooLarge), ErrorCause::OverCeiling);
}

// One zlib raw inflater over `input`, fed in pieces that fit zlib's 32-bit counters.
class RawInflater {
 public:
  explicit RawInflater(Bytes input) : input_(input) {
    if (inflateInit2(&stream_, -15) != Z_OK) throw std::bad_alloc();
  }
  RawInflater(const RawInflater&) = delete;
  RawInflater& operator=(const RawInflater&) = delete;
  ~RawInflater() { inflateEnd(&stream_); }

  enum class Outcome { Ended, InputEnded, OutputFull, Corrupt };

  // Inflates into `out` until the DEFLATE stream ends, the input runs out before its final
  // block, the output is full, or the data is invalid. Returns the outcome and, through
  // `written`, how many bytes were stored.
  Outcome inflate_into(std::span<std::uint8_t> out, std::size_t& written) {
    written = 0;
    for (;;) {
      if (stream_.avail_in == 0 && fed_ < input_.size()) {
        const std::size_t piece = std::min<std::size_t>(input_.size() - fed_, UINT_MAX);
        // zlib never writes through next_in; its type predates const.
        stream_.next_in = const_cast<Bytef*>(input_.data() + fed_);
        stream_.avail_in = static_cast<uInt>(piece);
        fed_ += piece;
      }
      const std::size_t room = std::min<std::size_t>(out.size() - written, UINT_MAX);
      stream_.next_out = out.data() + written;
      stream_.avail_out = static_cast<uInt>(room);
      // Z_FINISH decodes exactly as Z_NO_FLUSH does, but spares zlib its sliding window (an
      // allocation and a copy of up to 32 KiB) when the stream ends within this call.
      const int rc = inflate(&stream_, Z_FINISH);
      written += room - stream_.avail_out;
      switch (rc) {
        case Z_STREAM_END:
          return Outcome::Ended;
        case Z_OK:
        case Z_BUF_ERROR:
          break;
        case Z_MEM_ERROR:
          throw std::bad_alloc();
        default:  // Z_DATA_ERROR, and Z_NEED_DICT / Z_STREAM_ERROR, which raw mode never gives
          return Outcome::Corrupt;
      }
      const bool input_left = stream_.avail_in != 0 || fed_ < input_.size();
      // zlib stops only when the input or the output is used up.
      if (!input_left && stream_.avail_out != 0) return Outcome::InputEnded;
      if (written == out.size()) return Outcome::OutputFull;
    }
  }

 private:
  Bytes input_;
  std::size_t fed_ = 0;
  z_stream stream_{};
};

// The size of a stream's output, and whether the stream reached its final block.
struct Measured {
  std::size_t total = 0;
  bool ended = true;
};

// Continues `inflater` without keeping its output and measures the whole output, counting
// `so_far` bytes already produced; an error when the data is corrupt or the total passes
// `limit`.
Result<Measured> measure_rest(RawInflater& inflater, std::size_t so_far, std::size_t limit) {
  std::vector<std::uint8_t> window(256 * 1024);
  std::size_t total = so_far;
  for (;;) {
    std::size_t written = 0;
    const auto outcome = inflater.inflate_into(window, written);
    total += written;
    if (total > limit) return too_large();
    if (outcome == RawInflater::Outcome::Corrupt) return corrupt();
    if (outcome != RawInflater::Outcome::OutputFull) {
      return Measured{total, outcome == RawInflater::Outcome::Ended};
    }
  }
}

// Inflates into one buffer of uninitialised memory that doubles while it fills, up to
// kGrowthLimit (or `limit`, when smaller); large buffers grow by remapping their pages
// (large_memory.h), so the output is never zero-filled and, in effect, never copied, and the
// section keeps no spare capacity. Past kGrowthLimit the rest is only measured, and a section
// that fits `limit` is inflated once more into a buffer of its exact size: memory never holds
// more than the limit.
Result<Inflated> inflate_growing(Bytes compressed, std::size_t first_size, std::size_t limit) {
  const std::size_t growth_limit = std::min(kGrowthLimit, limit);
  Measured measured;
  {
    ByteBuffer out;
    RawInflater inflater(compressed);
    auto outcome = RawInflater::Outcome::OutputFull;
    while (outcome == RawInflater::Outcome::OutputFull && out.size() < growth_limit) {
      if (out.spare().empty()) {
        out.reserve(std::min(std::max(first_size, 2 * out.capacity()), growth_limit));
      }
      std::size_t written = 0;
      outcome = inflater.inflate_into(out.spare(), written);
      if (outcome == RawInflater::Outcome::Corrupt) return corrupt();
      out.commit(written);
    }
    if (outcome != RawInflater::Outcome::OutputFull) {
      out.shrink_to_fit();
      return Inflated{std::move(out), outcome == RawInflater::Outcome::Ended};
    }
    const std::size_t kept = out.size();
    if (kept < kGrowthLimit) {
      // Full at `limit`: the stream must not give one byte more.
      std::uint8_t probe = 0;
      std::size_t written = 0;
      outcome = inflater.inflate_into(std::span(&probe, 1), written);
      if (written != 0) return too_large();
      if (outcome == RawInflater::Outcome::Corrupt) return corrupt();
      return Inflated{std::move(out), outcome == RawInflater::Outcome::Ended};
    }
    out.clear();
    Result<Measured> rest = measure_rest(inflater, kept, limit);
    if (!rest) return std::move(rest).error();
    measured = rest.value();
  }
  ByteBuffer out;
  out.reserve(measured.total);
  RawInflater inflater(compressed);
  std::size_t written = 0;
  // Same decoder, same input: it stops where the measuring pass did.
  if (inflater.inflate_into(out.spare(), written) == RawInflater::Outcome::Corrupt) {
    return corrupt();
  }
  out.commit(written);
  return Inflated{std::move(out), measured.ended};
}

}  // namespace

Result<Inflated> inflate_raw_stream(Bytes compressed) {
  // Real sections inflate to 2 to 8 times their compressed size: start with room for that.
  const std::size_t first_size =
      std::clamp(compressed.size() * kExpectedRatio, kFirstOutputSize, kGrowthLimit);
  return inflate_growing(compressed, first_size, kOutputLimit);
}

Result<Inflated> inflate_raw_stream(Bytes compressed, std::size_t limit) {
  limit = std::min(limit, kOutputLimit);
  // The limit is mostly the size the stream is expected to have.
  return inflate_growing(compressed, std::max<std::size_t>(limit, 1), limit);
}

Result<ByteBuffer> inflate_raw(Bytes compressed) {
  Result<Inflated> inflated = inflate_raw_stream(compressed);
  if (!inflated) return std::move(inflated).error();
  return std::move(inflated->bytes);
}

}  // namespace paravox
