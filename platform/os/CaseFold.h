#pragma once
// Case folding of the ANSI code page (Windows-1252): the one table the whole
// program folds names and texts with. Bytes that are not letters come back as
// they are; letters without a partner in the other case (0xDF, 0xB5, 0x83)
// too.

namespace platform {

// Lower-case form of one byte.
unsigned char FoldCase(unsigned char c);
// Upper-case form of one byte.
unsigned char UpperCase(unsigned char c);

} // namespace platform
