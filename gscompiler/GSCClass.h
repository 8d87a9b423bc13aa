#pragma once
// One class declared in the root script, as the library writer stores it:
// its bases with their offsets, members, functions and initialiser.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gscompiler/GSCFunction.h"

namespace GSCompiler {

class GSClassSymbol;

class GSCClass {
public:
  struct Base {
    int32_t classIndex;
    int32_t memberOffset;
    int32_t functionOffset;
    bool direct;
  };
  struct Member {
    std::string name;
    int32_t type;
    int32_t classIndex;  // -1 unless its type names a class
    bool isPublic;
    int32_t slot;
  };
  // A function of a base class, which one of this class's may override.
  struct BaseFunction {
    std::string signature;
    int32_t returnType;
    int32_t returnClass;
    int32_t slot;
  };

  GSCClass();

  const GSClassSymbol* symbol = nullptr;
  std::string name;
  int32_t classIndex = -1;
  uint32_t flags = 0;
  int32_t firstMemberSlot = 2;   // s
  int32_t firstFunctionSlot = 0; // f
  int32_t memberCount = 0;       // every member variable, define ones too
  std::vector<Base> bases;
  std::vector<Member> members;   // define constants left out
  std::vector<BaseFunction> baseFunctions;  // depth first along the bases
  std::vector<std::unique_ptr<GSCFunction>> functions;
  // The initialiser's code; its highest temporary is m.
  CodeEmitter initialiser;
  int32_t initialiserTemporaries = 0;
  std::vector<int32_t> referenceMemberSlots;
};

} // namespace GSCompiler
