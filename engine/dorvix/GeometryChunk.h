#pragma once
// A piece of geometry of one vertex type: vertex data, 16-bit indices, face
// normals and neighbours, and the bone palette of skinned geometry. Made by
// a material for a hint. A chunk's instances share its arrays until one is
// duplicated for the instance that changes it.
#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/PString.h"

#include "Vak/plugins/ReferenceCount.h"
#include "engine/dorvix/StandardChunkHint.h"
#include "engine/dorvix/VertexType.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class Display;
class VertexProgram;
class View;
struct Matrix4;

// One item of every vertex: a pointer to vertex 0's item and the stride;
// empty when the vertex type lacks the item.
template <typename T>
class VertexItem {
public:
  VertexItem() = default;
  VertexItem(T* first, unsigned stride) : first_(first), stride_(stride) {}
  explicit operator bool() const { return first_ != nullptr; }
  T* Data() const { return first_; }
  unsigned Stride() const { return stride_; }
  T* operator()(unsigned vertex) const {
    using Byte = std::conditional_t<std::is_const_v<T>, const uint8_t, uint8_t>;
    return reinterpret_cast<T*>(reinterpret_cast<Byte*>(first_) + std::size_t(vertex) * stride_);
  }
  T& operator[](unsigned vertex) const { return *(*this)(vertex); }

private:
  T* first_ = nullptr;
  unsigned stride_ = 0;
};

class GeometryChunk : public ReferenceCount {
public:
  // The neighbouring face across each edge of a face.
  struct FaceNeighbors {
    uint32_t face[3] = {0, 0, 0};
  };
  // Shared between the chunks of a mesh and its copies.
  class FaceNeighborArray : public ReferenceCount {
  public:
    explicit FaceNeighborArray(unsigned count) : records(count) {}
    std::vector<FaceNeighbors> records;
  };

  // Vertex data, indices and face normals start zeroed. Throws
  // std::bad_alloc when they cannot be had.
  GeometryChunk(const VertexType& type, unsigned vertices, unsigned secondSize, unsigned indices, unsigned faces,
                int geometryType, const StandardChunkHint& hint);
  ~GeometryChunk() override;

  const VertexType& GetVertexType() const { return type_; }
  unsigned GetVertexSize() const { return type_.Stride(); }
  // The vertices and indices in use; no more than the arrays hold.
  unsigned GetVertexCount() const { return vertices_; }
  unsigned GetSecondSize() const { return secondSize_; }
  unsigned GetIndexCount() const { return indexCount_; }
  unsigned GetVertexCapacity() const { return vertexCapacity_; }
  unsigned GetIndexCapacity() const { return indexCapacity_; }
  // Kept within the arrays' size.
  void SetVertexCount(unsigned count) { vertices_ = count < vertexCapacity_ ? count : vertexCapacity_; }
  void SetIndexCount(unsigned count) { indexCount_ = count < indexCapacity_ ? count : indexCapacity_; }
  unsigned GetFaceCount() const { return faceCount_; }
  int GetGeometryType() const { return geometryType_; }
  // Primitives its indices make for its geometry type (Material::GeometryType).
  unsigned GetPrimitiveCount() const;
  // Makes the display's buffers of the chunk; the stand-in has none to make
  // unless a test refuses them.
  virtual bool InitializeBuffers(Display* display, bool staticBuffers);
  // A new chunk over the same vertex, index, face and neighbour arrays with
  // its own counts, flags and palette; one reference for the caller.
  virtual GeometryChunk* CreateInstance() const;
  // Whether another chunk uses this chunk's vertex data of `stream` (the
  // stand-in's layouts have the one stream 0) or its index data.
  bool GetVertexDataShared(int stream) const;
  bool GetIndexDataShared() const;
  // Gives the chunk its own copy of the array; nothing when it has it.
  void DuplicateVertexArray(int stream, Display* display);
  void DuplicateIndexArray(Display* display);
  // A dynamic chunk's instance changes its vertices (dynamic vertex usage)
  // or indices (dynamic index usage): those arrays become its own.
  void DuplicateUnsharedArrays(Display* display);
  // Appends `other`'s vertices and indices (its indices moved past this
  // chunk's vertices) and face normals into new arrays of this chunk's own.
  // False, changing nothing, for another vertex type or when the vertices
  // would pass what 16-bit indices reach.
  bool AppendChunk(const GeometryChunk& other, Display* display);
  // Marks the vertex data of a stream as changed for the display.
  void SetVertexDataDirty(int stream) { ++dirty_[stream == 0 ? 0 : 1]; }
  unsigned GetVertexDataDirtyCount(int stream) const { return dirty_[stream == 0 ? 0 : 1]; }
  // The chunk's opacity as the display draws it.
  void SetOpacity(float opacity, Display* display);
  float GetOpacity() const { return opacity_; }
  // The object that holds the chunk as its own (not owned; null for none).
  void* GetOwner() const { return owner_; }
  void SetOwner(void* owner) { owner_ = owner; }
  void SetRefuseBuffers(bool refuse) { refuseBuffers_ = refuse; }
  unsigned GetBufferInitCount() const { return bufferInits_; }
  const StandardChunkHint& GetHint() const { return hint_; }
  // Start as the type bits of the geometry type, with the hint's flags
  // above the low five bits (0x40, 0x1000).
  uint32_t GetFlags() const { return flags_; }
  void SetFlags(uint32_t flags) { flags_ = flags; }
  // The low five bits of the flags say how the indices join.
  enum TypeBits : uint32_t {
    kTypePoints = 0,
    kTypeLineList = 1,
    kTypeLineStrip = 2,
    kTypeTriangleList = 4,
    kTypeTriangleStrip = 8,
    kTypeTriangleFan = 16,
  };
  uint32_t GetTypeBits() const { return flags_ & 0x1Fu; }
  // The display's primitive type (Material::GeometryType) of type bits; -1
  // for bits that name none.
  static int PrimitiveTypeForTypeBits(uint32_t bits);
  // The other way round; 0 (points) for a type that names none.
  static uint32_t TypeBitsForPrimitiveType(int type);

  uint8_t* GetVertexData() { return vertexData_; }
  const uint8_t* GetVertexData() const { return vertexData_; }
  template <typename T>
  VertexItem<T> GetItem(int item) {
    return VertexItem<T>(static_cast<T*>(ItemStart(item, sizeof(T))), type_.Stride());
  }
  template <typename T>
  VertexItem<const T> GetItem(int item) const {
    return VertexItem<const T>(static_cast<const T*>(const_cast<GeometryChunk*>(this)->ItemStart(item, sizeof(T))),
                               type_.Stride());
  }

  // An item of 32-bit words (blend indices, packed weights, colours).
  VertexItem<uint32_t> GetUDwordArray(int item) { return GetItem<uint32_t>(item); }

  uint16_t* GetIndices() { return indices_; }
  const uint16_t* GetIndices() const { return indices_; }
  Vector3* GetFaceNormals() { return faceNormals_; }
  const Vector3* GetFaceNormals() const { return faceNormals_; }

  // Takes a reference, releasing the array held before; null clears.
  void SetFaceNeighborArray(FaceNeighborArray* neighbours);
  FaceNeighborArray* GetFaceNeighborArray() const { return neighbours_; }

  // Skinned on the CPU: its vertices carry no weights to fill.
  bool IsSoftwareSkinned() const { return softwareSkinned_; }
  void SetSoftwareSkinned(bool on) { softwareSkinned_ = on; }

  // The palette slot of an influence's matrix, added on first use; -1 when
  // the palette is full (the hint's matrix limit).
  int AddInfluenceMatrix(unsigned influence);
  unsigned GetNumInfluenceMatrices() const { return static_cast<unsigned>(palette_.size()); }
  unsigned GetInfluenceMatrix(unsigned slot) const { return palette_[slot]; }
  // Empties the palette and the matrices assigned to it.
  void ResetPalette() {
    palette_.clear();
    influenceMatrices_.clear();
  }
  // The matrix an influence's palette entry draws with (not owned); an
  // influence the palette lacks is ignored.
  void AssignInfluenceMatrix(unsigned influence, const Matrix4* matrix);
  // Null when none is assigned to the slot.
  const Matrix4* GetAssignedMatrix(unsigned slot) const {
    return slot < influenceMatrices_.size() ? influenceMatrices_[slot] : nullptr;
  }

  // The vertex layout family a material made the chunk as.
  enum Template : int { kPlainTemplate = 0, kPNTA, kPNT, kPCT };
  Template GetTemplate() const { return template_; }
  void SetTemplate(Template kind) { template_ = kind; }
  // Buffer set-up asked by the material, kept in order as text for checks.
  void SetVertexDataDynamic(int stream, int usage, bool discard) { Note("SetVertexDataDynamic", stream, usage, discard); }
  void SetVertexDataShared(int stream, int source, bool shared) { Note("SetVertexDataShared", stream, source, shared); }
  void SetIndexDataDynamic() { setup_.push_back("SetIndexDataDynamic"); }
  const std::vector<std::string>& GetSetupCalls() const { return setup_; }
  // A vertex type the display registered (0: the chunk's own layout).
  void SetVertexType(int registered, int stream) {
    registeredType_ = registered;
    Note("SetVertexType", registered, stream, false);
  }
  int GetRegisteredVertexType() const { return registeredType_; }

  // Named float values per chunk. Adding a name held already fails.
  bool AddChunkProperty(const PString& name, float value);
  bool SetChunkProperty(const PString& name, float value);
  bool GetChunkProperty(const PString& name, float& value) const;

  // The passes the chunk is drawn in.
  unsigned GetNumPasses() const { return passes_; }
  void SetNumPasses(unsigned passes) { passes_ = passes; }
  // The program the chunk draws with on its own (not owned; null for none).
  VertexProgram* GetVertexProgram(int pass) const { return pass == 0 ? program_ : nullptr; }
  void SetVertexProgram(VertexProgram* program) { program_ = program; }
  float GetLightingFactor() const { return lightingFactor_; }
  void SetLightingFactor(float factor) { lightingFactor_ = factor; }
  // Draws, recorded on the display with the program's name.
  void RenderGeometry(Display& display, View* view, VertexProgram* program, bool setState, int pass);
  void RenderPrimitives(Display& display, View* view, VertexProgram* program, unsigned first, unsigned count);

private:
  void* ItemStart(int item, std::size_t size);
  // A new array of `bytes` with the first `copy` bytes of `from`.
  static std::shared_ptr<uint8_t> CopyOf(const uint8_t* from, std::size_t copy, std::size_t bytes);
  void Note(const char* name, int a, int b, bool c) {
    setup_.push_back(std::string(name) + "(" + std::to_string(a) + "," + std::to_string(b) + "," +
                     (c ? "true" : "false") + ")");
  }

  Template template_ = kPlainTemplate;
  std::vector<std::string> setup_;
  int registeredType_ = 0;
  std::vector<std::pair<PString, float>> properties_;
  VertexProgram* program_ = nullptr;
  float lightingFactor_ = 1.0f;
  unsigned passes_ = 1;

  VertexType type_;
  unsigned vertices_;
  unsigned vertexCapacity_;
  unsigned secondSize_;
  int geometryType_;
  StandardChunkHint hint_;
  uint32_t flags_;
  unsigned indexCount_;
  unsigned indexCapacity_;
  unsigned faceCount_;
  // One block from calloc for the vertex data, then the face normals, then
  // the indices: a large block comes zeroed from the system, not by a pass.
  // Each array's holder keeps its block alive; the tokens are copied to
  // the chunks that share the array, so their count tells the sharing.
  std::shared_ptr<uint8_t> vertexHold_, normalsHold_, indexHold_;
  std::shared_ptr<char> vertexToken_, indexToken_;
  uint8_t* vertexData_ = nullptr;
  Vector3* faceNormals_ = nullptr;
  uint16_t* indices_ = nullptr;
  unsigned dirty_[2] = {0, 0};
  float opacity_ = 1.0f;
  void* owner_ = nullptr;
  std::vector<const Matrix4*> influenceMatrices_;
  FaceNeighborArray* neighbours_ = nullptr;
  bool softwareSkinned_ = false;
  bool refuseBuffers_ = false;
  unsigned bufferInits_ = 0;
  std::vector<unsigned> palette_;
};

} // namespace Vak
