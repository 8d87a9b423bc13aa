#pragma once
// UTF-8 sequences one at a time: encoding a code point, checking and decoding
// the sequence at a byte, and counting sequences. The checker reads no byte
// past the first one that makes the sequence illegal, so a zero-terminated
// text is never read beyond its end; the decoder trusts the lead byte.
#include <cstdint>

// Writes 1 to 4 bytes and returns their count; code points from 0x200000 on
// are written as '?'.
int EncodeUtf8(uint32_t codePoint, uint8_t* out);
// Whether the sequence at `bytes` is legal; its length goes to `length`
// (when given) only then.
bool CheckUtf8Sequence(const uint8_t* bytes, int* length);
// The code point of the sequence at `bytes`, by the lead byte's count of
// trailing bytes (which it reads whatever they are), and its length.
uint32_t DecodeUtf8(const uint8_t* bytes, int* length);
// The number of sequences in `byteLength` bytes, stepping by each lead
// byte's length.
int CountUtf8Characters(const uint8_t* bytes, int byteLength);
// The sequence length that a lead byte announces (1 to 6).
int Utf8SequenceLength(uint8_t lead);
