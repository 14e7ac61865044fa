#include "pasc/progress.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string shown_for(std::uint64_t input_bytes) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* console = open_memstream(&text, &length);
  show_progress(console, input_bytes);
  std::fclose(console);
  std::string shown(text, length);
  std::free(text);
  return shown;
}

// One backspace covers the K and one each digit, so the cursor ends on the first digit.
TEST(Progress, ShowsWholeKibibytesAndStepsBackOverThem) {
  const struct {
    std::uint64_t input_bytes;
    const char* shown;
  } cases[] = {
      {2, "0K\b\b"},  // the first counter of every file: just the signature
      {1023, "0K\b\b"},
      {1024, "1K\b\b"},
      {2 + 100 * 420, "41K\b\b\b"},
      {100ULL * 1024, "100K\b\b\b\b"},
      {5ULL << 30, "5242880K\b\b\b\b\b\b\b\b"},  // past 4 GiB the count goes on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown_for(c.input_bytes), c.shown) << c.input_bytes << " bytes";
  }
}

}  // namespace
