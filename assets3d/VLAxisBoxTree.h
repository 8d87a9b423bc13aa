#pragma once
// An axis-aligned box tree over the triangles of a mesh, for segment queries.
// The tree keeps no vertices: a leaf names its triangles by identifier and
// the mesh's external geometry gives their corners when a query needs them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/kernelx/Vector3.h"

// Scratch memory handed out in order from a chain of fixed blocks and given
// back all at once.
class VLMemoryChain {
public:
  explicit VLMemoryChain(std::size_t blockSize = 1 << 16) : blockSize_(blockSize) {}
  VLMemoryChain(const VLMemoryChain&) = delete;
  VLMemoryChain& operator=(const VLMemoryChain&) = delete;
  ~VLMemoryChain() { Release(); }

  // Aligned to 16 bytes; a request larger than a block gets a block of its own.
  void* Allocate(std::size_t bytes);
  template <typename T>
  T* AllocateArray(std::size_t count) {
    return static_cast<T*>(Allocate(count * sizeof(T)));
  }
  void Release();
  std::size_t BlockCount() const { return blocks_.size(); }

private:
  struct Block {
    unsigned char* data;
    std::size_t size;
  };
  std::size_t blockSize_;
  std::vector<Block> blocks_;
  std::size_t used_ = 0;  // in the last block
};

// Maps 3-D points to integers; a look-up finds only an exactly equal point.
// New points wait in a short pending list and are then built, with the trees
// already there of no greater size, into one k-d tree (median splits, axes in
// turn), so a map of n points holds at most log n trees.
class VLMapKDTree {
public:
  void Insert(const Vak::Vector3& point, int value);
  // False when no point equal in all three coordinates was inserted.
  bool Find(const Vak::Vector3& point, int& value) const;
  void Clear();
  std::size_t Size() const;

private:
  struct Entry {
    Vak::Vector3 point;
    int value;
  };
  static void Build(Entry* first, Entry* last, int axis);
  static bool FindIn(const std::vector<Entry>& tree, const Vak::Vector3& point, int& value);

  std::vector<Entry> pending_;
  std::vector<std::vector<Entry>> trees_;  // tree k holds 0 or kPendingLimit << k points
};

// What the tree reads of the mesh it was built over.
class VLAxisBoxTreeExternalGeometry {
public:
  virtual ~VLAxisBoxTreeExternalGeometry() = default;
  // The corners of the triangle `id` names; false when it names none.
  virtual bool GetTriangle(uint32_t id, Vak::Vector3 corners[3]) const = 0;
};

class VLAxisBoxTree {
public:
  // A triangle identifier: the chunk number (below 512) from bit 16 up and
  // the triangle's number within its chunk (below 32768) in the low 16 bits.
  static constexpr uint32_t kChunkLimit = 512;
  static constexpr uint32_t kTrianglesPerChunk = 32768;
  static constexpr uint32_t kMaxVertices = 16700000;
  static constexpr uint32_t kMaxTriangles = 8300000;
  static constexpr unsigned kLeafSize = 64;
  static constexpr float kFar = 3.4028235e38f;

  static bool IsValidId(uint32_t id) { return (id >> 16) < kChunkLimit && (id & 0xFFFF) < kTrianglesPerChunk; }

  struct CompactNode {
    int32_t word0;  // first child, or ~(first leaf-list position) for a leaf
    int32_t word1;  // second child, or the leaf's triangle count
    int16_t centre[3];
    uint16_t half[3];
  };
  static_assert(sizeof(CompactNode) == 20, "the tree's memory size counts 20 bytes a node");

  struct RayResult {
    Vak::Vector3 point;
    Vak::Vector3 normal;
    float fraction = -1;
    int32_t id = -1;
    int32_t extra = -1;
  };

  VLAxisBoxTree() = default;
  VLAxisBoxTree(const VLAxisBoxTree&) = delete;
  VLAxisBoxTree& operator=(const VLAxisBoxTree&) = delete;
  ~VLAxisBoxTree();

  void BeginBuild(const VLAxisBoxTreeExternalGeometry* geometry);
  void AddTriangle(const Vak::Vector3& a, const Vak::Vector3& b, const Vak::Vector3& c, uint32_t id);
  // False when nothing was added or a limit was passed; the tree is then empty.
  bool FinishBuild();

  // The nearest triangle the segment from `start` to `end` crosses.
  bool RayQuery(const Vak::Vector3& start, const Vak::Vector3& end, RayResult& result) const;

  // False for a triangle without a plane (or with a corner not finite).
  static bool AcceptTriangle(const Vak::Vector3& a, const Vak::Vector3& b, const Vak::Vector3& c);
  // Where the segment crosses the triangle's plane inside the triangle: the
  // fraction along the segment (0 when it lies in the plane) and the point.
  static bool SegmentHitsTriangle(const Vak::Vector3& start, const Vak::Vector3& end, const Vak::Vector3 corners[3],
                                  float& fraction, Vak::Vector3& point);
  // Möller-Trumbore: `t` is the distance along `direction`, within [0, length].
  static bool RayHitsTriangle(const Vak::Vector3& origin, const Vak::Vector3& direction, float length,
                              const Vak::Vector3& a, const Vak::Vector3& b, const Vak::Vector3& c, bool twoSided,
                              float& t, float& u, float& v);
  // `point` on the triangle's plane with normal `normal`.
  static bool PointInTriangle(const Vak::Vector3& point, const Vak::Vector3& a, const Vak::Vector3& b,
                              const Vak::Vector3& c, const Vak::Vector3& normal);
  // The axes by the size of `v`'s components, largest first.
  static std::array<int, 3> DominantAxes(const Vak::Vector3& v);

  std::size_t MemorySize() const { return 20 * nodes_.size() + 3 * LeafEntryCount(); }

  // What the build and the finished tree hold, for checks.
  std::size_t NodeCount() const { return nodes_.size(); }
  const CompactNode& GetNode(std::size_t i) const { return nodes_[i]; }
  void UnpackBox(std::size_t node, Vak::Vector3& centre, Vak::Vector3& half) const;
  std::size_t LeafEntryCount() const { return leaves_.size() / 3; }
  uint32_t GetLeafId(std::size_t entry) const;
  unsigned RejectedCount() const { return rejected_; }
  unsigned DeepestLevel() const { return deepest_; }
  // While building.
  std::size_t WeldedVertexCount() const;
  std::size_t BuildTriangleCount() const;
  std::array<uint32_t, 3> GetBuildTriangle(std::size_t i) const;

private:
  struct Workspace;
  struct Segment;
  struct Box {
    float min[3];
    float max[3];
  };
  void Split(uint32_t node, uint32_t first, uint32_t count, unsigned depth);
  void Compact();
  void FreeWorkspace();
  void VisitNode(int32_t node, const Segment& s, RayResult& result, float& best) const;
  bool SegmentMissesNode(int32_t node, const Segment& s) const;
  float EntryFraction(int32_t node, const Segment& s) const;
  void TestLeaf(int32_t node, const Segment& s, RayResult& result, float& best) const;

  const VLAxisBoxTreeExternalGeometry* geometry_ = nullptr;
  Workspace* work_ = nullptr;
  std::vector<CompactNode> nodes_;
  std::vector<uint8_t> leaves_;  // 3 bytes an entry
  float centreFactor_ = 0;
  float halfFactor_ = 0;
  unsigned rejected_ = 0;
  unsigned deepest_ = 0;
};
