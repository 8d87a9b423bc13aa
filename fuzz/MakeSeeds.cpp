// Writes the binary seed files of the fuzz targets into fuzz/corpus/: archives
// of several blocks and an index, compressed text, UTF-16 option text and
// stream scripts, and indexed, progressive and level-of-detail mesh files from
// the tests' mesh builders. Run by hand after a format change:
//   cmake --build --preset fuzz --target MakeSeeds && build/fuzz/fuzz/MakeSeeds fuzz/corpus
// Archives are made through the engine's own archive layer, in a scratch
// folder that is also the current folder while they are stored.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "content/DynamicBuffer.h"
#include "content/KUID.h"
#include "content/TStream.h"
#include "fuzz/FuzzInputFile.h"
#include "platform/os/File.h"
#include "platform/os/FileSystem.h"
#include "tests/assets3d/mesh/LodmBuilder.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool Save(const std::string& path, const Bytes& bytes) {
  platform::File out;
  if (out.Open(path.c_str(), platform::File::Access::Write, platform::File::Disposition::CreateAlways) !=
      platform::Error::None)
    return false;
  const bool written = bytes.empty() || out.Write(bytes.data(), bytes.size()) == platform::Error::None;
  return out.Close() == platform::Error::None && written;
}

Bytes Load(const std::string& path) {
  platform::File in;
  Bytes bytes;
  if (in.Open(path.c_str(), platform::File::Access::Read, platform::File::Disposition::OpenExisting) !=
      platform::Error::None)
    return bytes;
  bytes.resize(static_cast<size_t>(in.Size()));
  size_t got = 0;
  in.Read(bytes.data(), bytes.size(), got);
  bytes.resize(got);
  return bytes;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Lines of a config-like text; long and repetitive, so it packs well.
std::string Lines(unsigned count) {
  std::string text;
  for (unsigned i = 0; i < count; ++i)
    text += "mesh-table " + std::to_string(i % 7) + " {\r\n  mesh \"body" + std::to_string(i % 3) + ".im\"\n}\n";
  return text;
}

bool Store(const char* name, const std::string& content, bool compressed) {
  Vak::File file;
  const unsigned long mode = (compressed ? Vak::File::kWriteCompressed : Vak::File::kWrite) | Vak::File::kCreate;
  if (!file.Open(name, mode).Ok()) return false;
  const bool written = file.Write(content.data(), content.size(), 1) == content.size();
  return file.Close() == 0 && written;
}

// An archive of nested folders, packed and plain files, one file
// stored twice and one deleted, with its index.
Bytes Archive(const std::string& scratch) {
  const std::string path = scratch + "/seed.va";
  const Vak::PString name("seed");
  if (!Vak::File::Subst(name, path.c_str(), true)) return {};
  bool ok = Store("seed:Meshes/Body.im", Lines(90), true) &&
            Store("seed:Meshes/sub/a.txt", "plain text\n", false) &&
            Store("seed:Textures/x.tga", "gone soon", false) &&
            Store("seed:readme.txt", "first", true) &&
            Store("seed:README.TXT", "second, replacing the first", true) &&
            Vak::File::Unlink("seed:Textures/x.tga");
  Vak::File::Subst(name, nullptr, false);
  return ok ? Load(path) : Bytes{};
}

// The "FIL " block that starts at `at`: tag, length and that many bytes.
Bytes BlockAt(const Bytes& archive, size_t at) {
  const size_t length = 8 + Vak::GetLE32(archive.data() + at + 4);
  return Bytes(archive.begin() + at, archive.begin() + at + length);
}

Bytes Compressed(const std::string& scratch, const std::string& content) {
  const std::string path = scratch + "/seed.cfil";
  return Store(path.c_str(), content, true) ? Load(path) : Bytes{};
}

Bytes Utf16(const std::string& ascii) {
  Bytes bytes{0xFF, 0xFE};
  for (char c : ascii) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

// Stream fuzzer input: repeat count, script length, seed, script, payload.
Bytes StreamInput(uint8_t repeats, uint32_t seed, const Bytes& script, const Bytes& payload) {
  Bytes input{repeats, static_cast<uint8_t>(script.size()), 0, 0, 0, 0};
  Vak::PutLE32(input.data() + 2, seed);
  input.insert(input.end(), script.begin(), script.end());
  input.insert(input.end(), payload.begin(), payload.end());
  return input;
}

// What the content code writes: strings, interned strings, identifiers and lines.
Bytes StreamPayload() {
  TBuffer out;
  out.WriteString(Vak::String("a counted string"));
  out.WritePString(Vak::PString("an interned string"));
  out.WriteKUID(KUID(523, 1001, 0));
  out.WriteKUID(KUID(-5, 6, 127));
  out.WriteString(Vak::String(""));
  out.Printf("one\r\ntwo\n\rthree\n  \tfour\rfive");
  out.WriteInt(0x12345678);
  const DynamicBuffer& b = out.GetBuffer();
  return Bytes(b.Data(), b.Data() + b.Size());
}

// Mesh files: every chunk kind and the forms the readers branch on.
Bytes Mesh(const std::string& bytes) { return Bytes(bytes.begin(), bytes.end()); }

meshtest::ChunkGroup SkinnedQuad() {
  meshtest::ChunkGroup g = meshtest::QuadGroup();
  g.geometry.weights = 4;
  g.neighbours = std::vector<std::array<uint32_t, 3>>{{1, 0xFFFFFFFFu, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0, 0xFFFFFFFFu}};
  return g;
}

std::string SkinnedAfter() {
  using namespace meshtest;
  const std::vector<Influence> influences = {
      {"hip", std::nullopt, {0, 0, 0}, kIdentity9, {Group{0, {Entry{0, 0.5f, {}}, Entry{1, 1, {}}}}}},
      {"knee", std::string("hip"), {0, 1, 0}, kIdentity9, {Group{0, {Entry{0, 0.5f, {}}, Entry{2, 1, {}}}}}},
  };
  return InflChunk(influences) + AtchChunk({{"a.door@hip", kIdentity9, {1, 2, 3}}, {"p.ref", kIdentity9, {0, 0, 1}}});
}

meshtest::Info SkinnedInfo() {
  meshtest::Info info;
  info.maxInfluences = 4;
  info.maxMatrices = 20;
  return info;
}

void MeshSeeds(std::vector<std::pair<std::string, Bytes>>& seeds) {
  using namespace meshtest;
  ChunkGroup plain = QuadGroup();
  plain.geometry.name = "body";
  seeds.emplace_back("IdxmFuzz/quad.im", Mesh(IdxmFile({plain})));
  seeds.emplace_back("IdxmFuzz/skinned.im", Mesh(IdxmFile({SkinnedQuad()}, SkinnedAfter(), SkinnedInfo())));
  // Older chunk versions: two texture sets, vertex colours, a third vector,
  // a MATL of 102 with properties and textures, a bone tree.
  ChunkGroup sets = QuadGroup(103), colours = QuadGroup(150), third = QuadGroup(201);
  sets.geometry.sets = 2;
  sets.material.version = 102;
  sets.material.properties = {{"shine", "1"}};
  sets.material.textures = {Texture{1, "skin.texture", 1}};
  third.geometry.flags = 1;
  const Bone skeleton{"root", {0, 0, 0}, {0, 0, 0, 1}, {Bone{"arm", {1, 0, 0}}, Bone{"leg", {0, -1, 0}}}};
  seeds.emplace_back("IdxmFuzz/versions.im",
                     Mesh(IdxmFile({sets, colours, third}, SkelChunk(skeleton), Info{102, {1, 2, 3}})));

  Pmin pmin;
  pmin.indices = {0, 1, 2, 3};
  pmin.steps = {{0, 1, 2, 3}, {4, 5, 6, 1}};
  pmin.groups = {{7, 1}, {8, 1}};
  pmin.tops = {1, 1};
  seeds.emplace_back("ProgressiveMeshFuzz/pmin.pm", Mesh(IdxmFile({QuadGroup()}, PminChunk(pmin))));
  Pmin empty;
  empty.groups = {{0, 0}};
  empty.tops = {1};
  seeds.emplace_back("ProgressiveMeshFuzz/skinned.pm",
                     Mesh(IdxmFile({SkinnedQuad()}, SkinnedAfter() + PminChunk(empty), SkinnedInfo())));

  // Two distance levels and a named one, with a bone table, per-level
  // influences, neighbours and attachment points; and one with root bones.
  Lodm lod = LevelsAt({10, 40});
  lod.bont = std::vector<BoneRecord>{{"root", ""}, {"arm", "root", {0, 1, 0}}};
  lod.attachments = {Attachment{"a.lamp:Cull"}, Attachment{"p.ref"}};
  lod.levels[0].maxInfluences = 4;
  lod.levels[0].maxMatrices = 20;
  lod.levels[0].chunks = {LevelChunk{0, Quad(), std::vector<std::array<uint32_t, 3>>{{1, 2, 3}, {4, 5, 6}}}};
  lod.levels[0].chunks[0].geometry.weights = 4;
  lod.levels[0].bones = std::vector<std::vector<Group>>{{Group{0, {Entry{0, 0.5f}, Entry{1, 1}}}}, {}};
  lod.levels[1].bones = std::vector<std::vector<Group>>{{}, {Group{0, {Entry{2, 1}}}}};
  Level named;
  named.distance = -1.0f;
  lod.levels.push_back(named);
  lod.info.named = {NamedLevel{2, "collision", 1}};
  seeds.emplace_back("LodmFuzz/levels.lm", Mesh(LodmFile(lod)));
  Lodm rooted = LevelsAt({5});
  rooted.rbot = std::vector<BoneRecord>{{"root", ""}, {"child", "root", {1, 0, 0}}, {"lost", "nobody"}};
  rooted.levels[0].chunks[0].geometry.flags = 1;
  seeds.emplace_back("LodmFuzz/rooted.lm", Mesh(LodmFile(rooted)));

  // A description of two indexed levels, a text geometry config level, a
  // named level of its own file and one sharing a level's file; the levels
  // follow it, each after a line "====" (fuzz/LodDescriptionFuzz.cpp).
  const std::string skinned = IdxmFile({SkinnedQuad()}, SkinnedAfter(), SkinnedInfo());
  const std::string config = R"(version 1.0
maxInfluences 4
maxMatrices 20
chunk {
  texCoordSets 1
  weightsPerVertex 4
  material { type "plain" texture "skin.texture" exponent 0.5 }
  vertex 0 0 0  0 0 1  0 0
  vertex 1 0 0  0 0 1  1 0
  vertex 0 1 0  0 0 1  0 1
  triangle 0 1 2
  faceNormal 0 0 1
}
influence { name "hip" group { chunk 0 entry 0 1 0 0 0 } }
influence { name "knee" parent "hip" position 0 1 0 group { chunk 0 entry 2 0.5 0 0 0 } }
attachment { name "a.door@hip" position 1 2 3 }
attachment { name "p.ref:cull" }
)";
  const std::string description =
      "version 1.0\nmesh 0 { name \"m1.im\" }\nmesh 50 { name \"m2.im\" }\nmesh 120.5 { name \"m3.imtxt\" }\n"
      "mesh \"Collision\" { name \"m4.im\" animated 1 }\nmesh \"shadow\" { name \"m2.im\" }\n"
      "calcPoint \"far\"\noffset 1\nmultiplier 2\nrenderCutOff 500\n";
  const std::string separator = "\n====\n";
  seeds.emplace_back("LodDescriptionFuzz/levels.txt",
                     Mesh(description + separator + skinned + separator + skinned + separator + config + separator +
                          IdxmFile({SkinnedQuad()}, SkinnedAfter(), SkinnedInfo())));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: MakeSeeds <corpus folder>\n");
    return 2;
  }
  const std::string corpus = argv[1];
  const std::string scratch = fuzz::ScratchFolder::Get().Path();
  Vak::File::Path cwd;
  if (!Vak::File::GetCwd(cwd) || !Vak::File::ChDir(scratch.c_str())) return 1;

  std::vector<std::pair<std::string, Bytes>> seeds;
  const Bytes archive = Archive(scratch);
  if (archive.size() < 44) return 1;
  seeds.emplace_back("ArchiveFuzz/several-blocks.va", archive);
  // The same without a valid index: its files are found by walking the blocks.
  Bytes walked = archive;
  Vak::PutLE32(walked.data() + 24, 0);
  seeds.emplace_back("ArchiveFuzz/no-index.va", walked);
  // A file block behind the index, which the index does not list: a copy of
  // the second block (the first is large).
  Bytes behind = archive;
  const Bytes block = BlockAt(archive, 44 + BlockAt(archive, 44).size());
  behind.insert(behind.end(), block.begin(), block.end());
  seeds.emplace_back("ArchiveFuzz/behind-index.va", behind);

  const std::string text = "first line\r\nsecond\n\nno end";
  Bytes lines = {0x10, 0x18};  // buffer of 16; probe, own encoding
  const Bytes packed = Compressed(scratch, Lines(400));
  lines.insert(lines.end(), packed.begin(), packed.end());
  seeds.emplace_back("FileTextFuzz/compressed", lines);
  Bytes wide = {0x0A, 0x18};  // buffer of 10; probe, own encoding
  const Bytes utf16 = Utf16(text + "\nthe longest line of them all\n");
  wide.insert(wide.end(), utf16.begin(), utf16.end());
  seeds.emplace_back("FileTextFuzz/utf16", wide);

  seeds.emplace_back("OptionsFuzz/utf16.txt", Utf16("-NoLog\r\n-LogFile=my.txt\r\n+Log=Net:Diag +Log=Res:Prog\r\n"));

  TBuffer kuids;
  kuids.WriteKUID(KUID(523, 1001, 0));
  kuids.WriteKUID(KUID(-5, 6, 127));
  kuids.WriteKUID(KUID(0x1FFFFFF, -1, 3));
  seeds.emplace_back("KUIDFuzz/stream.bin",
                     Bytes(kuids.GetBuffer().Data(), kuids.GetBuffer().Data() + kuids.GetBuffer().Size()));

  // Reads in the order written, then lines, seeks and the end.
  const Bytes inOrder = {10, 0, 11, 0, 12, 0, 12, 0, 10, 0, 9, 0, 9, 0, 9, 0, 8, 0, 9, 0,
                         9, 0,  4, 0, 16, 0, 13, 40, 7, 0, 6, 0, 14, 0, 15, 3, 4, 0, 16, 0};
  seeds.emplace_back("StreamFuzz/in-order", StreamInput(1, 0x80000001u, inOrder, StreamPayload()));
  // Content past the read-ahead: large and direct reads, steps back across refills.
  const Bytes large = {1, 240, 3, 250, 7, 0, 6, 0, 2, 20, 7, 0, 0, 200, 14, 128, 1, 255, 16, 0, 15, 255, 2, 255};
  seeds.emplace_back("StreamFuzz/past-read-ahead", StreamInput(15, 0x1234567u, large, Text(Lines(20))));

  Vak::File::ChDir(cwd);
  MeshSeeds(seeds);
  // Strings either side of the longest one read without a heap block.
  TBuffer strings;
  strings.WriteString(Vak::String(std::string(510, 's').c_str()));
  strings.WriteString(Vak::String(std::string(511, 't').c_str()));
  strings.WritePString(Vak::PString(std::string(509, 'p').c_str()));
  strings.WritePString(Vak::PString(std::string(510, 'q').c_str()));
  const DynamicBuffer& s = strings.GetBuffer();
  seeds.emplace_back("StreamFuzz/string-lengths",
                     StreamInput(1, 7, {10, 0, 10, 0, 11, 0, 11, 0, 16, 0}, Bytes(s.Data(), s.Data() + s.Size())));

  for (const auto& [name, bytes] : seeds) {
    const std::string path = corpus + "/" + name;
    platform::MakeFolderPath(path.substr(0, path.rfind('/')).c_str());
    if (!Save(path, bytes)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
  }
  return 0;
}
