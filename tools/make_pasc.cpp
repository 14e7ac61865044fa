// make_pasc: writes a PASC file as a tape holds it, for the demo, the tests and
// the benchmark.
//
// Every record holds a real MPEG-1 Layer I frame (44.1 kHz, 384 kbit/s, stereo,
// no CRC) that plays a steady 344.5 Hz tone. Such a frame is 416 bytes, or 420
// when the encoder pads it to hold the bit rate; an unpadded frame is followed
// by 4 filler bytes. The last 4 bytes of every frame carry its index, big-endian,
// so that a lost, repeated or reordered frame shows in a byte comparison.
//
//   make_pasc [--records N] [--padding tape|PATTERN] [--filler BYTE] [--tail N] FILE
//
// --padding tape pads as an encoder does (the default); a PATTERN of the letters
// p (padded) and u (unpadded) is repeated over the records instead, so "p" pads
// every frame and "uup" gives unpadded, unpadded, padded, ... --tail N appends
// the first N (0 to 419) bytes of one further record, as a cut tape ends.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kRecordSize = 420;
constexpr std::size_t kUnpaddedFrameLength = 416;
constexpr std::size_t kSubbands = 32;
constexpr std::size_t kChannels = 2;
constexpr std::size_t kSamplesPerSubband = 12;

// Sync, MPEG-1, Layer I, no CRC; 384 kbit/s, 44.1 kHz; stereo.
constexpr std::array<unsigned char, 4> kHeader = {0xFF, 0xFF, 0xC0, 0x00};
constexpr unsigned char kPaddingBit = 0x02;

// Subband 0 of both channels carries 4-bit samples; the others are silent.
// Sample codes mid+k, mid, -k, mid at the subband rate of 44100/32 Hz make a
// tone of 44100/128 Hz, in the middle of subband 0.
constexpr unsigned kAllocation = 3;  // 4 bits per sample
constexpr unsigned kSampleBits = kAllocation + 1;
constexpr unsigned kScalefactor = 12;  // 2.0 * 2^(-12/3) = 0.125
constexpr std::array<unsigned, 4> kToneCodes = {13, 7, 1, 7};

// Writes the `width` low bits of `value`, most significant first, at bit
// position `bit` of the zeroed `bytes`, and advances `bit` past them.
void put_bits(unsigned char* bytes, std::size_t& bit, unsigned value, unsigned width) {
  for (unsigned i = width; i-- > 0;) {
    if (((value >> i) & 1U) != 0) {
      bytes[bit / 8] |= static_cast<unsigned char>(0x80U >> (bit % 8));
    }
    ++bit;
  }
}

// The audio part of every frame: header, bit allocation, scalefactors, samples.
// Everything after it up to the frame's end is ancillary data.
void write_audio(unsigned char* frame) {
  std::memcpy(frame, kHeader.data(), kHeader.size());
  std::size_t bit = kHeader.size() * 8;
  for (std::size_t subband = 0; subband < kSubbands; ++subband) {
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
      put_bits(frame, bit, subband == 0 ? kAllocation : 0, 4);
    }
  }
  for (std::size_t channel = 0; channel < kChannels; ++channel) {
    put_bits(frame, bit, kScalefactor, 6);
  }
  for (std::size_t sample = 0; sample < kSamplesPerSubband; ++sample) {
    for (std::size_t channel = 0; channel < kChannels; ++channel) {
      put_bits(frame, bit, kToneCodes[sample % kToneCodes.size()], kSampleBits);
    }
  }
}

// An encoder pads frame i when the running fraction of a 4-byte slot, 24/49 per
// frame at 44.1 kHz and 384 kbit/s, crosses a whole number.
bool is_padded(std::uint64_t index, const std::string& padding) {
  if (padding == "tape") {
    return (index + 1) * 24 / 49 > index * 24 / 49;
  }
  return padding[index % padding.size()] == 'p';
}

void write_record(unsigned char* record, std::uint64_t index, bool padded, unsigned char filler) {
  std::memset(record, 0, kRecordSize);
  write_audio(record);
  const std::size_t frame_length = padded ? kRecordSize : kUnpaddedFrameLength;
  if (padded) {
    record[2] |= kPaddingBit;
  } else {
    std::memset(record + kUnpaddedFrameLength, filler, kRecordSize - kUnpaddedFrameLength);
  }
  for (std::size_t i = 0; i < 4; ++i) {
    record[frame_length - 1 - i] = static_cast<unsigned char>(index >> (8 * i));
  }
}

[[noreturn]] void usage() {
  std::fputs(
      "usage: make_pasc [--records N] [--padding tape|PATTERN] [--filler BYTE] [--tail N] FILE\n",
      stderr);
  std::exit(2);
}

unsigned long long number(const char* text, unsigned long long limit) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || value > limit) {
    usage();
  }
  return value;
}

}  // namespace

int main(int argc, char* argv[]) {
  std::uint64_t records = 500;
  std::string padding = "tape";
  unsigned char filler = 0x00;
  std::size_t tail = 0;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool has_value = i + 1 < argc;
    if (option == "--records" && has_value) {
      records = number(argv[++i], 1ULL << 40);
    } else if (option == "--padding" && has_value) {
      padding = argv[++i];
      if (padding != "tape" &&
          (padding.empty() || padding.find_first_not_of("pu") != std::string::npos)) {
        usage();
      }
    } else if (option == "--filler" && has_value) {
      filler = static_cast<unsigned char>(number(argv[++i], 0xFF));
    } else if (option == "--tail" && has_value) {
      tail = number(argv[++i], kRecordSize - 1);
    } else if (path == nullptr && option.rfind("--", 0) != 0) {
      path = argv[i];
    } else {
      usage();
    }
  }
  if (path == nullptr) {
    usage();
  }

  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return 1;
  }
  constexpr unsigned char kSignature[] = {0x2C, 0x00};
  std::fwrite(kSignature, 1, sizeof kSignature, file);

  constexpr std::size_t kRecordsPerWrite = 1024;
  std::vector<unsigned char> chunk(kRecordsPerWrite * kRecordSize);
  for (std::uint64_t index = 0; index < records;) {
    std::size_t count = 0;
    for (; count < kRecordsPerWrite && index < records; ++count, ++index) {
      write_record(chunk.data() + count * kRecordSize, index, is_padded(index, padding), filler);
    }
    std::fwrite(chunk.data(), kRecordSize, count, file);
  }
  if (tail > 0) {
    write_record(chunk.data(), records, is_padded(records, padding), filler);
    std::fwrite(chunk.data(), 1, tail, file);
  }
  const bool write_failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || write_failed) {
    std::perror(path);
    return 1;
  }
  return 0;
}
