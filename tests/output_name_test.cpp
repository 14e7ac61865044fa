#include "cli/output_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(OutputName, ReplacesTheExtensionOfTheFinalComponentOnly) {
  const struct {
    const char* input;
    const char* output;
  } cases[] = {
      {"track.pas", "track.mp1"},
      {"TRACK.PAS", "TRACK.mp1"},  // the extension is always lower case
      {"track", "track.mp1"},
      {"track.", "track.mp1"},
      {"live.set.pas", "live.set.mp1"},
      {"track.mp1", "track.mp1"},
      // A "." in a folder name is no extension: the output stays beside its input.
      {"old.dir/track", "old.dir/track.mp1"},
      {"old.dir/a.b", "old.dir/a.mp1"},
      {"./track", "./track.mp1"},
      {"../track", "../track.mp1"},
      {"/data/v1.2/tape", "/data/v1.2/tape.mp1"},
      {"", ".mp1"},
      {"-", "-.mp1"},
  };
  for (const auto& c : cases) {
    const auto name = make_output_name(c.input);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::string(name.get()), c.output) << "input \"" << c.input << '"';
  }
}

TEST(OutputName, HoldsAWholeLongName) {
  const std::string stem(5000, 'a');
  EXPECT_EQ(std::string(make_output_name((stem + ".pas").c_str()).get()), stem + ".mp1");
}

}  // namespace
