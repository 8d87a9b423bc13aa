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

void GeometryChunk::FreeBytes::operator()(uint8_t* bytes) const { std::free(bytes); }

GeometryChunk::GeometryChunk(const VertexType& type, unsigned vertices, unsigned secondSize, unsigned indices,
                             unsigned faces, int geometryType, const StandardChunkHint& hint)
    : type_(type),
      vertices_(vertices),
      secondSize_(secondSize),
      geometryType_(geometryType),
      hint_(hint),
      flags_(hint.flags),
      indexCount_(indices),
      faceCount_(faces) {
  const std::size_t normalsAt = FaceNormalsAt(std::size_t(vertices) * type.Stride());
  const std::size_t indicesAt = normalsAt + std::size_t(faces) * sizeof(Vector3);
  vertexData_.reset(ZeroedBytes(indicesAt + std::size_t(indices) * sizeof(uint16_t)));
  faceNormals_ = reinterpret_cast<Vector3*>(vertexData_.get() + normalsAt);
  indices_ = reinterpret_cast<uint16_t*>(vertexData_.get() + indicesAt);
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

GeometryChunk* GeometryChunk::CreateInstance() const {
  auto* copy = new GeometryChunk(type_, vertices_, secondSize_, GetIndexCount(), GetFaceCount(), geometryType_, hint_);
  std::copy_n(vertexData_.get(), std::size_t(vertices_) * type_.Stride(), copy->vertexData_.get());
  std::copy_n(faceNormals_, faceCount_, copy->faceNormals_);
  std::copy_n(indices_, indexCount_, copy->indices_);
  copy->flags_ = flags_;
  copy->softwareSkinned_ = softwareSkinned_;
  copy->palette_ = palette_;
  copy->SetFaceNeighborArray(neighbours_);
  return copy;
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
  if (offset < 0 || vertices_ == 0) return nullptr;
  assert(size <= VertexType::ItemSize(item));
  (void)size;
  return vertexData_.get() + offset;
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
