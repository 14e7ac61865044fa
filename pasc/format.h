// Layout of a PASC file and of the MPEG-1 Layer I stream made from it.
//
// A PASC file is a two-byte signature followed by 420-byte frame records, back
// to back, with no count or trailer; bytes at the end that do not fill a whole
// record are ignored. Each record starts with an MPEG-1 audio frame header
// whose padding bit alone decides how long the frame is: 420 bytes when set,
// 416 when clear, the last 4 bytes of an unpadded record being filler.
#pragma once

#include <cstddef>

inline constexpr unsigned char kSignatureFirstByte = 0x2C;
inline constexpr unsigned char kSignatureSecondByte = 0x00;
inline constexpr std::size_t kSignatureLength = 2;

inline constexpr std::size_t kRecordSize = 420;
inline constexpr std::size_t kUnpaddedFrameLength = 416;

// The padding bit sits in the third byte of the frame header.
inline constexpr std::size_t kPaddingByteOffset = 2;
inline constexpr unsigned char kPaddingBitMask = 0x02;

// Records are read, compacted and written a block at a time.
inline constexpr std::size_t kRecordsPerBlock = 100;
