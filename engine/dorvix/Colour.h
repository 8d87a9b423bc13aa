#pragma once
// A colour of four floats, red, green, blue and alpha.
namespace Vak {

struct Colour {
  float r = 0, g = 0, b = 0, a = 0;
  bool operator==(const Colour&) const = default;
};

} // namespace Vak
