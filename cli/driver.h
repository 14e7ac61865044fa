#pragma once

// Converts the PASC file named `input_name` into its ".mp1" file, writing every
// message on standard error and the counter and totals on standard output.
// Returns false when anything about this file failed and was reported.
bool convert_file(const char* input_name);

// The whole command: the banner, then the syntax text when no file is named,
// else every argument converted in turn. Returns the exit status: 0 when every
// file went through, 1 when none was named, 2 when any failed.
int run_marlet(int argc, char* argv[]);
