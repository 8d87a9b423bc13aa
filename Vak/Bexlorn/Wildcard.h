#pragma once
// The engine's wildcard matcher.
//
// '*' matches a run of characters that are not separators, '?' one character
// that is not a separator; a separator matches either separator. Letters
// compare without regard to case (Windows-1252). A leading ".\" or "./" of
// name and pattern is skipped. ';' separates alternatives for the name part.
// Only the most recent '*' is remembered for backtracking, and the character
// after a '*' is compared literally.
//
// A pattern holding separators matches its folder part (up to its last
// separator) first. directoryEnd, when given, receives where a folder of the
// name ended the match: the name's separator matched by a pattern that ends
// with one, or the name's separator at which the pattern ran out. Null
// otherwise.
namespace Vak {

bool MatchWildcard(const char* name, const char* pattern, const char** directoryEnd);

} // namespace Vak
