#pragma once
// The camera a view looks through: its view transform takes world space to
// camera space.
#include "engine/kernelx/Matrix4.h"

namespace Vak {

class Camera {
public:
  const Matrix4& GetViewTransform() const { return view_; }
  void SetViewTransform(const Matrix4& view) { view_ = view; }

private:
  Matrix4 view_;
};

} // namespace Vak
