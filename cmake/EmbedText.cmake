# cmake -DINPUT=file -DOUTPUT=file.cpp -DFUNCTION=Ns::Name -DHEADER=dir/Name.h -P EmbedText.cmake
# Writes a C++ source whose FUNCTION, declared in HEADER, returns the bytes of
# INPUT as they are (line ends, trailing newline and all), then a zero.
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REPEAT "0x..," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}" "// Generated at build time from ${INPUT}; edit that file.
#include \"${HEADER}\"

namespace {
const unsigned char kText[] = {
${bytes}0x00};
} // namespace

const char* ${FUNCTION}() { return reinterpret_cast<const char*>(kText); }
")
