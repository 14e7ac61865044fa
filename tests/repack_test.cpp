#include "pasc/repack.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kRecord = 420;
constexpr std::size_t kUnpadded = 416;

// Records as the letters of `pattern` say, p padded and u unpadded; every byte
// of record r holds r + 1, so that a lost, repeated or moved byte shows.
std::string records(const std::string& pattern) {
  std::string body;
  for (std::size_t r = 0; r < pattern.size(); ++r) {
    std::string record(kRecord, static_cast<char>(r + 1));
    record[2] = static_cast<char>(pattern[r] == 'p' ? 0xFF : 0xFD);
    body += record;
  }
  return body;
}

// The frames of `body` as a player wants them: every whole record, cut to 416
// bytes where the padding bit is clear.
std::string frames(const std::string& body) {
  std::string stream;
  for (std::size_t at = 0; at + kRecord <= body.size(); at += kRecord) {
    const bool padded = (static_cast<unsigned char>(body[at + 2]) & 0x02) != 0;
    stream.append(body, at, padded ? kRecord : kUnpadded);
  }
  return stream;
}

std::string repeat(const std::string& pattern, std::size_t count) {
  std::string repeated;
  for (std::size_t i = 0; i < count; ++i) {
    repeated += pattern;
  }
  return repeated;
}

// A memory stream that collects what is written to it.
struct Sink {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* stream = open_memstream(&data, &size);

  std::string text() {
    std::fflush(stream);
    return {data, size};
  }
  ~Sink() {
    std::fclose(stream);
    std::free(data);
  }
};

struct Converted {
  std::string output;
  std::string console;
  bool read_error;
  bool write_error;
};

// Runs repack_frames over `body`, the bytes after the signature.
Converted convert(std::string body, std::FILE* input = nullptr, std::FILE* output = nullptr) {
  body.push_back('\0');  // fmemopen wants room even for an empty file
  std::FILE* memory_input = input != nullptr ? input : fmemopen(body.data(), body.size() - 1, "rb");
  Sink output_sink;
  Sink console;
  std::FILE* to = output != nullptr ? output : output_sink.stream;
  repack_frames(memory_input, to, console.stream);
  Converted result{output_sink.text(), console.text(), std::ferror(memory_input) != 0,
                   std::ferror(to) != 0};
  if (input == nullptr) {
    std::fclose(memory_input);
  }
  return result;
}

TEST(Repack, KeepsEveryFrameAndDropsTheFillerOfUnpaddedOnes) {
  const struct {
    const char* what;
    std::string body;
  } cases[] = {
      {"no record", ""},
      {"unpadded, unpadded, padded", records("uup")},
      {"every record padded", records(repeat("p", 130))},
      {"no record padded", records(repeat("u", 130))},
      {"mixed over several blocks", records(repeat("upuupp", 51))},
      {"a tail of 419 bytes", records("pup") + std::string(419, 'x')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(convert(c.body).output, frames(c.body)) << c.what;
  }
}

TEST(Repack, CutsByThePaddingBitAlone) {
  const struct {
    unsigned char third_header_byte;
    std::size_t kept;
  } cases[] = {{0xFF, 420}, {0x02, 420}, {0xFD, 416}, {0x00, 416}};
  for (const auto& c : cases) {
    std::string body(kRecord, '\x5A');
    body[2] = static_cast<char>(c.third_header_byte);
    EXPECT_EQ(convert(body).output, body.substr(0, c.kept)) << int{c.third_header_byte};
  }
  EXPECT_EQ(convert(std::string(kRecord, '\0')).output, std::string(kUnpadded, '\0'));
}

TEST(Repack, ShowsTheCounterBeforeEachBlockAndEndsWithTheTotals) {
  const struct {
    std::size_t records;
    const char* console;
  } cases[] = {
      {0, "0K\b\b2 input bytes, 0 output bytes.\n"},
      {3, "0K\b\b1262 input bytes, 1252 output bytes.\n"},
      // A multiple of 100 ends with a read that brings nothing, and still shows.
      {100, "0K\b\b41K\b\b\b42002 input bytes, 41732 output bytes.\n"},
      {250, "0K\b\b41K\b\b\b82K\b\b\b105002 input bytes, 104332 output bytes.\n"},
  };
  for (const auto& c : cases) {
    const std::string body = records(repeat("uup", c.records).substr(0, c.records));
    EXPECT_EQ(convert(body + "tail").console, c.console) << c.records << " records";
  }
}

// A stream that serves `body` and fails every read past `fail_after` bytes, or
// accepts `accept` bytes of writes and fails every write after that.
struct Scripted {
  std::string body;
  std::size_t fail_after;
  std::size_t position = 0;
  std::size_t writes = 0;
};

ssize_t scripted_read(void* cookie, char* buffer, std::size_t size) {
  auto* s = static_cast<Scripted*>(cookie);
  if (s->position >= s->fail_after) {
    return -1;
  }
  const std::size_t count =
      std::min({size, s->body.size() - s->position, s->fail_after - s->position});
  s->body.copy(buffer, count, s->position);
  s->position += count;
  return static_cast<ssize_t>(count);
}

ssize_t scripted_write(void* cookie, const char* buffer, std::size_t size) {
  auto* s = static_cast<Scripted*>(cookie);
  ++s->writes;
  const std::size_t count = std::min(size, s->fail_after - s->position);
  s->body.append(buffer, count);
  s->position += count;
  return static_cast<ssize_t>(count);  // 0 is how a cookie reports an error
}

std::FILE* open_scripted(Scripted& script, const char* mode) {
  std::FILE* stream = fopencookie(&script, mode, {scripted_read, scripted_write, nullptr, nullptr});
  std::setvbuf(stream, nullptr, _IONBF, 0);  // every request reaches the script
  return stream;
}

TEST(Repack, StopsAtAReadErrorAfterWritingTheWholeRecordsBeforeIt) {
  const std::string body = records(repeat("pu", 150));
  Scripted script{body, 130 * kRecord + 10};
  std::FILE* input = open_scripted(script, "r");
  const Converted converted = convert("", input);
  EXPECT_EQ(converted.output, frames(body.substr(0, 130 * kRecord)));
  EXPECT_EQ(converted.console, "0K\b\b41K\b\b\b54602 input bytes, 54340 output bytes.\n");
  EXPECT_TRUE(converted.read_error);
  std::fclose(input);
}

TEST(Repack, StopsAtTheFirstWriteThatWritesNothing) {
  const std::string body = records(repeat("u", 250));
  Scripted script{"", 0};
  std::FILE* output = open_scripted(script, "w");
  std::FILE* input = fmemopen(const_cast<char*>(body.data()), body.size(), "rb");
  const Converted converted = convert("", input, output);
  // The failed block is counted as read, and nothing more is read after it.
  EXPECT_EQ(converted.console, "0K\b\b42002 input bytes, 0 output bytes.\n");
  EXPECT_EQ(std::ftell(input), 100 * 420);
  EXPECT_EQ(script.writes, 1U);
  EXPECT_TRUE(converted.write_error);
  std::fclose(input);
  std::fclose(output);
}

// Writing on after a failed write could leave a gap, should the sink recover.
TEST(Repack, StopsAtAShortWriteAndCountsWhatWasWritten) {
  const std::string body = records(repeat("u", 350));
  Scripted script{"", 50000};  // the second block is cut short
  std::FILE* output = open_scripted(script, "w");
  std::FILE* input = fmemopen(const_cast<char*>(body.data()), body.size(), "rb");
  const Converted converted = convert("", input, output);
  EXPECT_EQ(script.body, frames(body).substr(0, 50000));
  EXPECT_EQ(converted.console, "0K\b\b41K\b\b\b84002 input bytes, 50000 output bytes.\n");
  EXPECT_EQ(std::ftell(input), 200 * 420);
  EXPECT_TRUE(converted.write_error);
  std::fclose(input);
  std::fclose(output);
}

}  // namespace
