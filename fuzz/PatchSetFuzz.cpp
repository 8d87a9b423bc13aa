// Reads arbitrary bytes as a patch set's three list files into the three
// maps: the input is split at its first two NUL bytes into "addedFiles.txt",
// "deletedFiles.txt" and "patchedFiles.txt". Every record kept has non-empty
// single-line fields, and what is read is written back and read again
// unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/PatchSet.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool OneLine(const std::string& text) { return !text.empty() && text.find('\n') == std::string::npos; }

void RoundTrip(const PatchMap& map, bool patched) {
  PatchMap written = map;
  // patchdiff keeps the two digests without the closing line feed.
  if (patched)
    for (auto& entry : written) entry.second.pop_back();
  const std::string bytes = FormatPatchList(written);
  PatchMap read;
  ParsePatchList(bytes.data(), bytes.size(), patched, read);
  Check(read == map);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string lists[3];
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? input.find('\0', start) : std::string::npos;
    lists[i] = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  PatchMap added, deleted, patched;
  ParsePatchList(lists[0].data(), lists[0].size(), false, added);
  ParsePatchList(lists[1].data(), lists[1].size(), false, deleted);
  ParsePatchList(lists[2].data(), lists[2].size(), true, patched);

  for (const PatchMap* map : {&added, &deleted})
    for (const auto& [path, digest] : *map) Check(OneLine(path) && OneLine(digest));
  for (const auto& [path, digests] : patched) {
    Check(OneLine(path));
    Check(OneLine(PatchedOldDigest(digests)) && OneLine(PatchedNewDigest(digests)));
    Check(digests == PatchedOldDigest(digests) + '\n' + PatchedNewDigest(digests) + '\n');
  }
  RoundTrip(added, false);
  RoundTrip(deleted, false);
  RoundTrip(patched, true);
  return 0;
}
