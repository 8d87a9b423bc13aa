#pragma once
// The text chunk file (config.txt and the like): one "name value" line per
// child, containers between braces. The writer has one canonical layout; the
// reader is forgiving and guesses each value's type from its look.
//
// Everything here works on the stream it is given and keeps no state of its
// own, so several threads may read files at once.
#include <cstddef>
#include <string>

#include "Vak/Bexlorn/PString.h"
#include "content/ACSChunk.h"
#include "content/ACSChunkPtr.h"

class TStream;

namespace ChunkText {

// Values start at this column when the name is short enough.
constexpr int kValueColumn = 40;
// Characters of a tag name kept by the reader and by NormaliseTagName.
constexpr std::size_t kMaxReadName = 511;
constexpr std::size_t kMaxWrittenName = 1024;

enum class ValueKind { kEmpty, kContainer, kString, kFloat, kInt, kNumberList };

}  // namespace ChunkText

// Byte-order mark, CR LF, then the children; nothing at all for a null root.
void WriteChunkFileText(ACSChunk* root, TStream& stream);
void WriteChunkFileText(const ACSChunkPtr& root, TStream& stream);
void WriteChunkTextChildren(ACSChunk* container, int level, TStream& stream);
// One child without its line end.
void WriteChunkTextNode(ACSChunk* chunk, const Vak::PString& name, int level, TStream& stream);
// Double quotes become apostrophes; the text is quoted when asked or when it
// holds a blank or a line end.
void WriteChunkTextValue(const char* text, std::size_t length, bool quote, TStream& stream);
// At most 1024 characters; blanks, controls and bytes of 0x80 or more become
// '_', A-Z become a-z.
std::string NormaliseTagName(const char* name, std::size_t length);

// Replaces the tree held by `pointer`; it stays null when the stream is not
// open, holds no entry, or nests deeper than ChunkFile::kMaxDepth. `utf8` says the input is known to be UTF-8; without
// it a leading byte-order mark says so, else strings are Windows-1252.
void ReadChunkFileText(ACSChunkPtr& pointer, TStream& stream, bool utf8);

// The reader's steps. A NUL byte ends the input for all of them.
// Looks ahead from just behind a tag name; the stream is left where it was,
// except that a container's '{' is consumed.
ChunkText::ValueKind ClassifyChunkTextValue(TStream& stream);
// Lower-cased; empty at a '}' (left unread) or the end.
void ReadChunkTextTagName(TStream& stream, std::string& name);
// A number's token, read whole; one trailing backslash is dropped.
void ReadChunkTextValue(TStream& stream, std::string& token);
// A string value, quoted or not.
void ReadChunkTextString(TStream& stream, std::string& text);
