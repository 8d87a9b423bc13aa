#include "engine/dorvix/GeometryChunk.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace Vak {

namespace {

uint8_t* ZeroedBytes(std::size_t count) {
  void* bytes = std::calloc(std::max<std::size_t>(1, count), 1);
  if (bytes == nullptr) throw std::bad_alloc();
  return static_cast<uint8_t*>(bytes);
}

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
      vertexData_(ZeroedBytes(std::size_t(vertices) * type.Stride())),
      indices_(indices),
      faceNormals_(faces) {}

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

GeometryChunk* GeometryChunk::CreateInstance() const {
  auto* copy = new GeometryChunk(type_, vertices_, secondSize_, GetIndexCount(), GetFaceCount(), geometryType_, hint_);
  std::copy_n(vertexData_.get(), std::size_t(vertices_) * type_.Stride(), copy->vertexData_.get());
  copy->indices_ = indices_;
  copy->faceNormals_ = faceNormals_;
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

} // namespace Vak
