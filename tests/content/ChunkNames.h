#pragma once
// The names of a tree's children, in child order.
#include <string>
#include <vector>

#include "content/ACSChunkPtr.h"

inline std::vector<std::string> ChildNames(const ACSChunkPtr& chunk) {
  std::vector<std::string> out;
  for (int i = 0; i < chunk.GetChildCount(); ++i) out.push_back(chunk.GetChildName(i).c_str());
  return out;
}
