#pragma once
// What shows geometry in a view: the transform culling stored for the view
// point it was culled for, which drawing then uses.
#include "engine/kernelx/Matrix4.h"

namespace Vak {

class ViewPoint;

class Geometry {
public:
  virtual ~Geometry() = default;

  void StoreMatrix(const ViewPoint* viewPoint, const Matrix4& transform) {
    storedFor_ = viewPoint;
    stored_ = transform;
  }
  // The transform stored for `viewPoint`, else null.
  const Matrix4* GetStoredMatrix(const ViewPoint* viewPoint) const {
    return storedFor_ != nullptr && storedFor_ == viewPoint ? &stored_ : nullptr;
  }

protected:
  void CopyGeometryState(const Geometry& from) {
    storedFor_ = from.storedFor_;
    stored_ = from.stored_;
  }

private:
  const ViewPoint* storedFor_ = nullptr;
  Matrix4 stored_;
};

} // namespace Vak
