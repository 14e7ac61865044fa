#include "pasc/progress.h"

#include <cinttypes>

void show_progress(std::FILE* console, std::uint64_t input_bytes) {
  std::uint64_t kibibytes = input_bytes >> 10;
  std::fprintf(console, "%" PRIu64 "K\b", kibibytes);
  do {
    std::fputc('\b', console);
    kibibytes /= 10;
  } while (kibibytes != 0);
}
