#include "engine/dorvix/VertexType.h"

namespace Vak {

unsigned VertexType::ItemSize(int item) {
  switch (item) {
    case kItemPosition:
    case kItemNormal:
    case kItemTangent:
      return 12;
    case kItemColour:
    case kItemSpecular:
    case kItemPackedWeights:
    case kItemBlendIndices:
      return 4;
    case kItemWeights1:
    case kItemWeights2:
    case kItemWeights3:
    case kItemWeights4:
      return 4 * unsigned(item - kItemWeights1 + 1);
    default:
      return item >= kItemTexCoord0 && item <= kItemTexCoord7 ? 8 : 0;
  }
}

bool VertexType::Add(int item) {
  unsigned size = ItemSize(item);
  if (size == 0 || Has(item)) return false;
  offsets_[item] = static_cast<int16_t>(stride_);
  stride_ += size;
  ++count_;
  return true;
}

unsigned VertexType::TexCoordSets() const {
  unsigned sets = 0;
  for (int item = kItemTexCoord0; item <= kItemTexCoord7; ++item) sets += Has(item);
  return sets;
}

} // namespace Vak
