#pragma once
// Triangle queries the engine puts to geometry: a triangle is named by its
// geometry, its index in a chunk and the chunk's index.
#include <cstdint>

#include "engine/elthrac/Geometry.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class GeometryChunk;
class Material;
class TriangleGeometry;

struct TriangleRef {
  TriangleGeometry* geometry = nullptr;
  unsigned triangle = 0;
  unsigned chunk = 0;
};

class TriangleGeometry : public Geometry {
public:
  // A face-neighbour word with every bit set: no neighbour.
  static constexpr uint32_t kNoNeighbour = 0xFFFFFFFFu;

  virtual unsigned GetTriangleChunkCount() const = 0;
  virtual unsigned GetTriangleCount(unsigned chunk) const = 0;
  virtual GeometryChunk* GetTriangleChunk(unsigned chunk) const = 0;
  virtual Material* GetTriangleMaterial(unsigned triangle, unsigned chunk) const = 0;
  // The position in the chunk's index array of a corner (0 to 2).
  virtual unsigned GetTriangleIndexPosition(unsigned triangle, unsigned chunk, unsigned corner) const = 0;
  // The vertex index of a corner; false past the chunk's arrays.
  virtual bool GetTriangleVertexIndex(unsigned triangle, unsigned chunk, unsigned corner, unsigned& vertex) const = 0;
  virtual bool GetTriangleVertex(unsigned triangle, unsigned chunk, unsigned corner, Vector3& position) const = 0;
  virtual bool GetTriangleVertices(unsigned triangle, unsigned chunk, Vector3 corners[3]) const = 0;
  virtual bool GetTriangleVertexNormal(unsigned triangle, unsigned chunk, unsigned corner, Vector3& normal) const = 0;
  virtual bool GetTriangleTexCoord(unsigned triangle, unsigned chunk, unsigned corner, float& u, float& v) const = 0;
  virtual bool GetTriangleColour(unsigned triangle, unsigned chunk, unsigned corner, uint32_t& colour) const = 0;
  // The neighbour across edge `edge` (from corner edge to the next); false
  // when there is none.
  virtual bool GetTriangleNeighbour(unsigned triangle, unsigned chunk, unsigned edge, TriangleRef& neighbour) const = 0;
  virtual Vector3 GetTriangleFaceNormal(unsigned triangle, unsigned chunk) const = 0;
  virtual Vector3 GetTriangleCentre(unsigned triangle, unsigned chunk) const = 0;
  virtual float GetTriangleArea(unsigned triangle, unsigned chunk) const = 0;
  virtual bool IsTriangleTwoSided(unsigned triangle, unsigned chunk) const = 0;
  // Whether the triangle's chunk draws at all.
  virtual bool IsTriangleVisible(unsigned triangle, unsigned chunk) const = 0;
};

} // namespace Vak
