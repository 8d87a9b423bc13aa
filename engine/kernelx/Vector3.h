#pragma once
// A point or direction in 3-D, three packed floats as stored in mesh files.
#include <cmath>

namespace Vak {

struct Vector3 {
  float x = 0, y = 0, z = 0;

  constexpr Vector3() = default;
  constexpr Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

  constexpr Vector3 operator+(const Vector3& o) const { return {x + o.x, y + o.y, z + o.z}; }
  constexpr Vector3 operator-(const Vector3& o) const { return {x - o.x, y - o.y, z - o.z}; }
  constexpr Vector3 operator-() const { return {-x, -y, -z}; }
  constexpr Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
  Vector3& operator+=(const Vector3& o) { return *this = *this + o; }
  Vector3& operator-=(const Vector3& o) { return *this = *this - o; }
  constexpr bool operator==(const Vector3&) const = default;

  constexpr float Dot(const Vector3& o) const { return x * o.x + y * o.y + z * o.z; }
  constexpr Vector3 Cross(const Vector3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
  float Length() const { return std::sqrt(Dot(*this)); }
  // Unchanged when the length is zero.
  Vector3& Normalise() {
    float length = Length();
    if (length > 0) *this = *this * (1.0f / length);
    return *this;
  }
  float operator[](int i) const { return i == 0 ? x : i == 1 ? y : z; }
  float& operator[](int i) { return i == 0 ? x : i == 1 ? y : z; }
};

static_assert(sizeof(Vector3) == 12, "vertex items and file records hold packed vectors");

} // namespace Vak
