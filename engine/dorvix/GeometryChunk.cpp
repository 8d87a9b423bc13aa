#include "engine/dorvix/GeometryChunk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

#include "engine/dorvix/Display.h"
#include "engine/dorvix/VertexProgram.h"

namespace Vak {

namespace {

// A chunk's arrays are written right after it is made: its pages are
// mapped in one call instead of one fault each (where the system offers it;
// calloc's large blocks come zeroed from the system, untouched).
uint8_t* ZeroedBytes(std::size_t count) {
  void* bytes = std::calloc(std::max<std::size_t>(1, count), 1);
  if (bytes == nullptr) throw std::bad_alloc();
#ifdef MADV_POPULATE_WRITE
  const std::uintptr_t page = 4096, at = reinterpret_cast<std::uintptr_t>(bytes);
  const std::uintptr_t start = (at + page - 1) & ~(page - 1), end = (at + count) & ~(page - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
#endif
  return static_cast<uint8_t*>(bytes);
}

// Where the face normals and the indices start in a chunk's block, after
// the vertex data.
std::size_t FaceNormalsAt(std::size_t vertexBytes) { return (vertexBytes + 3) & ~std::size_t{3}; }

} // namespace

GeometryChunk::GeometryChunk(const VertexType& type, unsigned vertices, unsigned secondSize, unsigned indices,
                             unsigned faces, int geometryType, const StandardChunkHint& hint)
    : type_(type),
      vertices_(vertices),
      vertexCapacity_(vertices),
      secondSize_(secondSize),
      geometryType_(geometryType),
      hint_(hint),
      // The hint's low five bits ask for vertex items and skinning; the
      // chunk's say how its indices join.
      flags_(TypeBitsForPrimitiveType(geometryType) | (hint.flags & ~0x1Fu)),
      indexCount_(indices),
      indexCapacity_(indices),
      faceCount_(faces) {
  const std::size_t normalsAt = FaceNormalsAt(std::size_t(vertices) * type.Stride());
  const std::size_t indicesAt = normalsAt + std::size_t(faces) * sizeof(Vector3);
  std::shared_ptr<uint8_t> block(ZeroedBytes(indicesAt + std::size_t(indices) * sizeof(uint16_t)),
                                 [](uint8_t* bytes) { std::free(bytes); });
  vertexData_ = block.get();
  faceNormals_ = reinterpret_cast<Vector3*>(vertexData_ + normalsAt);
  indices_ = reinterpret_cast<uint16_t*>(vertexData_ + indicesAt);
  vertexHold_ = normalsHold_ = indexHold_ = std::move(block);
  vertexToken_ = std::make_shared<char>();
  indexToken_ = std::make_shared<char>();
}

GeometryChunk::~GeometryChunk() { SetFaceNeighborArray(nullptr); }

unsigned GeometryChunk::GetPrimitiveCount() const {
  const unsigned n = GetIndexCount();
  switch (geometryType_) {
  case 0: return n / 3;             // triangle list
  case 1: case 2: return n > 2 ? n - 2 : 0;  // strip, fan
  case 3: return n;                 // points
  case 4: return n / 2;             // line list
  case 5: return n > 1 ? n - 1 : 0;  // line strip
  default: return 0;
  }
}

int GeometryChunk::PrimitiveTypeForTypeBits(uint32_t bits) {
  switch (bits) {
  case kTypeTriangleList: return 0;
  case kTypeTriangleStrip: return 1;
  case kTypeTriangleFan: return 2;
  case kTypePoints: return 3;
  case kTypeLineList: return 4;
  case kTypeLineStrip: return 5;
  default: return -1;
  }
}

uint32_t GeometryChunk::TypeBitsForPrimitiveType(int type) {
  switch (type) {
  case 0: return kTypeTriangleList;
  case 1: return kTypeTriangleStrip;
  case 2: return kTypeTriangleFan;
  case 4: return kTypeLineList;
  case 5: return kTypeLineStrip;
  default: return kTypePoints;
  }
}

GeometryChunk* GeometryChunk::CreateInstance() const {
  // Made empty, then pointed at this chunk's arrays.
  auto* copy = new GeometryChunk(type_, 0, secondSize_, 0, 0, geometryType_, hint_);
  copy->vertices_ = vertices_;
  copy->vertexCapacity_ = vertexCapacity_;
  copy->indexCount_ = indexCount_;
  copy->indexCapacity_ = indexCapacity_;
  copy->faceCount_ = faceCount_;
  copy->vertexHold_ = vertexHold_;
  copy->normalsHold_ = normalsHold_;
  copy->indexHold_ = indexHold_;
  copy->vertexToken_ = vertexToken_;
  copy->indexToken_ = indexToken_;
  copy->vertexData_ = vertexData_;
  copy->faceNormals_ = faceNormals_;
  copy->indices_ = indices_;
  copy->flags_ = flags_;
  copy->softwareSkinned_ = softwareSkinned_;
  copy->palette_ = palette_;
  copy->influenceMatrices_ = influenceMatrices_;
  copy->template_ = template_;
  copy->registeredType_ = registeredType_;
  copy->properties_ = properties_;
  copy->program_ = program_;
  copy->lightingFactor_ = lightingFactor_;
  copy->passes_ = passes_;
  copy->opacity_ = opacity_;
  copy->SetFaceNeighborArray(neighbours_);
  return copy;
}

std::shared_ptr<uint8_t> GeometryChunk::CopyOf(const uint8_t* from, std::size_t copy, std::size_t bytes) {
  std::shared_ptr<uint8_t> block(ZeroedBytes(bytes), [](uint8_t* b) { std::free(b); });
  if (copy > 0) std::memcpy(block.get(), from, copy);
  return block;
}

bool GeometryChunk::GetVertexDataShared(int stream) const { return stream == 0 && vertexToken_.use_count() > 1; }

bool GeometryChunk::GetIndexDataShared() const { return indexToken_.use_count() > 1; }

void GeometryChunk::DuplicateVertexArray(int stream, Display*) {
  if (!GetVertexDataShared(stream)) return;
  const std::size_t bytes = std::size_t(vertexCapacity_) * type_.Stride();
  vertexHold_ = CopyOf(vertexData_, bytes, bytes);
  vertexData_ = vertexHold_.get();
  vertexToken_ = std::make_shared<char>();
}

void GeometryChunk::DuplicateIndexArray(Display*) {
  if (!GetIndexDataShared()) return;
  const std::size_t bytes = std::size_t(indexCapacity_) * sizeof(uint16_t);
  indexHold_ = CopyOf(reinterpret_cast<const uint8_t*>(indices_), bytes, bytes);
  indices_ = reinterpret_cast<uint16_t*>(indexHold_.get());
  indexToken_ = std::make_shared<char>();
}

void GeometryChunk::DuplicateUnsharedArrays(Display* display) {
  // Usage 1 is the display's dynamic usage.
  if (hint_.vertexUsage == 1) DuplicateVertexArray(0, display);
  if (hint_.indexUsage == 1) DuplicateIndexArray(display);
}

bool GeometryChunk::AppendChunk(const GeometryChunk& other, Display*) {
  if (!(other.type_ == type_)) return false;
  const std::size_t vertices = std::size_t(vertices_) + other.vertices_;
  if (vertices > 0x10000) return false;
  const std::size_t stride = type_.Stride();
  std::shared_ptr<uint8_t> data = CopyOf(vertexData_, vertices_ * stride, vertices * stride);
  if (other.vertices_ > 0) std::memcpy(data.get() + vertices_ * stride, other.vertexData_, other.vertices_ * stride);
  const std::size_t indexCount = std::size_t(indexCount_) + other.indexCount_;
  std::shared_ptr<uint8_t> indexBlock =
      CopyOf(reinterpret_cast<const uint8_t*>(indices_), indexCount_ * sizeof(uint16_t), indexCount * sizeof(uint16_t));
  auto* indices = reinterpret_cast<uint16_t*>(indexBlock.get());
  for (unsigned i = 0; i < other.indexCount_; ++i)
    indices[indexCount_ + i] = static_cast<uint16_t>(other.indices_[i] + vertices_);
  const std::size_t faces = std::size_t(faceCount_) + other.faceCount_;
  std::shared_ptr<uint8_t> normalBlock = CopyOf(reinterpret_cast<const uint8_t*>(faceNormals_),
                                                faceCount_ * sizeof(Vector3), faces * sizeof(Vector3));
  if (other.faceCount_ > 0)
    std::memcpy(normalBlock.get() + faceCount_ * sizeof(Vector3), other.faceNormals_, other.faceCount_ * sizeof(Vector3));
  vertexHold_ = std::move(data);
  indexHold_ = std::move(indexBlock);
  normalsHold_ = std::move(normalBlock);
  vertexData_ = vertexHold_.get();
  indices_ = reinterpret_cast<uint16_t*>(indexHold_.get());
  faceNormals_ = reinterpret_cast<Vector3*>(normalsHold_.get());
  vertexToken_ = std::make_shared<char>();
  indexToken_ = std::make_shared<char>();
  vertices_ = vertexCapacity_ = static_cast<unsigned>(vertices);
  indexCount_ = indexCapacity_ = static_cast<unsigned>(indexCount);
  faceCount_ = static_cast<unsigned>(faces);
  // The neighbours named faces of the old arrays only.
  SetFaceNeighborArray(nullptr);
  return true;
}

void GeometryChunk::SetOpacity(float opacity, Display*) { opacity_ = opacity; }

void GeometryChunk::AssignInfluenceMatrix(unsigned influence, const Matrix4* matrix) {
  auto it = std::find(palette_.begin(), palette_.end(), influence);
  if (it == palette_.end()) return;
  const std::size_t slot = std::size_t(it - palette_.begin());
  if (influenceMatrices_.size() < palette_.size()) influenceMatrices_.resize(palette_.size(), nullptr);
  influenceMatrices_[slot] = matrix;
}

bool GeometryChunk::InitializeBuffers(Display*, bool) {
  ++bufferInits_;
  return !refuseBuffers_;
}

void GeometryChunk::SetFaceNeighborArray(FaceNeighborArray* neighbours) {
  if (neighbours) neighbours->AddReference();
  if (neighbours_) neighbours_->ReleaseReference();
  neighbours_ = neighbours;
}

int GeometryChunk::AddInfluenceMatrix(unsigned influence) {
  auto it = std::find(palette_.begin(), palette_.end(), influence);
  if (it != palette_.end()) return static_cast<int>(it - palette_.begin());
  if (hint_.matrixLimit != 0 && palette_.size() >= hint_.matrixLimit) return -1;
  palette_.push_back(influence);
  return static_cast<int>(palette_.size() - 1);
}

void* GeometryChunk::ItemStart(int item, std::size_t size) {
  int offset = type_.Offset(item);
  if (offset < 0 || vertexCapacity_ == 0) return nullptr;
  assert(size <= VertexType::ItemSize(item));
  (void)size;
  return vertexData_ + offset;
}

bool GeometryChunk::AddChunkProperty(const PString& name, float value) {
  float held;
  if (GetChunkProperty(name, held)) return false;
  properties_.emplace_back(name, value);
  return true;
}

bool GeometryChunk::SetChunkProperty(const PString& name, float value) {
  for (auto& property : properties_)
    if (property.first == name) {
      property.second = value;
      return true;
    }
  return false;
}

bool GeometryChunk::GetChunkProperty(const PString& name, float& value) const {
  for (const auto& property : properties_)
    if (property.first == name) {
      value = property.second;
      return true;
    }
  return false;
}

namespace {
std::string DrawName(const char* what, const VertexProgram* program) {
  return std::string(what) + ":" + (program ? program->GetName() : std::string());
}
} // namespace

void GeometryChunk::RenderGeometry(Display& display, View*, VertexProgram* program, bool, int pass) {
  display.Record(DrawName("RenderGeometry", program), {double(pass)});
}

void GeometryChunk::RenderPrimitives(Display& display, View*, VertexProgram* program, unsigned first, unsigned count) {
  display.Record(DrawName("RenderPrimitives", program), {double(first), double(count)});
}

} // namespace Vak
