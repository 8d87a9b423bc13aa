#pragma once
// The layout of one vertex: which items it carries and where each lies.
// Items are packed in the order they were added.
#include <cstdint>

namespace Vak {

enum VertexItemType : int {
  kItemPosition = 1,        // 3 floats
  kItemColour = 2,          // u32, the display's colour order
  kItemSpecular = 3,        // u32
  kItemNormal = 4,          // 3 floats
  kItemWeights1 = 5,        // 1 to 4 floats (5 to 8)
  kItemWeights2 = 6,
  kItemWeights3 = 7,
  kItemWeights4 = 8,
  kItemPackedWeights = 9,   // u32, four weight bytes
  kItemBlendIndices = 10,   // u32, four index bytes
  kItemTexCoord0 = 15,      // 2 floats per set, sets 0 to 7 (15 to 22)
  kItemTexCoord7 = 22,
  kItemTangent = 27,        // 3 floats
};

struct TexCoord {
  float u = 0, v = 0;
  bool operator==(const TexCoord&) const = default;
};

class VertexType {
public:
  static constexpr int kMaxItem = 31;
  static constexpr int kMaxTexCoordSets = 8;

  // Bytes of an item; 0 for a code this layout does not know.
  static unsigned ItemSize(int item);
  // The weight item for `weights` floats (1 to 4), else 0.
  static int WeightItem(unsigned weights) { return weights >= 1 && weights <= 4 ? kItemWeights1 + int(weights) - 1 : 0; }

  // False for an unknown item or one already present.
  bool Add(int item);
  bool Has(int item) const { return Offset(item) >= 0; }
  // Byte offset inside a vertex, -1 when absent.
  int Offset(int item) const { return item >= 0 && item <= kMaxItem ? offsets_[item] : -1; }
  // The stream that carries an item: every item lies in stream 0 here; -1
  // when the layout lacks it.
  int GetItemStream(int item) const { return Has(item) ? 0 : -1; }
  unsigned Stride() const { return stride_; }
  unsigned ItemCount() const { return count_; }
  // Sets 15 to 22 present.
  unsigned TexCoordSets() const;
  bool operator==(const VertexType&) const = default;

private:
  int16_t offsets_[kMaxItem + 1] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
  unsigned stride_ = 0;
  unsigned count_ = 0;
};

} // namespace Vak
