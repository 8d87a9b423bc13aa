#pragma once
// A text geometry config (".imtxt", docs/formats/geometry-config.md) read
// from a parsed config text: the mesh's place, its chunks with their
// materials and vertex data, its influences and attachment points.
#include <cstdint>
#include <utility>
#include <vector>

#include "Vak/Bexlorn/String.h"
#include "engine/fyrmond/InfluenceDefinition.h"
#include "engine/kernelx/ConfigData.h"
#include "engine/kernelx/Quaternion.h"
#include "engine/kernelx/Vector3.h"

namespace Vak {

class GeometryConfigData {
public:
  // 16-bit indices reach no further.
  static constexpr unsigned kVertexLimit = 65536;

  struct Material {
    AnsiString typeName;
    std::vector<AnsiString> textures;
    std::vector<std::pair<AnsiString, AnsiString>> properties;  // name, value
    uint32_t flag = 0;
    float value = 0;
    // Red, green, blue, alpha.
    float diffuse[4] = {1, 1, 1, 1};
    float ambient[4] = {1, 1, 1, 1};
    float specular[4] = {0, 0, 0, 1};
    float emissive[4] = {0, 0, 0, 1};
    float exponent = 0;  // as written; the mesh scales it
  };

  struct Chunk {
    AnsiString name;
    Material material;
    unsigned texCoordSets = 1;
    unsigned weightsPerVertex = 0;
    unsigned secondSize = 0;
    std::vector<Vector3> positions;
    std::vector<Vector3> normals;
    std::vector<float> texCoords;  // per vertex, texCoordSets (u, v) pairs
    // Per vertex a diffuse and a specular colour, RGBA each; empty when
    // the chunk has none.
    std::vector<float> colours;
    std::vector<uint16_t> indices;
    std::vector<Vector3> faceNormals;  // none, or one per triangle

    unsigned GetVertexCount() const { return static_cast<unsigned>(positions.size()); }
    unsigned GetIndexCount() const { return static_cast<unsigned>(indices.size()); }
    unsigned GetFaceNormalCount() const { return static_cast<unsigned>(faceNormals.size()); }
  };

  struct Influence {
    AnsiString name;
    AnsiString parentName;
    Vector3 position;
    Matrix3 matrix;
    std::vector<InfluenceDefinition::Group> groups;
  };

  struct AttachmentPoint {
    AnsiString name;
    Quaternion orientation;
    Vector3 position;
  };

  // False when the data is not a version 1.0 geometry config or breaks a
  // rule of the format; what was read up to there stays, and the maxima
  // are read first so that a caller can tell a config that named them.
  bool Load(const ConfigData& data, const char* fileName);

  const AnsiString& GetFileName() const { return fileName_; }
  const Vector3& GetPosition() const { return position_; }
  const Quaternion& GetOrientation() const { return orientation_; }
  unsigned GetMaxInfluencesPerVertex() const { return maxInfluences_; }
  unsigned GetMaxMatricesPerChunk() const { return maxMatrices_; }
  // 0 when the config does not name one.
  unsigned GetMaxVertexCount() const { return maxVertices_; }

  unsigned GetNumChunks() const { return static_cast<unsigned>(chunks_.size()); }
  const Chunk& GetChunk(unsigned i) const { return chunks_[i]; }
  unsigned GetNumInfluences() const { return static_cast<unsigned>(influences_.size()); }
  const Influence& GetInfluence(unsigned i) const { return influences_[i]; }
  unsigned GetNumAttachmentPoints() const { return static_cast<unsigned>(attachments_.size()); }
  const AttachmentPoint& GetAttachmentPoint(unsigned i) const { return attachments_[i]; }

private:
  bool LoadChunk(const ConfigData& group, Chunk& chunk) const;
  bool LoadInfluence(const ConfigData& group, Influence& influence) const;

  AnsiString fileName_;
  Vector3 position_;
  Quaternion orientation_;
  unsigned maxInfluences_ = 0;
  unsigned maxMatrices_ = 0;
  unsigned maxVertices_ = 0;
  std::vector<Chunk> chunks_;
  std::vector<Influence> influences_;
  std::vector<AttachmentPoint> attachments_;
};

} // namespace Vak
