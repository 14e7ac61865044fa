// Any bytes after the signature: the output must hold exactly the kept bytes
// of every whole record, by the padding bit alone, and the console exactly the
// counters and the totals that those records make.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "pasc/repack.h"

namespace {

constexpr std::size_t kRecord = 420;

std::string expected_frames(const std::uint8_t* data, std::size_t size) {
  std::string frames;
  for (std::size_t at = 0; at + kRecord <= size; at += kRecord) {
    const bool padded = (data[at + 2] & 0x02U) != 0;
    frames.append(reinterpret_cast<const char*>(data + at), padded ? kRecord : 416);
  }
  return frames;
}

std::string expected_console(std::size_t records, std::size_t output_bytes) {
  std::string console;
  char text[64];
  for (std::size_t block = 0; block <= records / 100; ++block) {
    const std::string kibibytes = std::to_string((2 + block * 100 * kRecord) / 1024);
    console += kibibytes + "K\b" + std::string(kibibytes.size(), '\b');
  }
  std::snprintf(text, sizeof text, "%zu input bytes, %zu output bytes.\n", 2 + records * kRecord,
                output_bytes);
  return console + text;
}

// What was written to a memory stream, which is then closed.
std::string contents(std::FILE* stream, char*& buffer, const std::size_t& length) {
  std::fclose(stream);
  std::string text(buffer, length);
  std::free(buffer);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string body(reinterpret_cast<const char*>(data), size);
  std::FILE* input = fmemopen(body.data(), size, "rb");
  char* output_buffer = nullptr;
  std::size_t output_length = 0;
  std::FILE* output = open_memstream(&output_buffer, &output_length);
  char* console_buffer = nullptr;
  std::size_t console_length = 0;
  std::FILE* console = open_memstream(&console_buffer, &console_length);
  if (input == nullptr || output == nullptr || console == nullptr) {
    std::abort();
  }

  repack_frames(input, output, console);
  std::fclose(input);
  const std::string written = contents(output, output_buffer, output_length);
  const std::string shown = contents(console, console_buffer, console_length);

  const std::string frames = expected_frames(data, size);
  if (written != frames || shown != expected_console(size / kRecord, frames.size())) {
    std::abort();
  }
  return 0;
}
