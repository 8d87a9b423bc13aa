// Text level-of-detail descriptions through the reader, with the level files
// they name: a read that succeeds holds only indices inside its chunks, and
// what it built writes a file that reads back and writes the same bytes.
// Input: the description, then up to four level files, each part after a
// line "====". Part k (1 the first file) is stored as both "m<k>.im" and
// "m<k>.imtxt" in the target's scratch folder, which is the current folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "assets3d/VelmarIndexedMeshLODDefinition.h"
#include "fuzz/FuzzInputFile.h"
#include "fuzz/MeshFuzz.h"

namespace {

constexpr unsigned kLevelFiles = 4;
const std::string kSeparator = "\n====\n";

std::string ReadBack(const std::string& path) {
  Vak::File file;
  std::string bytes;
  if (!file.Open(path.c_str(), Vak::File::kRead).Ok()) return bytes;
  char buffer[4096];
  for (unsigned long got; (got = file.Read(buffer, 1, sizeof buffer)) > 0;) bytes.append(buffer, got);
  return bytes;
}

// The definition written to `name`; its bytes.
std::string Write(VelmarIndexedMeshLODDefinition& definition, const fuzz::InputFile& output) {
  Vak::File file;
  if (!file.Open(output.Path().c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok()) std::abort();
  unsigned long result = 99;
  definition.WriteMeshFile(&result, file);
  file.Close();
  if (result != 0) std::abort();
  return ReadBack(output.Path());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool inScratch = Vak::File::ChDir(fuzz::ScratchFolder::Get().Path().c_str());
  static const fuzz::InputFile description("d.lm.txt");
  static const fuzz::InputFile output("written.lm");
  if (!inScratch) std::abort();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t at = input.find(kSeparator);
  if (!description.Write(data, at == std::string::npos ? size : at)) return 0;
  for (unsigned k = 1; k <= kLevelFiles; ++k) {
    std::string part;
    if (at != std::string::npos) {
      const std::size_t from = at + kSeparator.size();
      at = input.find(kSeparator, from);
      part = input.substr(from, at == std::string::npos ? std::string::npos : at - from);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(part.data());
    const std::string name = "m" + std::to_string(k);
    if (!fuzz::InputFile((name + ".im").c_str()).Write(bytes, part.size()) ||
        !fuzz::InputFile((name + ".imtxt").c_str()).Write(bytes, part.size()))
      return 0;
  }

  fuzz::MeshReaderParts parts(size);
  VelmarIndexedMeshLODDefinition definition(parts.resource.options);
  unsigned long result = 99;
  definition.ReadLODDescription(&result, &parts.display, &parts.manager, &parts.resource,
                                description.Path().c_str(), 0);
  if (result > 7) std::abort();
  if (result != 0) return 0;
  if (definition.GetLevelCount() == 0 || definition.GetDistances().empty()) std::abort();
  for (const auto& named : definition.GetNamedLevels())
    if (named.level >= definition.GetLevelCount()) std::abort();
  if (!fuzz::LevelIndicesInside(definition)) std::abort();
  const std::string once = Write(definition, output);
  VelmarIndexedMeshLODDefinition again(parts.resource.options);
  again.ReadMeshFile(&result, &parts.display, &parts.manager, &parts.resource, output.Path().c_str(), 0);
  if (result != 0) std::abort();
  if (Write(again, output) != once) std::abort();
  return 0;
}
