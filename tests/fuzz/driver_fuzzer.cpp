// One file argument from start to end: an arbitrary name and arbitrary
// contents, converted in a scratch folder. A PASC file must convert exactly,
// beside itself; anything else must fail and leave no output behind; and the
// input must never change.
//
// The first byte gives the length of the name, whose bytes map onto an
// alphabet rich in "." and "/"; the rest is the file.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "cli/driver.h"

namespace fs = std::filesystem;

namespace {

std::string read_file(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string expected_frames(const std::string& pasc) {
  std::string frames;
  for (std::size_t at = 2; at + 420 <= pasc.size(); at += 420) {
    frames.append(pasc, at, (pasc[at + 2] & 0x02) != 0 ? 420 : 416);
  }
  return frames;
}

std::string expected_output_name(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = name.rfind('.');
  return (dot != std::string::npos && dot >= start ? name.substr(0, dot) : name) + ".mp1";
}

fs::path scratch_folder;

void remove_scratch_folder() { fs::remove_all(scratch_folder); }

// A fresh, empty scratch folder, made once and emptied for every input. The
// process works inside it, so that names stay relative as a user types them.
void enter_empty_scratch_folder() {
  if (scratch_folder.empty()) {
    std::string pattern = (fs::temp_directory_path() / "marlet-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || chdir(pattern.c_str()) != 0) {
      std::abort();
    }
    scratch_folder = pattern;
    std::atexit(remove_scratch_folder);
  }
  for (const auto& entry : fs::directory_iterator(scratch_folder)) {
    fs::remove_all(entry.path());
  }
}

std::size_t count_files() {
  std::size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(".")) {
    files += entry.is_regular_file() ? 1 : 0;
  }
  return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  constexpr char kAlphabet[] = "a.mp1/P-";
  const std::size_t name_length = std::min<std::size_t>(data[0] % 48, size - 1);
  std::string name;
  for (std::size_t i = 1; i <= name_length; ++i) {
    name += kAlphabet[data[i] % (sizeof kAlphabet - 1)];
  }
  // Stay inside the scratch folder.
  if (name.starts_with('/') || name.find("..") != std::string::npos) {
    return 0;
  }
  const std::string contents(reinterpret_cast<const char*>(data) + 1 + name_length,
                             size - 1 - name_length);

  enter_empty_scratch_folder();
  std::error_code error;
  const fs::path input(name);
  if (input.has_parent_path()) {
    fs::create_directories(input.parent_path(), error);
  }
  bool input_written = false;
  if (!name.empty() && !name.ends_with('/') && !fs::exists(input, error)) {
    std::ofstream(input, std::ios::binary) << contents;
    input_written =
        fs::is_regular_file(input, error) && fs::file_size(input, error) == contents.size();
  }

  const bool converted = convert_file(name.c_str());

  const fs::path output(expected_output_name(name));
  const bool is_pasc = contents.size() >= 2 && contents[0] == 0x2C && contents[1] == 0x00;
  const bool should_convert = input_written && is_pasc && output != input;
  if (converted != should_convert) {
    std::abort();
  }
  if (input_written && read_file(input) != contents) {
    std::abort();  // the input was harmed
  }
  if (converted ? read_file(output) != expected_frames(contents)
                : count_files() != (input_written ? 1U : 0U)) {
    std::abort();
  }
  return 0;
}
