#pragma once
// A kernel whose display shows the bump materials, a view through an
// identity camera, and a comparison of recorded calls.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/dorvix/Camera.h"
#include "engine/dorvix/Display.h"
#include "engine/dorvix/RenderKernel.h"

namespace materials_test {

using Call = Vak::Display::Call;
using Calls = std::vector<Call>;

struct Kernel {
  Kernel() : kernel(nullptr, 1.0f), view(&kernel.GetDisplay()) {
    kernel.Init(nullptr, 0);
    for (int capability : {1, 14, 18}) display().SetCapability(capability, true);
    display().SetNumTextureStages(4);
    view.SetCamera(&camera);
  }
  Vak::Display& display() { return kernel.GetDisplay(); }
  Vak::RenderKernel kernel;
  Vak::Camera camera;
  Vak::View view;
};

inline std::string Describe(const Calls& calls) {
  std::string text;
  for (const Call& call : calls) {
    text += call.name + "(";
    for (double a : call.args) text += std::to_string(a) + " ";
    text += ")\n";
  }
  return text;
}

// Names equal and arguments within float rounding.
inline void ExpectCalls(const Calls& actual, const Calls& expected) {
  bool same = actual.size() == expected.size();
  for (std::size_t i = 0; same && i < actual.size(); ++i) {
    same = actual[i].name == expected[i].name && actual[i].args.size() == expected[i].args.size();
    for (std::size_t j = 0; same && j < actual[i].args.size(); ++j)
      same = std::fabs(actual[i].args[j] - expected[i].args[j]) < 1e-5;
  }
  EXPECT_TRUE(same) << "actual:\n" << Describe(actual) << "expected:\n" << Describe(expected);
}

// The calls whose name starts with `prefix`.
inline Calls Named(const Calls& calls, const std::string& prefix) {
  Calls found;
  for (const Call& call : calls)
    if (call.name.rfind(prefix, 0) == 0) found.push_back(call);
  return found;
}

inline std::vector<double> IdentityArgs() { return Vak::Display::Flatten(Vak::Matrix4()); }

} // namespace materials_test
