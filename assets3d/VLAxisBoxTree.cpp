#include "assets3d/VLAxisBoxTree.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

using Vak::Vector3;

// ---- VLMemoryChain ----

void* VLMemoryChain::Allocate(std::size_t bytes) {
  bytes = (bytes + 15) & ~std::size_t(15);
  if (blocks_.empty() || used_ + bytes > blocks_.back().size) {
    const std::size_t size = std::max(bytes, blockSize_);
    auto* data = static_cast<unsigned char*>(::operator new(size, std::align_val_t(16)));
    blocks_.push_back(Block{data, size});
    used_ = 0;
  }
  void* p = blocks_.back().data + used_;
  used_ += bytes;
  return p;
}

void VLMemoryChain::Release() {
  for (const Block& b : blocks_) ::operator delete(b.data, std::align_val_t(16));
  blocks_.clear();
  used_ = 0;
}

// ---- VLMapKDTree ----

namespace {

constexpr std::size_t kPendingLimit = 16;

// Points ordered along `axis`, ties broken by the following axes, so that
// an exact look-up follows one path.
struct AxisLess {
  int axis;
  bool operator()(const Vector3& a, const Vector3& b) const {
    for (int k = 0; k < 3; ++k) {
      const int i = (axis + k) % 3;
      if (a[i] < b[i]) return true;
      if (b[i] < a[i]) return false;
    }
    return false;
  }
};

bool SamePoint(const Vector3& a, const Vector3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

} // namespace

void VLMapKDTree::Build(Entry* first, Entry* last, int axis) {
  while (last - first > 1) {
    Entry* mid = first + (last - first) / 2;
    const AxisLess less{axis};
    std::nth_element(first, mid, last, [&](const Entry& a, const Entry& b) { return less(a.point, b.point); });
    axis = (axis + 1) % 3;
    Build(first, mid, axis);
    first = mid + 1;
  }
}

bool VLMapKDTree::FindIn(const std::vector<Entry>& tree, const Vector3& point, int& value) {
  std::size_t lo = 0, hi = tree.size();
  int axis = 0;
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const Entry& e = tree[mid];
    if (SamePoint(e.point, point)) {
      value = e.value;
      return true;
    }
    if (AxisLess{axis}(point, e.point))
      hi = mid;
    else
      lo = mid + 1;
    axis = (axis + 1) % 3;
  }
  return false;
}

void VLMapKDTree::Insert(const Vector3& point, int value) {
  pending_.push_back(Entry{point, value});
  if (pending_.size() < kPendingLimit) return;
  std::vector<Entry> carry;
  carry.swap(pending_);
  std::size_t k = 0;
  for (; k < trees_.size() && !trees_[k].empty(); ++k) {
    carry.insert(carry.end(), trees_[k].begin(), trees_[k].end());
    std::vector<Entry>().swap(trees_[k]);
  }
  if (k == trees_.size()) trees_.emplace_back();
  Build(carry.data(), carry.data() + carry.size(), 0);
  trees_[k] = std::move(carry);
}

bool VLMapKDTree::Find(const Vector3& point, int& value) const {
  for (const Entry& e : pending_)
    if (SamePoint(e.point, point)) {
      value = e.value;
      return true;
    }
  for (const std::vector<Entry>& tree : trees_)
    if (FindIn(tree, point, value)) return true;
  return false;
}

void VLMapKDTree::Clear() {
  pending_.clear();
  trees_.clear();
}

std::size_t VLMapKDTree::Size() const {
  std::size_t n = pending_.size();
  for (const std::vector<Entry>& tree : trees_) n += tree.size();
  return n;
}

// ---- VLAxisBoxTree ----

struct VLAxisBoxTree::Workspace {
  struct Node {
    int32_t word0 = 0;
    int32_t word1 = 0;
    Box box;
  };
  std::vector<Vector3> vertices;
  std::vector<std::array<uint32_t, 3>> triangles;
  std::vector<uint32_t> ids;
  std::vector<Box> boxes;
  std::vector<Node> nodes;
  std::vector<uint32_t> leafList;
  uint32_t* order = nullptr;
  uint32_t* scratch[3] = {nullptr, nullptr, nullptr};
  float* centres = nullptr;  // three a triangle
  unsigned leafSize = kLeafSize;
  VLMapKDTree map;
  VLMemoryChain chain{1 << 20};
};

struct VLAxisBoxTree::Segment {
  Vector3 start, end, centre, half, absHalf, direction, absDirection;
  float inverseLength = 0;
};

namespace {

float Abs(float v) { return std::fabs(v); }
Vector3 Abs(const Vector3& v) { return {Abs(v.x), Abs(v.y), Abs(v.z)}; }
bool Finite(const Vector3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Truncated toward zero into [lo, hi]; not-a-number gives 0.
long Quantise(float v, long lo, long hi) {
  if (!(v == v)) return 0;
  if (v <= float(lo)) return lo;
  if (v >= float(hi)) return hi;
  return static_cast<long>(v);
}

} // namespace

VLAxisBoxTree::~VLAxisBoxTree() { FreeWorkspace(); }

void VLAxisBoxTree::FreeWorkspace() {
  delete work_;
  work_ = nullptr;
}

void VLAxisBoxTree::BeginBuild(const VLAxisBoxTreeExternalGeometry* geometry) {
  FreeWorkspace();
  nodes_.clear();
  leaves_.clear();
  centreFactor_ = halfFactor_ = 0;
  rejected_ = 0;
  deepest_ = 0;
  geometry_ = geometry;
  work_ = new Workspace;
  // An even leaf size of at least 4 keeps the split's halves even.
  work_->leafSize = std::max(4u, work_->leafSize & ~1u);
}

std::array<int, 3> VLAxisBoxTree::DominantAxes(const Vector3& v) {
  std::array<int, 3> axes{0, 1, 2};
  const Vector3 a = Abs(v);
  std::stable_sort(axes.begin(), axes.end(), [&](int i, int j) { return a[i] > a[j]; });
  return axes;
}

bool VLAxisBoxTree::AcceptTriangle(const Vector3& a, const Vector3& b, const Vector3& c) {
  // Corners that are not finite give no plane to test against, and would
  // break the ordering the build sorts by.
  if (!Finite(a) || !Finite(b) || !Finite(c)) return false;
  Vector3 normal = (b - a).Cross(c - a);
  if (!Finite(normal)) return false;
  normal.Normalise();
  return normal.Dot(normal) >= 0.1f;
}

void VLAxisBoxTree::AddTriangle(const Vector3& a, const Vector3& b, const Vector3& c, uint32_t id) {
  if (work_ == nullptr) return;
  Workspace& w = *work_;
  if (!IsValidId(id)) {
    ++rejected_;
    return;
  }
  if (w.triangles.size() >= kMaxTriangles || w.vertices.size() >= kMaxVertices) return;
  if (!AcceptTriangle(a, b, c)) {
    ++rejected_;
    return;
  }
  const Vector3 corners[3] = {a, b, c};
  const std::size_t verticesBefore = w.vertices.size();
  std::array<uint32_t, 3> tri{};
  for (int k = 0; k < 3; ++k) {
    int index = 0;
    if (!w.map.Find(corners[k], index)) {
      index = static_cast<int>(w.vertices.size());
      if (index >= static_cast<int>(kMaxVertices)) {
        // The map keeps the points already entered; they name no vertex any
        // more and are never found, as no later position reaches them.
        w.vertices.resize(verticesBefore);
        return;
      }
      w.vertices.push_back(corners[k]);
      w.map.Insert(corners[k], index);
    }
    tri[k] = static_cast<uint32_t>(index);
  }
  w.triangles.push_back(tri);
  w.ids.push_back(id);
  Box box{{kFar, kFar, kFar}, {-kFar, -kFar, -kFar}};
  for (const Vector3& v : corners)
    for (int i = 0; i < 3; ++i) {
      box.min[i] = std::min(box.min[i], v[i]);
      box.max[i] = std::max(box.max[i], v[i]);
    }
  w.boxes.push_back(box);
}

std::size_t VLAxisBoxTree::WeldedVertexCount() const { return work_ ? work_->vertices.size() : 0; }
std::size_t VLAxisBoxTree::BuildTriangleCount() const { return work_ ? work_->triangles.size() : 0; }
std::array<uint32_t, 3> VLAxisBoxTree::GetBuildTriangle(std::size_t i) const { return work_->triangles[i]; }

bool VLAxisBoxTree::FinishBuild() {
  if (work_ == nullptr) return false;
  Workspace& w = *work_;
  const std::size_t n = w.triangles.size();
  if (n == 0 || n >= kMaxTriangles || w.vertices.size() >= kMaxVertices) {
    FreeWorkspace();
    return false;
  }
  w.order = w.chain.AllocateArray<uint32_t>(n);
  for (int a = 0; a < 3; ++a) w.scratch[a] = w.chain.AllocateArray<uint32_t>(n);
  w.centres = w.chain.AllocateArray<float>(3 * n);
  for (std::size_t t = 0; t < n; ++t) {
    w.order[t] = static_cast<uint32_t>(t);
    for (int a = 0; a < 3; ++a) w.centres[3 * t + a] = w.boxes[t].min[a] * 0.5f + w.boxes[t].max[a] * 0.5f;
  }
  Box root{{kFar, kFar, kFar}, {-kFar, -kFar, -kFar}};
  for (const Vector3& v : w.vertices)
    for (int i = 0; i < 3; ++i) {
      root.min[i] = std::min(root.min[i], v[i]);
      root.max[i] = std::max(root.max[i], v[i]);
    }
  w.nodes.reserve(2 * (n / (w.leafSize / 2) + 1));
  w.nodes.push_back(Workspace::Node{0, 0, root});
  w.leafList.reserve(n);
  Split(0, 0, static_cast<uint32_t>(n), 0);
  Compact();
  FreeWorkspace();
  return true;
}

void VLAxisBoxTree::Split(uint32_t node, uint32_t first, uint32_t count, unsigned depth) {
  Workspace& w = *work_;
  deepest_ = std::max(deepest_, depth);
  if (count <= w.leafSize) {
    w.nodes[node].word0 = ~static_cast<int32_t>(w.leafList.size());
    w.nodes[node].word1 = static_cast<int32_t>(count);
    w.leafList.insert(w.leafList.end(), w.order + first, w.order + first + count);
    return;
  }
  const Box box = w.nodes[node].box;
  Vector3 extent;
  for (int i = 0; i < 3; ++i) extent[i] = box.max[i] - box.min[i];
  const std::array<int, 3> axes = DominantAxes(extent);

  auto boxOf = [&](const uint32_t* tris, uint32_t m) {
    Box b{{kFar, kFar, kFar}, {-kFar, -kFar, -kFar}};
    for (uint32_t k = 0; k < m; ++k) {
      const Box& t = w.boxes[tris[k]];
      for (int i = 0; i < 3; ++i) {
        b.min[i] = std::min(b.min[i], t.min[i]);
        b.max[i] = std::max(b.max[i], t.max[i]);
      }
    }
    return b;
  };

  int bestAxis = axes[0];
  uint32_t bestLeft = 0;
  Box bestBoxes[2];
  float bestCost = 0;
  for (int k = 0; k < 3; ++k) {
    const int a = axes[k];
    uint32_t* tris = w.scratch[a] + first;
    std::copy(w.order + first, w.order + first + count, tris);
    // Descending centres: only the halves matter, not the order inside them.
    auto greater = [&](uint32_t x, uint32_t y) { return w.centres[3 * x + a] > w.centres[3 * y + a]; };
    uint32_t left = count / 2;
    std::nth_element(tris, tris + left, tris + count, greater);
    if ((left & 1) && ((count - left) & 1)) {
      if (left < count - left) {
        ++left;  // tris[left] is the largest of the right half
      } else {
        std::nth_element(tris, tris + left - 1, tris + left, greater);
        --left;
      }
    }
    const Box l = boxOf(tris, left), r = boxOf(tris + left, count - left);
    const float ext = extent[a];
    const float cost = ext != 0 ? (l.max[a] - r.min[a]) / ext : 0;
    if (k == 0 || cost < bestCost) {
      bestAxis = a;
      bestLeft = left;
      bestCost = cost;
      bestBoxes[0] = l;
      bestBoxes[1] = r;
    }
  }
  std::copy(w.scratch[bestAxis] + first, w.scratch[bestAxis] + first + count, w.order + first);
  const uint32_t child = static_cast<uint32_t>(w.nodes.size());
  w.nodes.push_back(Workspace::Node{0, 0, bestBoxes[0]});
  w.nodes.push_back(Workspace::Node{0, 0, bestBoxes[1]});
  w.nodes[node].word0 = static_cast<int32_t>(child);
  w.nodes[node].word1 = static_cast<int32_t>(child + 1);
  Split(child, first, bestLeft, depth + 1);
  Split(child + 1, first + bestLeft, count - bestLeft, depth + 1);
}

void VLAxisBoxTree::Compact() {
  Workspace& w = *work_;
  const std::size_t count = w.nodes.size();
  std::vector<float> centres(3 * count), halves(3 * count);
  float maxCentre = 0, maxHalf = 0;
  for (std::size_t n = 0; n < count; ++n)
    for (int i = 0; i < 3; ++i) {
      const Box& b = w.nodes[n].box;
      // Halved before adding, so that boxes near the float range do not overflow.
      centres[3 * n + i] = b.min[i] * 0.5f + b.max[i] * 0.5f;
      halves[3 * n + i] = b.max[i] * 0.5f - b.min[i] * 0.5f;
      maxCentre = std::max(maxCentre, Abs(centres[3 * n + i]));
      maxHalf = std::max(maxHalf, halves[3 * n + i]);
    }
  const float centreScale = maxCentre != 0 ? 32767.0f / maxCentre : 0;
  const float halfScale = maxHalf != 0 ? 32767.0f / maxHalf : 0;
  centreFactor_ = centreScale != 0 ? 1.0f / centreScale : 0;
  halfFactor_ = halfScale != 0 ? 1.0f / halfScale : 0;

  nodes_.resize(count);
  for (std::size_t n = 0; n < count; ++n) {
    CompactNode& c = nodes_[n];
    c.word0 = w.nodes[n].word0;
    c.word1 = w.nodes[n].word1;
    for (int i = 0; i < 3; ++i) {
      const float centre = centres[3 * n + i], half = halves[3 * n + i];
      c.centre[i] = static_cast<int16_t>(Quantise(centre * centreScale, -32768, 32767));
      long stored = Quantise(half * halfScale, 0, 65535);
      const float cc = float(c.centre[i]) * centreFactor_;
      const float low = w.nodes[n].box.min[i], high = w.nodes[n].box.max[i];
      // Against the corners themselves: centre and half-size are rounded.
      auto covers = [&](long h) {
        const float hh = float(h) * halfFactor_;
        return !(cc + hh < high || cc - hh > low);
      };
      // Start near the first covering value instead of counting up to it.
      if (!covers(stored)) {
        const float need = std::max(high - cc, cc - low) / halfFactor_;
        long k = std::max(stored + 1, Quantise(need, 0, 65535));
        while (k - 1 > stored && covers(k - 1)) --k;
        while (k < 65535 && !covers(k)) ++k;
        stored = k;
      }
      c.half[i] = static_cast<uint16_t>(stored);
    }
  }

  leaves_.resize(3 * w.leafList.size());
  for (std::size_t e = 0; e < w.leafList.size(); ++e) {
    const uint32_t id = w.ids[w.leafList[e]];
    const uint32_t value = ((id >> 16) << 15) | (id & 0x7FFF);
    leaves_[3 * e] = uint8_t(value);
    leaves_[3 * e + 1] = uint8_t(value >> 8);
    leaves_[3 * e + 2] = uint8_t(value >> 16);
  }
}

uint32_t VLAxisBoxTree::GetLeafId(std::size_t entry) const {
  const uint32_t value = uint32_t(leaves_[3 * entry]) | uint32_t(leaves_[3 * entry + 1]) << 8 |
                         uint32_t(leaves_[3 * entry + 2]) << 16;
  return ((value >> 15) & 0x1FF) << 16 | (value & 0x7FFF);
}

void VLAxisBoxTree::UnpackBox(std::size_t node, Vector3& centre, Vector3& half) const {
  const CompactNode& c = nodes_[node];
  for (int i = 0; i < 3; ++i) {
    centre[i] = float(c.centre[i]) * centreFactor_;
    half[i] = float(c.half[i]) * halfFactor_;
  }
}

bool VLAxisBoxTree::PointInTriangle(const Vector3& p, const Vector3& a, const Vector3& b, const Vector3& c,
                                    const Vector3& normal) {
  const std::array<int, 3> axes = DominantAxes(normal);
  const int u = axes[1], v = axes[2];
  auto edge = [&](const Vector3& from, const Vector3& to) {
    return (to[u] - from[u]) * (p[v] - from[v]) - (to[v] - from[v]) * (p[u] - from[u]);
  };
  const float e0 = edge(a, b), e1 = edge(b, c), e2 = edge(c, a);
  return (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
}

bool VLAxisBoxTree::SegmentHitsTriangle(const Vector3& start, const Vector3& end, const Vector3 corners[3],
                                        float& fraction, Vector3& point) {
  const Vector3 normal = (corners[1] - corners[0]).Cross(corners[2] - corners[0]);
  const float plane = normal.Dot(corners[0]);
  const float ds = normal.Dot(start), de = normal.Dot(end);
  const float sa = ds - plane, sb = de - plane;
  if (!((sa <= 0 && sb >= 0) || (sa >= 0 && sb <= 0))) return false;
  fraction = ds == de ? 0.0f : sa / (ds - de);
  point = start + (end - start) * fraction;
  return PointInTriangle(point, corners[0], corners[1], corners[2], normal);
}

bool VLAxisBoxTree::RayHitsTriangle(const Vector3& origin, const Vector3& direction, float length, const Vector3& a,
                                    const Vector3& b, const Vector3& c, bool twoSided, float& t, float& u, float& v) {
  constexpr float kEpsilon = 1e-6f;
  const Vector3 e1 = b - a, e2 = c - a;
  const Vector3 p = direction.Cross(e2);
  const float det = e1.Dot(p);
  if (twoSided ? (det > -kEpsilon && det < kEpsilon) : det < kEpsilon) return false;
  const float inv = 1.0f / det;
  const Vector3 s = origin - a;
  u = s.Dot(p) * inv;
  if (u < 0 || u > 1) return false;
  const Vector3 q = s.Cross(e1);
  v = direction.Dot(q) * inv;
  if (v < 0 || u + v > 1) return false;
  t = e2.Dot(q) * inv;
  return t >= 0 && t <= length;
}

bool VLAxisBoxTree::SegmentMissesNode(int32_t node, const Segment& s) const {
  Vector3 c, e;
  UnpackBox(static_cast<std::size_t>(node), c, e);
  const Vector3 d = s.centre - c;
  // The slack keeps rounding from culling a segment that touches the box.
  constexpr float kSlack = 4e-6f;
  for (int i = 0; i < 3; ++i) {
    const float reach = e[i] + s.absHalf[i];
    if (Abs(d[i]) > reach + kSlack * (Abs(s.centre[i]) + Abs(c[i]) + reach)) return true;
  }
  for (int i = 0; i < 3; ++i) {
    const int j = (i + 1) % 3, k = (i + 2) % 3;
    const float p = d[j] * s.half[k], q = d[k] * s.half[j];
    const float reach = e[j] * s.absHalf[k] + e[k] * s.absHalf[j];
    const float scale = (Abs(s.centre[j]) + Abs(c[j])) * s.absHalf[k] + (Abs(s.centre[k]) + Abs(c[k])) * s.absHalf[j];
    if (Abs(p - q) > reach + kSlack * (scale + reach)) return true;
  }
  return false;
}

float VLAxisBoxTree::EntryFraction(int32_t node, const Segment& s) const {
  Vector3 c, e;
  UnpackBox(static_cast<std::size_t>(node), c, e);
  const float a = c.Dot(s.direction), b = e.Dot(s.absDirection), o = s.start.Dot(s.direction);
  // Lowered by its rounding, so that a hit on the box's face is never pruned.
  const float slack = 4e-6f * (Abs(a) + b + Abs(o));
  return (a - b - o - slack) * s.inverseLength;
}

void VLAxisBoxTree::TestLeaf(int32_t node, const Segment& s, RayResult& result, float& best) const {
  const CompactNode& leaf = nodes_[static_cast<std::size_t>(node)];
  const std::size_t first = static_cast<std::size_t>(~leaf.word0);
  for (std::size_t e = first; e < first + static_cast<uint32_t>(leaf.word1); ++e) {
    const uint32_t id = GetLeafId(e);
    Vector3 corners[3];
    if (geometry_ == nullptr || !geometry_->GetTriangle(id, corners)) continue;
    float fraction = 0;
    Vector3 point;
    if (!SegmentHitsTriangle(s.start, s.end, corners, fraction, point) || fraction > best) continue;
    best = fraction;
    result.point = point;
    result.normal = (corners[1] - corners[0]).Cross(corners[2] - corners[0]);
    result.fraction = fraction;
    result.id = static_cast<int32_t>(id);
    result.extra = -1;
  }
}

void VLAxisBoxTree::VisitNode(int32_t node, const Segment& s, RayResult& result, float& best) const {
  if (SegmentMissesNode(node, s)) return;
  while (nodes_[static_cast<std::size_t>(node)].word0 >= 0) {
    const CompactNode& n = nodes_[static_cast<std::size_t>(node)];
    const float t0 = EntryFraction(n.word0, s), t1 = EntryFraction(n.word1, s);
    const int32_t nearNode = t0 < t1 ? n.word0 : n.word1, farNode = t0 < t1 ? n.word1 : n.word0;
    const float nearT = std::min(t0, t1), farT = t0 < t1 ? t1 : t0;
    if (nearT <= best) VisitNode(nearNode, s, result, best);
    if (farT > best) return;
    node = farNode;
    if (SegmentMissesNode(node, s)) return;
  }
  TestLeaf(node, s, result, best);
}

bool VLAxisBoxTree::RayQuery(const Vector3& start, const Vector3& end, RayResult& result) const {
  result = RayResult{};
  if (nodes_.empty()) return false;
  Segment s;
  s.start = start;
  s.end = end;
  s.centre = start * 0.5f + end * 0.5f;
  s.half = end * 0.5f - start * 0.5f;
  s.absHalf = Abs(s.half);
  const Vector3 delta = end - start;
  const float length = delta.Length();
  // A segment without length has no direction to hit anything along.
  if (!(length > 0) || !std::isfinite(length)) return false;
  s.direction = delta * (1.0f / length);
  s.absDirection = Abs(s.direction);
  s.inverseLength = 1.0f / length;
  float best = kFar;
  VisitNode(0, s, result, best);
  if (best == kFar) return false;
  result.normal.Normalise();
  return true;
}
