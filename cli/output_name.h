#pragma once

#include <memory>

// Names the output of `input_name`: the input's name up to the last "." of its
// final path component, then ".mp1"; the whole name then ".mp1" when that
// component holds no ".". The output thus always lands in the input's folder.
// Returns null when no storage can be had for the name.
std::unique_ptr<char[]> make_output_name(const char* input_name);
