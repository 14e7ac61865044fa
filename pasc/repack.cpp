#include "pasc/repack.h"

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstring>

#include "pasc/format.h"
#include "pasc/progress.h"

namespace {

// 420 bytes when the header's padding bit is set, else 416: the last 4 bytes of
// an unpadded record are filler.
std::size_t frame_length(const unsigned char* record) {
  return (record[kPaddingByteOffset] & kPaddingBitMask) != 0 ? kRecordSize : kUnpaddedFrameLength;
}

// Moves the frames of the first `records` records of `block` to its front, back
// to back, and returns the number of bytes they now fill. Every destination lies
// at or before its source, so the block is compacted in place; a frame that
// already stands at its place (all frames before it padded) is not moved.
std::size_t compact_block(unsigned char* block, std::size_t records) {
  std::size_t kept = 0;
  for (std::size_t r = 0; r < records; ++r) {
    const unsigned char* record = block + r * kRecordSize;
    const std::size_t length = frame_length(record);
    if (kept != r * kRecordSize) {
      std::memmove(block + kept, record, length);
    }
    kept += length;
  }
  return kept;
}

}  // namespace

void repack_frames(std::FILE* input, std::FILE* output, std::FILE* console) {
  std::array<unsigned char, kRecordsPerBlock * kRecordSize> block;
  std::uint64_t input_bytes = kSignatureLength;  // the caller has read the signature
  std::uint64_t output_bytes = 0;

  for (;;) {
    const std::size_t records = std::fread(block.data(), kRecordSize, kRecordsPerBlock, input);
    const std::uint64_t input_bytes_before_block = input_bytes;
    input_bytes += records * kRecordSize;
    const std::size_t kept = compact_block(block.data(), records);

    // The counter lags one block behind: it shows what was read before this one.
    show_progress(console, input_bytes_before_block);

    if (kept > 0) {
      const std::size_t written = std::fwrite(block.data(), 1, kept, output);
      output_bytes += written;
      // A short write means the stream has failed, and it may have dropped what
      // it held. Writing on could leave a gap in the output should the disk
      // recover; stopping keeps the output a clean run of frames from the start.
      if (written < kept) {
        break;
      }
    }
    if (records < kRecordsPerBlock) {
      break;
    }
  }

  std::fprintf(console, "%" PRIu64 " input bytes, %" PRIu64 " output bytes.\n", input_bytes,
               output_bytes);
  // When standard output and standard error share one file, this keeps the
  // line ahead of whatever the caller writes to standard error next.
  std::fflush(console);
}
