#pragma once

#include <cstdio>

// Converts the frame records that follow the signature in `input` into an
// MPEG-1 Layer I stream on `output`: the filler of every unpadded record is
// dropped and the frames are written back to back. Reads 100 records per
// request and writes each block with one request, showing the progress counter
// on `console` once per block; ends with the totals line there and flushes it.
//
// Stops at the first read that yields fewer than 100 whole records, or at the
// first write that writes fewer bytes than asked. It does not tell end of file
// from a read error: failures are left in the streams' error indicators for the
// caller. Neither stream is closed.
void repack_frames(std::FILE* input, std::FILE* output, std::FILE* console);
