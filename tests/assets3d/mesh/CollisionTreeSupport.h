#pragma once
// Triangles by identifier for box-tree tests, and the nearest hit found by
// testing every triangle.
#include <array>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "assets3d/VLAxisBoxTree.h"

namespace meshtest {

using Triangle = std::array<Vak::Vector3, 3>;

struct TriangleTable : VLAxisBoxTreeExternalGeometry {
  std::map<uint32_t, Triangle> triangles;

  bool GetTriangle(uint32_t id, Vak::Vector3 corners[3]) const override {
    auto it = triangles.find(id);
    if (it == triangles.end()) return false;
    for (int k = 0; k < 3; ++k) corners[k] = it->second[k];
    return true;
  }
  // Builds `tree` over every triangle; false when the build fails.
  bool Build(VLAxisBoxTree& tree) const {
    tree.BeginBuild(this);
    for (const auto& [id, t] : triangles) tree.AddTriangle(t[0], t[1], t[2], id);
    return tree.FinishBuild();
  }
};

struct BruteHit {
  bool hit = false;
  float fraction = 0;
  std::set<uint32_t> ids;  // every triangle hit at that fraction
};

inline BruteHit NearestByBruteForce(const std::map<uint32_t, Triangle>& triangles, const Vak::Vector3& start,
                                    const Vak::Vector3& end) {
  BruteHit best;
  if (start == end) return best;
  for (const auto& [id, t] : triangles) {
    if (!VLAxisBoxTree::AcceptTriangle(t[0], t[1], t[2])) continue;
    float fraction = 0;
    Vak::Vector3 point;
    if (!VLAxisBoxTree::SegmentHitsTriangle(start, end, t.data(), fraction, point)) continue;
    if (!best.hit || fraction < best.fraction) {
      best.hit = true;
      best.fraction = fraction;
      best.ids.clear();
    }
    if (fraction == best.fraction) best.ids.insert(id);
  }
  return best;
}

} // namespace meshtest
