// The animator's answer for each animation file a mesh names, and the
// format reader under it.
#include "engine/fyrmond/Animator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vak/Bexlorn/ByteOrder.h"
#include "engine/fyrmond/KinAnimation.h"
#include "tests/engine/fyrmond/KinFiles.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using kinfiles::Kin;
using Vak::Animator;
using Vak::KinAnimation;
using Vak::PString;

std::vector<PString> Skeleton() { return {PString("base"), PString("arm"), PString("gate")}; }

TEST(Animator, AnswersEachResult) {
  platform::test::TempFolder folder;
  folder.WriteFile("swing.kin", Kin(12, {"arm", "gate"}));
  folder.WriteFile("still.kin", Kin(1, {}));
  folder.WriteFile("short.kin", Kin(12, {"arm"}).substr(0, 40));
  folder.WriteFile("empty.kin", "");
  folder.WriteFile("wing.kin", Kin(4, {"arm", "wing"}));
  folder.WriteFile("case.kin", Kin(4, {"Arm"}));
  struct Case {
    const char* file;
    int result;
    uint32_t value;  // after the add
  };
  const Case cases[] = {
      {"swing.kin", Animator::kAdded, 12},
      {"still.kin", Animator::kAdded, 1},
      {"swing.kin", Animator::kAlreadyAdded, 12},
      {"gone.kin", Animator::kMissing, 0},
      {"short.kin", Animator::kUnreadable, 0},
      {"empty.kin", Animator::kUnreadable, 0},
      {"wing.kin", Animator::kSkeletonMismatch, 0},
      // Bone names are matched as written.
      {"case.kin", Animator::kSkeletonMismatch, 0},
  };
  Animator animator(nullptr, Skeleton());
  for (const Case& c : cases) {
    const PString name((folder / c.file).c_str());
    EXPECT_EQ(animator.Add(name), c.result) << c.file;
    EXPECT_EQ(animator.GetValue(name), c.value) << c.file;
  }
}

TEST(Animator, ARefusedAnimationIsAskedAgain) {
  // Only an added animation is remembered; a file put right is then read.
  platform::test::TempFolder folder;
  const PString name((folder / "late.kin").c_str());
  Animator animator(nullptr, Skeleton());
  EXPECT_EQ(animator.Add(name), Animator::kMissing);
  folder.WriteFile("late.kin", Kin(3, {"base"}));
  EXPECT_EQ(animator.Add(name), Animator::kAdded);
  EXPECT_EQ(animator.GetValue(name), 3u);
}

TEST(KinAnimation, ReadsOnlyWholeWellFormedFiles) {
  const std::string good = Kin(2, {"arm", "gate"});
  auto with = [&](std::size_t offset, uint32_t value) {
    std::string bytes = good;
    Vak::PutLE32(reinterpret_cast<uint8_t*>(bytes.data() + offset), value);
    return bytes;
  };
  std::string badMagic = good;
  badMagic[0] = 'X';
  std::string zeroInName = good;
  zeroInName[KinAnimation::kHeaderSize + 2] = '\0';
  std::string emptyName = Kin(2, {""});
  struct Case {
    const char* what;
    std::string bytes;
    bool reads;
  };
  const Case cases[] = {
      {"two tracks", good, true},
      {"no tracks", Kin(5, {}), true},
      {"cut in the header", good.substr(0, KinAnimation::kHeaderSize - 1), false},
      {"cut in the keys", good.substr(0, good.size() - 1), false},
      {"a byte too many", good + '\0', false},
      {"bad magic", badMagic, false},
      {"other version", with(4, 2), false},
      {"no frames", with(8, 0), false},
      {"frames beyond the bytes", with(8, 0xFFFFFFFF), false},
      {"tracks beyond the bytes", with(12, 0xFFFFFFFF), false},
      {"one track fewer than written", with(12, 1), false},
      {"empty bone name", emptyName, false},
      {"zero in a bone name", zeroInName, false},
      {"one bone twice", Kin(2, {"arm", "arm"}), false},
  };
  for (const Case& c : cases) {
    KinAnimation animation;
    EXPECT_EQ(Vak::ParseKinAnimation(c.bytes, animation), c.reads) << c.what;
    if (!c.reads) {
      EXPECT_EQ(animation.frames, 0u) << c.what;
      EXPECT_TRUE(animation.bones.empty()) << c.what;
    }
  }
  KinAnimation animation;
  ASSERT_TRUE(Vak::ParseKinAnimation(good, animation));
  EXPECT_EQ(animation.frames, 2u);
  EXPECT_EQ(animation.bones, (std::vector<PString>{PString("arm"), PString("gate")}));
}

} // namespace
