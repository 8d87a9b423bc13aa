#include "engine/kernelx/MemoryFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Vak/Bexlorn/File.h"
#include "tests/platform/os/TempFolder.h"

namespace {

// Loads `content` through a real file, as the mesh readers get theirs.
struct Loaded {
  platform::test::TempFolder folder;
  Vak::MemoryFile memory;

  explicit Loaded(const std::string& content) {
    folder.WriteFile("m.bin", content);
    Vak::File file;
    EXPECT_TRUE(file.Open((folder / "m.bin").c_str(), Vak::File::kRead).Ok());
    EXPECT_TRUE(memory.Open(file, false, 0));
    file.Close();
  }
};

TEST(MemoryFileTest, HoldsTheWholeFileAndItsName) {
  Loaded loaded(std::string("\x01\x00\x00\x00\xfe\xff\xff\xff\x00\x00\x80\x3f", 12));
  Vak::MemoryFile& m = loaded.memory;
  EXPECT_TRUE(m.HasData());
  EXPECT_NE(std::string(m.Name()).find("m.bin"), std::string::npos);
  uint32_t u = 0;
  int32_t i = 0;
  float f = 0;
  EXPECT_TRUE(m.Read(u));
  EXPECT_TRUE(m.Read(i));
  EXPECT_TRUE(m.Read(f));
  EXPECT_EQ(u, 1u);
  EXPECT_EQ(i, -2);
  EXPECT_EQ(f, 1.0f);
  EXPECT_EQ(m.Remaining(), 0u);
  m.Close();
  EXPECT_FALSE(m.HasData());
  EXPECT_STREQ(m.Name(), "");
}

TEST(MemoryFileTest, AnEmptyFileHoldsNoData) {
  Loaded loaded("");
  EXPECT_FALSE(loaded.memory.HasData());
}

// Each read that does not fit fails and leaves the cursor where it was.
TEST(MemoryFileTest, ReadsNeverPassTheData) {
  struct Case {
    const char* what;
    uint32_t skipFirst;
    bool (*read)(Vak::MemoryFile&);
    bool ok;
  } cases[] = {
      {"u32 with 3 left", 3, [](Vak::MemoryFile& m) { uint32_t v; return m.Read(v); }, false},
      {"i32 with 3 left", 3, [](Vak::MemoryFile& m) { int32_t v; return m.Read(v); }, false},
      {"float with 3 left", 3, [](Vak::MemoryFile& m) { float v; return m.Read(v); }, false},
      {"u32 with 4 left", 2, [](Vak::MemoryFile& m) { uint32_t v; return m.Read(v); }, true},
      {"bulk of 5 with 4 left", 2, [](Vak::MemoryFile& m) { char b[5] = {}; return m.Read(b, 5); }, false},
      {"bulk of 4 with 4 left", 2, [](Vak::MemoryFile& m) { char b[4] = {}; return m.Read(b, 4); }, true},
      {"skip of 5 with 4 left", 2, [](Vak::MemoryFile& m) { return m.Skip(5); }, false},
      {"move past the end", 0, [](Vak::MemoryFile& m) { return m.MoveTo(7); }, false},
      {"move to the end", 0, [](Vak::MemoryFile& m) { return m.MoveTo(6); }, true},
  };
  for (const Case& c : cases) {
    Loaded loaded("abcdef");
    Vak::MemoryFile& m = loaded.memory;
    ASSERT_TRUE(m.Skip(c.skipFirst)) << c.what;
    const uint32_t before = m.Tell();
    EXPECT_EQ(c.read(m), c.ok) << c.what;
    if (!c.ok) {
      EXPECT_EQ(m.Tell(), before) << c.what;
    }
  }
}

TEST(MemoryFileTest, AShortBulkReadLeavesItsDestination) {
  Loaded loaded("abc");
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_FALSE(loaded.memory.Read(out, 4));
  EXPECT_EQ(std::memcmp(out, "xxxx", 4), 0);
}

TEST(MemoryFileTest, StepsBackNeverBeforeTheStart) {
  Loaded loaded("abcdefgh");
  Vak::MemoryFile& m = loaded.memory;
  m.Skip(2);
  m.StepBack(4);
  EXPECT_EQ(m.Tell(), 0u);
  m.Skip(6);
  m.StepBack(4);
  EXPECT_EQ(m.Tell(), 2u);
}

TEST(MemoryFileTest, StateComesBackAndMustLieInsideTheData) {
  Loaded loaded("abcdefgh");
  Vak::MemoryFile& m = loaded.memory;
  m.Skip(3);
  const Vak::MemoryFile::State saved = m.GetState();
  EXPECT_EQ(saved.position, 3u);
  EXPECT_EQ(saved.start, 0u);
  EXPECT_EQ(saved.size, 8u);
  m.Skip(4);
  EXPECT_TRUE(m.SetState(saved));
  EXPECT_EQ(m.Tell(), 3u);
  EXPECT_FALSE(m.SetState({9, 0, 8}));
  EXPECT_FALSE(m.SetState({0, 1, 8}));
  EXPECT_EQ(m.Tell(), 3u);
}

} // namespace
