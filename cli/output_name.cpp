#include "cli/output_name.h"

#include <cstring>
#include <new>
#include <string_view>

std::unique_ptr<char[]> make_output_name(const char* input_name) {
  constexpr std::string_view extension = ".mp1";
  const std::string_view name(input_name);

  // A "." in a directory component is not an extension.
  const std::size_t slash = name.rfind('/');
  const std::size_t file_name_start = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = name.rfind('.');
  const std::size_t stem_length =
      dot != std::string_view::npos && dot >= file_name_start ? dot : name.size();

  std::unique_ptr<char[]> output_name(new (std::nothrow) char[stem_length + extension.size() + 1]);
  if (!output_name) {
    return nullptr;
  }
  std::memcpy(output_name.get(), name.data(), stem_length);
  std::memcpy(output_name.get() + stem_length, extension.data(), extension.size());
  output_name[stem_length + extension.size()] = '\0';
  return output_name;
}
