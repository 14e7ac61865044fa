#pragma once

#include <cstdint>
#include <cstdio>

// Writes the count of whole kibibytes in `input_bytes`, then "K", then one
// backspace for the letter and one for every digit, so that the cursor comes
// back to the first digit and the next counter, never shorter, covers this one.
void show_progress(std::FILE* console, std::uint64_t input_bytes);
